// Two people on one shared archive, each with their own viewer, in Chromium: New is each
// person's own, and the Who column says who archived each fax.
//
//   node shared.test.mjs ANN_ADDRESS BOB_ADDRESS
//
// The addresses are the lines that `vexa view` printed for ann and for bob (VEXA_PERSON). The
// archive holds, newest first, A2 and A1 archived by ann and B1 by bob, all New for both.
// Prints one line per check and last "N passed, M failed"; exits 0 only when nothing failed.
import assert from 'node:assert/strict';
import { WAIT, check, stopped, finish, launch, listRows, waitNumbers, waitText, openFax } from './browser.mjs';

const [annAddress, bobAddress] = process.argv.slice(2);
const NUMBERS = ['A2', 'B1', 'A1'];

const browser = await launch();
try {
    // Each person in a browser profile of their own, as on two desks.
    const open = async (address) => {
        const page = await (await browser.createBrowserContext()).newPage();
        await page.goto(address, { waitUntil: 'domcontentloaded', timeout: WAIT });
        await waitNumbers(page, NUMBERS);
        return page;
    };
    const ann = await open(annAddress);
    const bob = await open(bobAddress);
    const idOf = Object.fromEntries((await listRows(ann)).map((row) => [row.number, row.id]));
    const newOnes = async (page) => (await listRows(page)).filter((row) => row.new).map((row) => row.number);
    // The other person's page is read afresh: what their archive says now, not a live update.

    await check('both see the same three New faxes, and who archived each', async () => {
        for (const page of [ann, bob]) {
            await waitText(page, '#new-count', '3 new');
            assert.deepEqual(await newOnes(page), NUMBERS);
            assert.deepEqual((await listRows(page)).map((row) => row.who), ['ann', 'bob', 'ann']);
        }
    });

    await check('ann opens a fax: her count is one less, bob\'s is not and the fax is still New for him', async () => {
        await openFax(ann, idOf.A1);
        await waitText(ann, '#new-count', '2 new');
        await bob.reload({ waitUntil: 'domcontentloaded', timeout: WAIT });
        await waitNumbers(bob, NUMBERS);
        await waitText(bob, '#new-count', '3 new');
        assert.deepEqual(await newOnes(bob), NUMBERS);
    });

    await check('bob marks all as read: his count is 0, ann\'s unchanged', async () => {
        await bob.click('#mark-all-read');
        await waitText(bob, '#new-count', '0 new');
        assert.deepEqual(await newOnes(bob), []);
        await ann.reload({ waitUntil: 'domcontentloaded', timeout: WAIT });
        await waitText(ann, '#detail-title', 'First from Acme');
        await waitText(ann, '#new-count', '2 new');
    });

    await check('ann marks her opened fax unread: her count is back, bob\'s stays 0', async () => {
        await ann.click('#mark-unread');
        await waitText(ann, '#new-count', '3 new');
        await bob.reload({ waitUntil: 'domcontentloaded', timeout: WAIT });
        await waitNumbers(bob, NUMBERS);
        await waitText(bob, '#new-count', '0 new');
    });
} catch (err) {
    stopped(err);
} finally {
    await browser.close();
}
finish();
