/*
 * The archive viewer's page: the received and sent faxes of a Vexa archive, as `vexa view` serves
 * them (GET /api/recv, /api/send, /api/TABLE/ID, /api/version; POST /api/recv/ID/seen).
 *
 * The archive's text comes from strangers' mail, so it reaches the page only through textContent,
 * createTextNode and attribute setters, never as markup; every URL part is encodeURIComponent'ed.
 * The server's Content-Security-Policy forbids inline script and inline style, so looks live in
 * viewer.css as classes and showing or hiding is the `hidden` attribute.
 *
 * Hooks for browser tests (keep them stable):
 *   #tab-recv, #tab-send     the two tabs; the current one has aria-selected="true"
 *   #new-count               "N new": received faxes still New in the whole archive
 *   #search                  words to look for, applied 250 ms after the last key
 *   #since, #until           the date range (<input type=date>), applied the same way
 *   #only-new                received faxes: New ones only
 *   #state                   sent faxes: "" (All), "Unconfirmed", "Successful", "Unsuccessful"
 *   #export                  "Export CSV" for the list and filters shown
 *   table#rows tbody tr      one per fax, newest first; data-id = the row's id; class "new" for a
 *                            received fax still New, class "attention" for a sent fax to send again
 *   #empty                   shown instead of rows when none match
 *   #range, #prev, #next     "rows X-Y of N" and the paging buttons (50 a page)
 *   #detail                  the open fax (hidden while the list shows); #back closes it
 *   #detail-fields           its fields (dt/dd)
 *   #detail img.page         a TIFF fax's pages, alt "Page N", lazily loaded
 *   #detail iframe           a PDF fax
 *   #detail audio            a voice message
 *   #download                "Download FileName"
 *   #status                  what went wrong (a failed request), hidden when all is well
 * The address's hash keeps the tab, filters, page and open fax, so a reload shows the same:
 *   #tab=send&search=invoice&since=2026-01-01&until=2026-01-31&state=Unsuccessful&page=2&open=7
 */
