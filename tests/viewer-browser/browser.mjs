// What the viewer's browser tests share: the checks and their summary, Chromium through
// puppeteer-core, and the page's helpers that read the list and wait for it.
import assert from 'node:assert/strict';
import puppeteer from 'puppeteer-core';

export const WAIT = 20000;   // a bound for the page to catch up (the suites run two at a time), not a measure
export const LIVE = 2000;    // the viewer's promise: a change shows within 2 s

let passed = 0;
let failed = 0;

// One line per check: "ok - NAME" or "not ok - NAME: why".
export async function check(name, body) {
    try {
        await body();
        passed++;
        console.log('ok - ' + name);
    } catch (err) {
        failed++;
        console.log('not ok - ' + name + ': ' + String(err && err.message || err).split('\n').slice(0, 6).join(' | '));
    }
}

export function stopped(err) {
    failed++;
    console.log('not ok - the browser run stopped: ' + String(err && err.stack || err));
}

// The last line, which the run scripts read; the exit status is 0 only when nothing failed.
export function finish() {
    console.log(`${passed} passed, ${failed} failed`);
    process.exitCode = failed === 0 ? 0 : 1;
}

export function launch() {
    return puppeteer.launch({
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        headless: true,
        args: ['--headless=new', '--no-first-run', '--mute-audio', '--disable-gpu',
               ...(process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : [])],
        defaultViewport: { width: 1366, height: 768 },
    });
}

export async function listRows(page) {
    return page.$$eval('table#rows tbody tr', (trs) => trs.map((tr) => ({
        id: tr.dataset.id,
        new: tr.classList.contains('new'),
        attention: tr.classList.contains('attention'),
        date: (tr.querySelector('.col-date').textContent.match(/\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}/) || [''])[0],
        number: tr.querySelector('.col-number').textContent,
        subject: tr.querySelector('.col-subject').textContent,
        fileName: tr.querySelector('.col-filename').textContent,
        state: tr.querySelector('.col-confirm') ? tr.querySelector('.col-confirm').textContent : null,
        who: tr.querySelector('.col-who') ? tr.querySelector('.col-who').textContent : null,
    })));
}

// Waits until the list shows exactly these Number cells, in this order.
export async function waitNumbers(page, expected, timeout = WAIT) {
    try {
        await page.waitForFunction((want) => {
            const cells = Array.from(document.querySelectorAll('table#rows tbody tr .col-number'));
            const shown = document.getElementById('rows').hidden ? [] : cells.map((td) => td.textContent);
            return JSON.stringify(shown) === want;
        }, { timeout, polling: 50 }, JSON.stringify(expected));
    } catch (err) {
        const shown = (await listRows(page)).map((row) => row.number);
        assert.fail('list shows ' + JSON.stringify(shown) + ', expected ' + JSON.stringify(expected));
    }
}

export async function waitText(page, selector, expected, timeout = WAIT) {
    try {
        await page.waitForFunction((sel, want) => {
            const element = document.querySelector(sel);
            return element !== null && element.textContent === want;
        }, { timeout, polling: 50 }, selector, expected);
    } catch (err) {
        const shown = await page.$eval(selector, (element) => element.textContent).catch(() => '(none)');
        assert.fail(selector + ' shows ' + JSON.stringify(shown) + ', expected ' + JSON.stringify(expected));
    }
}

export async function openFax(page, id) {
    // A check that failed with a fax open leaves it open: the next one starts from the list.
    if (await page.$eval('#detail', (e) => !e.hidden)) await backToList(page);
    // The list is drawn anew whenever the archive changes (live updates): a row found a moment
    // ago may be gone from the document when the click comes, so the click is tried again.
    for (let attempt = 1; ; attempt++) {
        try {
            await page.click(`table#rows tbody tr[data-id="${id}"]`);
            break;
        } catch (err) {
            if (attempt === 3 || !/detached|not clickable/i.test(err.message)) throw err;
        }
    }
    await page.waitForSelector('#detail:not([hidden])', { timeout: WAIT });
    await page.waitForFunction(() => document.getElementById('download').hidden === false, { timeout: WAIT });
}

export async function backToList(page) {
    await page.click('#back');
    await page.waitForSelector('#list-view:not([hidden])', { timeout: WAIT });
}