(function () {
    'use strict';

    const PAGE_SIZE = 50;
    const POLL_MS = 1000;
    const TYPING_MS = 250;
    const TABLES = ['recv', 'send'];
    const STATES = ['Unconfirmed', 'Successful', 'Unsuccessful'];
    const DAY = /^\d{4}-\d{2}-\d{2}$/;
    const ROW_ID = /^\d+$/;

    const COLUMNS = {
        recv: [['date', 'Date'], ['number', 'Number'], ['subject', 'Subject'],
               ['description', 'Description'], ['fileName', 'File name']],
        send: [['date', 'Date'], ['number', 'Number'], ['subject', 'Subject'],
               ['description', 'Description'], ['fileName', 'File name'], ['confirm', 'State']],
    };
    const TABLE_NAMES = { recv: 'received faxes', send: 'sent faxes' };

    const $ = (id) => document.getElementById(id);
    const ui = {
        tabs: { recv: $('tab-recv'), send: $('tab-send') },
        newCount: $('new-count'),
        status: $('status'),
        listView: $('list-view'),
        filters: $('filters'),
        search: $('search'),
        since: $('since'),
        until: $('until'),
        onlyNew: $('only-new'),
        onlyNewLabel: $('only-new-label'),
        state: $('state'),
        stateLabel: $('state-label'),
        exportLink: $('export'),
        head: document.querySelector('table#rows thead tr'),
        body: document.querySelector('table#rows tbody'),
        table: $('rows'),
        empty: $('empty'),
        range: $('range'),
        prev: $('prev'),
        next: $('next'),
        detail: $('detail'),
        back: $('back'),
        download: $('download'),
        detailTitle: $('detail-title'),
        detailFields: $('detail-fields'),
        detailBody: $('detail-body'),
    };

    // What the page shows; the address's hash mirrors it.
    const view = {
        tab: 'recv', search: '', since: '', until: '', onlyNew: false, state: '', page: 0, open: null,
    };

    let listSeq = 0;        // only the answer to the latest list request is shown
    let detailSeq = 0;
    let countSeq = 0;
    let knownVersion = null;
    let typingTimer = 0;
    let openedHere = false; // the open fax has its own history entry, so Back can pop it
    let listScroll = 0;
    let followedHash = null;
    const problems = new Map();

    // --- requests -------------------------------------------------------------------------

    class RequestFailed extends Error {
        constructor(status) {
            super('HTTP ' + status);
            this.status = status;
        }
    }

    function query(params) {
        const parts = [];
        for (const [key, value] of Object.entries(params)) {
            if (value === '' || value === null || value === undefined || value === false) continue;
            parts.push(encodeURIComponent(key) + '=' + encodeURIComponent(String(value)));
        }
        return parts.length ? '?' + parts.join('&') : '';
    }

    function itemPath(table, id) {
        return '/' + encodeURIComponent(table) + '/' + encodeURIComponent(String(id));
    }

    async function request(url, options) {
        const response = await fetch(url, Object.assign({
            credentials: 'same-origin',
            cache: 'no-store',
            headers: { Accept: 'application/json' },
        }, options));
        if (!response.ok) throw new RequestFailed(response.status);
        return response.json();
    }

    function failureText(what, err) {
        if (err instanceof RequestFailed) {
            if (err.status === 403) {
                return what + ': access refused. Open the address that vexa view printed again.';
            }
            if (err.status === 404) return what + ': not found in the archive.';
            return what + ': the viewer answered ' + err.message + '.';
        }
        if (err instanceof SyntaxError) return what + ': the viewer sent an answer that is not JSON.';
        return what + ': vexa view does not answer (is it still running?).';
    }

    // Several things can fail at once (the list, live updates, the open fax); each clears only
    // its own message when it works again.
    function setProblem(key, text) {
        if (text) problems.set(key, text); else problems.delete(key);
        const texts = Array.from(problems.values());
        ui.status.textContent = texts.join(' ');
        ui.status.hidden = texts.length === 0;
        ui.status.classList.toggle('error', texts.length > 0);
    }

    // --- the address's hash ---------------------------------------------------------------

    function readHash() {
        const params = new URLSearchParams(location.hash.replace(/^#/, ''));
        const tab = params.get('tab');
        const state = params.get('state');
        const since = params.get('since') || '';
        const until = params.get('until') || '';
        const page = Number.parseInt(params.get('page') || '', 10);
        const open = params.get('open') || '';
        view.tab = TABLES.includes(tab) ? tab : 'recv';
        view.search = params.get('search') || '';
        view.since = DAY.test(since) ? since : '';
        view.until = DAY.test(until) ? until : '';
        view.onlyNew = params.get('new') === '1';
        view.state = STATES.includes(state) ? state : '';
        view.page = Number.isFinite(page) && page > 1 ? page - 1 : 0;
        view.open = ROW_ID.test(open) ? open : null;
    }

    function hashText() {
        return query({
            tab: view.tab === 'recv' ? '' : view.tab,
            search: view.search,
            since: view.since,
            until: view.until,
            new: view.tab === 'recv' && view.onlyNew ? '1' : '',
            state: view.tab === 'send' ? view.state : '',
            page: view.page > 0 ? view.page + 1 : '',
            open: view.open,
        }).replace(/^\?/, '');
    }

    function writeHash(push) {
        const text = hashText();
        const target = text ? '#' + text : location.pathname + location.search;
        if ((location.hash.replace(/^#/, '')) === text) return;
        if (push) history.pushState(null, '', target); else history.replaceState(null, '', target);
        followedHash = location.hash;
    }

    // --- the list -------------------------------------------------------------------------

    function filterParams() {
        return {
            search: view.search.trim(),
            since: view.since,
            until: view.until,
            new: view.tab === 'recv' && view.onlyNew ? '1' : '',
            state: view.tab === 'send' ? view.state : '',
        };
    }

    function showControls() {
        for (const table of TABLES) {
            const current = table === view.tab;
            ui.tabs[table].setAttribute('aria-selected', current ? 'true' : 'false');
            ui.tabs[table].classList.toggle('current', current);
        }
        ui.listView.setAttribute('aria-labelledby', ui.tabs[view.tab].id);
        if (ui.search.value !== view.search) ui.search.value = view.search;
        if (ui.since.value !== view.since) ui.since.value = view.since;
        if (ui.until.value !== view.until) ui.until.value = view.until;
        ui.onlyNew.checked = view.onlyNew;
        ui.state.value = view.state;
        ui.onlyNewLabel.hidden = view.tab !== 'recv';
        ui.stateLabel.hidden = view.tab !== 'send';
        ui.exportLink.href = '/export/' + encodeURIComponent(view.tab) + '.csv' + query(filterParams());
        ui.table.classList.toggle('send', view.tab === 'send');

        const head = COLUMNS[view.tab].map(([, label]) => {
            const th = document.createElement('th');
            th.scope = 'col';
            th.textContent = label;
            return th;
        });
        ui.head.replaceChildren(...head);
    }

    // Bidirectional controls go: a stranger's "x<U+202E>fdp.exe" would show as "xexe.pdf".
    function text(value) {
        return value === null || value === undefined ? '' : String(value).replace(/[\u200e\u200f\u202a-\u202e\u2066-\u2069]/g, '');
    }

    function badge(label, className) {
        const span = document.createElement('span');
        span.className = 'badge ' + className;
        span.textContent = label;
        return span;
    }

    function stateClass(state) {
        return STATES.includes(state) ? 'state-' + state.toLowerCase() : 'state-other';
    }

    function rowElement(table, row) {
        const tr = document.createElement('tr');
        tr.dataset.id = text(row.id);
        tr.tabIndex = 0;
        if (table === 'recv' && row.new) tr.classList.add('new');
        if (table === 'send' && row.attention) tr.classList.add('attention');
        for (const [key, label] of COLUMNS[table]) {
            const td = document.createElement('td');
            td.className = 'col-' + key.toLowerCase();
            td.dataset.label = label;
            if (key === 'confirm') {
                td.append(badge(text(row.confirm) || 'Unknown', stateClass(row.confirm)));
                if (row.attention) td.append(' ', badge('Send again', 'again'));
            } else {
                if (key === 'date' && table === 'recv' && row.new) {
                    const marker = badge('New', 'marker');
                    marker.title = 'Not opened yet';
                    td.append(marker, ' ');
                }
                td.append(document.createTextNode(text(row[key])));
            }
            tr.append(td);
        }
        return tr;
    }

    function showRows(table, data) {
        const rows = Array.isArray(data.rows) ? data.rows : [];
        const total = Number(data.total) || 0;
        ui.body.replaceChildren(...rows.map((row) => rowElement(table, row)));
        ui.empty.hidden = rows.length > 0;
        ui.table.hidden = rows.length === 0;
        const offset = view.page * PAGE_SIZE;
        const first = rows.length ? offset + 1 : 0;
        const last = offset + rows.length;
        ui.range.textContent = total === 0 ? 'rows 0 of 0' : 'rows ' + first + '-' + last + ' of ' + total;
        ui.prev.disabled = view.page === 0;
        ui.next.disabled = last >= total;
    }

    function showNewCount(count) {
        const n = Number(count) || 0;
        ui.newCount.textContent = n + ' new';
        ui.newCount.classList.toggle('some', n > 0);
    }

    async function loadList() {
        const seq = ++listSeq;
        const table = view.tab;
        const url = '/api/' + encodeURIComponent(table) +
            query(Object.assign(filterParams(), { offset: view.page * PAGE_SIZE, limit: PAGE_SIZE }));
        ui.table.setAttribute('aria-busy', 'true');
        try {
            const data = await request(url);
            if (seq !== listSeq) return;
            const total = Number(data.total) || 0;
            // Rows may have gone since the page was chosen (another filter, a reload): show the
            // last page that has any instead of an empty one.
            if (view.page > 0 && view.page * PAGE_SIZE >= total) {
                view.page = Math.max(0, Math.ceil(total / PAGE_SIZE) - 1);
                writeHash(false);
                loadList();
                return;
            }
            showRows(table, data);
            if (table === 'recv' && data.newCount !== undefined) showNewCount(data.newCount);
            setProblem('list', '');
        } catch (err) {
            if (seq !== listSeq) return;
            setProblem('list', failureText('Could not load the ' + TABLE_NAMES[table], err));
        } finally {
            if (seq === listSeq) ui.table.removeAttribute('aria-busy');
        }
    }

    // The sent list does not carry the count of new received faxes, so it is asked for alone.
    async function loadNewCount() {
        const seq = ++countSeq;
        try {
            const data = await request('/api/recv' + query({ offset: 0, limit: 1 }));
            if (seq === countSeq) showNewCount(data.newCount);
        } catch (err) {
            // The list's own request reports trouble with the viewer; the count just stays.
        }
    }

    function refresh() {
        loadList();
        if (view.tab !== 'recv') loadNewCount();
    }

    // --- the open fax ---------------------------------------------------------------------

    function field(name, value) {
        const dt = document.createElement('dt');
        dt.textContent = name;
        const dd = document.createElement('dd');
        if (value instanceof Node) dd.append(value); else dd.textContent = text(value);
        return [dt, dd];
    }

    function paragraph(words, className) {
        const p = document.createElement('p');
        if (className) p.className = className;
        p.textContent = words;
        return p;
    }

    function pageImage(table, id, n) {
        const img = document.createElement('img');
        img.className = 'page';
        img.loading = 'lazy';
        img.decoding = 'async';
        img.alt = 'Page ' + n;
        img.src = '/page' + itemPath(table, id) + '/' + n + '.png';
        img.addEventListener('error', () => {
            img.replaceWith(paragraph('Page ' + n + ' could not be shown.', 'note'));
        }, { once: true });
        return img;
    }

    function fileBody(table, id, data) {
        const row = data.row || {};
        const inline = '/file' + itemPath(table, id) + query({ inline: 1 });
        switch (data.kind) {
            case 'tiff': {
                const pages = Number(data.pages) || 0;
                if (pages < 1) return [paragraph('No page of this fax could be read.', 'note')];
                const list = [];
                for (let n = 1; n <= pages; n++) list.push(pageImage(table, id, n));
                return list;
            }
            case 'pdf': {
                const frame = document.createElement('iframe');
                frame.src = inline;
                frame.title = text(row.fileName) || 'The fax';
                return [frame];
            }
            case 'audio': {
                const audio = document.createElement('audio');
                audio.controls = true;
                audio.preload = 'metadata';
                audio.src = inline;
                return [audio];
            }
            default:
                return [paragraph('This file cannot be shown here: download it to open it.', 'note')];
        }
    }

    function showDetail(table, id, data) {
        const row = data.row || {};
        ui.detailTitle.textContent = text(row.subject) || '(no subject)';
        const fields = [
            ...field(table === 'recv' ? 'Received' : 'Sent', row.date),
            ...field('Number', row.number),
            ...field('Subject', row.subject),
            ...field('Description', row.description),
            ...field('File name', row.fileName),
        ];
        if (table === 'send') {
            const state = document.createDocumentFragment();
            state.append(badge(text(row.confirm) || 'Unknown', stateClass(row.confirm)));
            if (row.attention) state.append(' ', badge('Send again', 'again'));
            fields.push(...field('State', state));
        }
        ui.detailFields.replaceChildren(...fields);
        ui.download.href = '/file' + itemPath(table, id);
        ui.download.textContent = 'Download ' + (text(row.fileName) || 'the file');
        ui.download.hidden = false;
        ui.detailBody.replaceChildren(...fileBody(table, id, data));
    }

    function showDetailView(shown) {
        if (shown && ui.detail.hidden) listScroll = window.scrollY;
        ui.detail.hidden = !shown;
        ui.listView.hidden = shown;
        if (!shown) window.scrollTo(0, listScroll);
    }

    async function markSeen(id) {
        try {
            await request('/api/recv/' + encodeURIComponent(String(id)) + '/seen', { method: 'POST' });
            setProblem('seen', '');
            refresh();
        } catch (err) {
            setProblem('seen', failureText('Could not mark the fax as seen', err));
        }
    }

    async function loadDetail() {
        const seq = ++detailSeq;
        const table = view.tab;
        const id = view.open;
        ui.detailTitle.textContent = 'Loading…';
        ui.detailFields.replaceChildren();
        ui.detailBody.replaceChildren();
        ui.download.hidden = true;
        showDetailView(true);
        window.scrollTo(0, 0);
        try {
            const data = await request('/api' + itemPath(table, id));
            if (seq !== detailSeq) return;
            showDetail(table, id, data);
            setProblem('detail', '');
            if (table === 'recv' && data.row && data.row.new) markSeen(id);
        } catch (err) {
            if (seq !== detailSeq) return;
            ui.detailTitle.textContent = 'Fax ' + id;
            setProblem('detail', failureText('Could not open fax ' + id, err));
        }
    }

    function openFax(id) {
        view.open = String(id);
        openedHere = true;
        writeHash(true);
        loadDetail();
    }

    function closeFax() {
        if (view.open === null) return;
        if (openedHere) {
            // Its own history entry: going back there keeps the browser's Back button honest.
            history.back();
            return;
        }
        view.open = null;
        ++detailSeq;
        setProblem('detail', '');
        writeHash(false);
        showDetailView(false);
    }

    // --- live updates ---------------------------------------------------------------------

    async function poll() {
        try {
            const data = await request('/api/version');
            setProblem('poll', '');
            if (knownVersion !== null && data.version !== knownVersion) refresh();
            knownVersion = data.version;
        } catch (err) {
            setProblem('poll', failureText('Live updates stopped', err));
        } finally {
            window.setTimeout(poll, POLL_MS);
        }
    }

    // --- wiring ---------------------------------------------------------------------------

    function applyFilters() {
        window.clearTimeout(typingTimer);
        view.page = 0;
        writeHash(false);
        showControls();
        loadList();
    }

    function typed() {
        view.search = ui.search.value;
        view.since = ui.since.value;
        view.until = ui.until.value;
        window.clearTimeout(typingTimer);
        typingTimer = window.setTimeout(applyFilters, TYPING_MS);
    }

    function chooseTab(table) {
        if (view.tab === table && view.open === null) return;
        view.tab = table;
        view.page = 0;
        view.open = null;
        openedHere = false;
        ++detailSeq;
        setProblem('detail', '');
        writeHash(false);
        showDetailView(false);
        ui.body.replaceChildren();
        showControls();
        loadList();
    }

    function turnPage(step) {
        view.page = Math.max(0, view.page + step);
        writeHash(false);
        loadList();
        ui.listView.scrollIntoView({ block: 'start' });
    }

    function rowFrom(event) {
        const tr = event.target.closest('tr[data-id]');
        return tr && ui.body.contains(tr) ? tr.dataset.id : null;
    }

    // The address changed from outside (Back, Forward, an edited hash): show what it says.
    function followAddress() {
        // Back fires both popstate and hashchange: the second has nothing new to show.
        if (location.hash === followedHash) return;
        followedHash = location.hash;
        const before = JSON.stringify([view.tab, filterParams(), view.page]);
        readHash();
        openedHere = false;
        showControls();
        if (JSON.stringify([view.tab, filterParams(), view.page]) !== before) loadList();
        if (view.open !== null) {
            loadDetail();
        } else {
            ++detailSeq;
            setProblem('detail', '');
            showDetailView(false);
        }
    }

    function start() {
        ui.tabs.recv.addEventListener('click', () => chooseTab('recv'));
        ui.tabs.send.addEventListener('click', () => chooseTab('send'));
        ui.search.addEventListener('input', typed);
        ui.since.addEventListener('input', typed);
        ui.until.addEventListener('input', typed);
        ui.since.addEventListener('change', typed);
        ui.until.addEventListener('change', typed);
        ui.onlyNew.addEventListener('change', () => { view.onlyNew = ui.onlyNew.checked; applyFilters(); });
        ui.state.addEventListener('change', () => { view.state = ui.state.value; applyFilters(); });
        ui.filters.addEventListener('submit', (event) => {
            event.preventDefault();
            view.search = ui.search.value;
            view.since = ui.since.value;
            view.until = ui.until.value;
            applyFilters();
        });
        ui.prev.addEventListener('click', () => turnPage(-1));
        ui.next.addEventListener('click', () => turnPage(1));
        ui.body.addEventListener('click', (event) => {
            const id = rowFrom(event);
            if (id !== null) openFax(id);
        });
        ui.body.addEventListener('keydown', (event) => {
            if (event.key !== 'Enter' && event.key !== ' ') return;
            const id = rowFrom(event);
            if (id === null) return;
            event.preventDefault();
            openFax(id);
        });
        ui.back.addEventListener('click', closeFax);
        document.addEventListener('keydown', (event) => {
            if (event.key === 'Escape' && !ui.detail.hidden) closeFax();
        });
        window.addEventListener('popstate', followAddress);
        window.addEventListener('hashchange', followAddress);

        readHash();
        followedHash = location.hash;
        showControls();
        loadList();
        if (view.tab !== 'recv') loadNewCount();
        if (view.open !== null) loadDetail();
        poll();
    }

    start();
}());
