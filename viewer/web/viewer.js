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
 *   #new-count               "N new": received faxes still New (for the person asking)
 *   #search                  words to look for, applied 250 ms after the last key
 *   #since, #until           the date range as YYYY-MM-DD text, applied the same way when valid
 *   #only-new                received faxes: New ones only
 *   #state                   sent faxes: "" (All), "Unconfirmed", "Successful", "Unsuccessful"
 *   #mark-all-read           received faxes: every fax the filters select is no longer New
 *   #export                  "Export CSV" for the list, filters and order shown
 *   #time-zone               "Times in ZONE", as the viewer names the zone of its dates
 *   table#rows thead th      one per column, aria-sort on each; button.sort[data-sort] orders by it
 *                            (again: the other direction)
 *   table#rows tbody tr      one per fax in the order chosen; data-id = the row's id; class "new"
 *                            for a received fax still New, "attention" for a sent fax to send again
 *   #empty                   shown instead of rows when none match
 *   #range, #prev, #next     "rows X-Y of N" and the paging buttons (50 a page), under the list
 *   #range-top, #first, #prev-top, #page-jump, #page-count, #next-top, #last   the same above it
 *   #detail                  the open fax (hidden while the list shows); #back closes it
 *   #prev-fax, #next-fax     the fax before or after the open one in the list (also the left and
 *                            right arrow keys)
 *   #mark-unread             a received fax: New again ("Mark read" undoes it)
 *   #print                   a TIFF fax: prints its pages, one a sheet
 *   #detail-fields           its fields (dt/dd)
 *   #page-tools, #page-of    a TIFF fax: "page N of M", #zoom-width, #zoom-page, #zoom-actual
 *                            (aria-pressed), #rotate (a quarter turn clockwise of the page in
 *                            view; each page keeps its own turn while the fax is open)
 *   #thumbs button           a long TIFF fax: one small picture a page, which shows that page
 *   #detail img.page         a TIFF fax's pages, alt "Page N", lazily loaded; turned pages show
 *                            as a canvas.page-turned beside the hidden image
 *   #detail iframe           a PDF fax
 *   #detail audio            a voice message
 *   #download                "Download FileName"
 *   #status                  what went wrong (a failed request), hidden when all is well
 * The address's hash keeps the tab, filters, order, page and open fax, so a reload shows the same:
 *   #tab=send&search=invoice&since=2026-01-01&until=2026-01-31&state=Unsuccessful&sort=number&dir=asc&page=2&open=7
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

    // [the row's field, the column's name, the list's order by it]
    const COLUMNS = {
        recv: [['date', 'Date', 'date'], ['number', 'Number', 'number'], ['subject', 'Subject', 'subject'],
               ['description', 'Description', 'description'], ['fileName', 'File name', 'file'],
               ['new', 'State', 'state']],
        send: [['date', 'Date', 'date'], ['number', 'Number', 'number'], ['subject', 'Subject', 'subject'],
               ['description', 'Description', 'description'], ['fileName', 'File name', 'file'],
               ['confirm', 'State', 'state']],
    };
    const WHO = ['who', 'Who', 'who'];
    const SORTS = ['date', 'number', 'subject', 'description', 'file', 'state', 'who'];
    const NO_DESCRIPTION = '(no description)';
    const ZOOMS = ['width', 'page', 'actual'];
    const THUMBS_FROM = 3;   // pages from which a fax gets thumbnails
    const PRINT_HEAD_MM = 8; // the line above each printed page
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
        rangeTop: $('range-top'),
        timeZone: $('time-zone'),
        first: $('first'),
        prevTop: $('prev-top'),
        pageJump: $('page-jump'),
        pageCount: $('page-count'),
        nextTop: $('next-top'),
        last: $('last'),
        markAllRead: $('mark-all-read'),
        detail: $('detail'),
        back: $('back'),
        prevFax: $('prev-fax'),
        nextFax: $('next-fax'),
        markUnread: $('mark-unread'),
        print: $('print'),
        pageTools: $('page-tools'),
        pageOf: $('page-of'),
        zoomButtons: Array.from(document.querySelectorAll('#page-tools [data-zoom]')),
        rotate: $('rotate'),
        thumbs: $('thumbs'),
        download: $('download'),
        detailTitle: $('detail-title'),
        detailFields: $('detail-fields'),
        detailBody: $('detail-body'),
    };

    // What the page shows; the address's hash mirrors it.
    const view = {
        tab: 'recv', search: '', since: '', until: '', onlyNew: false, state: '', sort: 'date', dir: 'desc',
        page: 0, open: null,
    };
    // The list shown last: the open fax's neighbours come from it.
    const listed = { table: null, ids: [], total: 0 };
    let shared = false;     // the shared archive: rows say who archived them
    // The open fax's pages: how they are shown, and what printing needs to know. A page scanned
    // upside down is usually one of many, so each page has its own turn (turns[n - 1], degrees)
    // and its own printed sheet (sheets: page number -> the rules that shape it).
    const pages = { zoom: 'width', turns: [], count: 0, frames: [], row: null, sheets: new Map() };

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
        constructor(status, detail) {
            super('HTTP ' + status);
            this.status = status;
            this.detail = detail;
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
        if (!response.ok) {
            // The viewer says why in a line of text; kept short, and shown only as text.
            const why = await response.text().catch(() => '');
            throw new RequestFailed(response.status, text(why).trim().slice(0, 200));
        }
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

    // An action the user asked for: the viewer's own words say what went wrong.
    function actionFailureText(what, err) {
        if (err instanceof RequestFailed && err.status !== 403) {
            return what + ': the viewer answered ' + err.message + (err.detail ? ' (' + err.detail + ')' : '') + '.';
        }
        return failureText(what, err);
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
        const sort = params.get('sort');
        view.tab = TABLES.includes(tab) ? tab : 'recv';
        view.search = params.get('search') || '';
        view.since = DAY.test(since) ? since : '';
        view.until = DAY.test(until) ? until : '';
        view.onlyNew = params.get('new') === '1';
        view.state = STATES.includes(state) ? state : '';
        view.page = Number.isFinite(page) && page > 1 ? page - 1 : 0;
        view.open = ROW_ID.test(open) ? open : null;
        view.sort = SORTS.includes(sort) ? sort : 'date';
        view.dir = params.get('dir') === 'asc' || (params.get('dir') !== 'desc' && view.sort !== 'date') ? 'asc' : 'desc';
    }

    // A column is first ordered the way people read it: dates newest first, text from A.
    function firstDirection(sort) {
        return sort === 'date' ? 'desc' : 'asc';
    }

    function hashText() {
        return query({
            tab: view.tab === 'recv' ? '' : view.tab,
            search: view.search,
            since: view.since,
            until: view.until,
            new: view.tab === 'recv' && view.onlyNew ? '1' : '',
            state: view.tab === 'send' ? view.state : '',
            sort: view.sort === 'date' && view.dir === 'desc' ? '' : view.sort,
            dir: view.sort === 'date' && view.dir === 'desc' ? '' : view.dir,
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

    function orderParams() {
        return { sort: view.sort, dir: view.dir };
    }

    function columns() {
        return shared ? [...COLUMNS[view.tab], WHO] : COLUMNS[view.tab];
    }

    function showHead() {
        const head = columns().map(([, label, sort]) => {
            const th = document.createElement('th');
            th.scope = 'col';
            const current = view.sort === sort;
            th.setAttribute('aria-sort', current ? (view.dir === 'asc' ? 'ascending' : 'descending') : 'none');
            const button = document.createElement('button');
            button.type = 'button';
            button.className = 'sort';
            button.dataset.sort = sort;
            button.append(label);
            const arrow = document.createElement('span');
            arrow.className = 'arrow';
            arrow.setAttribute('aria-hidden', 'true');
            arrow.textContent = current ? (view.dir === 'asc' ? '▲' : '▼') : '';
            button.append(arrow);
            th.append(button);
            return th;
        });
        ui.head.replaceChildren(...head);
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
        ui.markAllRead.hidden = view.tab !== 'recv';
        // The export comes in the list's order; the usual one (newest first) goes unsaid.
        const usual = view.sort === 'date' && view.dir === 'desc';
        ui.exportLink.href = '/export/' + encodeURIComponent(view.tab) + '.csv' +
            query(Object.assign(filterParams(), usual ? {} : orderParams()));
        ui.table.classList.toggle('send', view.tab === 'send');
        for (const input of [ui.since, ui.until]) input.removeAttribute('aria-invalid');
        showHead();
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
        for (const [key, label] of columns()) {
            const td = document.createElement('td');
            td.className = 'col-' + key.toLowerCase();
            td.dataset.label = label;
            if (key === 'confirm') {
                td.append(badge(text(row.confirm) || 'Unknown', stateClass(row.confirm)));
                if (row.attention) td.append(' ', againNote());
            } else if (key === 'new') {
                if (row.new) {
                    const marker = badge('New', 'marker');
                    marker.title = 'Not opened yet';
                    td.append(marker);
                } else {
                    td.append(dimmed('Opened'));
                }
            } else {
                const value = text(row[key]);
                // The archive's own words for a fax sent without one: shown as such, not as text.
                if (key === 'description' && value === NO_DESCRIPTION) td.append(dimmed(value));
                else td.append(document.createTextNode(value));
                if (value.length > 30) td.title = value;
            }
            tr.append(td);
        }
        return tr;
    }

    function dimmed(words) {
        const span = document.createElement('span');
        span.className = 'dim';
        span.textContent = words;
        return span;
    }

    // A sent fax to send again: a remark on its state, not a button.
    function againNote() {
        const span = document.createElement('span');
        span.className = 'again';
        span.textContent = 'Send again';
        return span;
    }

    function showRows(table, data) {
        const rows = Array.isArray(data.rows) ? data.rows : [];
        const total = Number(data.total) || 0;
        if ((data.shared === true) !== shared) {
            shared = data.shared === true;
            showHead();
        }
        const focused = document.activeElement && ui.body.contains(document.activeElement)
            ? document.activeElement.dataset.id : null;
        ui.body.replaceChildren(...rows.map((row) => rowElement(table, row)));
        // A redraw by a live update keeps the keyboard's place in the list.
        if (focused) focusRow(focused);
        listed.table = table;
        listed.ids = rows.map((row) => text(row.id));
        listed.total = total;
        ui.empty.hidden = rows.length > 0;
        ui.table.hidden = rows.length === 0;
        const offset = view.page * PAGE_SIZE;
        const first = rows.length ? offset + 1 : 0;
        const last = offset + rows.length;
        const range = total === 0 ? 'rows 0 of 0' : 'rows ' + count(first) + '-' + count(last) + ' of ' + count(total);
        ui.range.textContent = range;
        ui.rangeTop.textContent = range;
        const pageCount = Math.max(1, Math.ceil(total / PAGE_SIZE));
        ui.pageCount.textContent = count(pageCount);
        if (document.activeElement !== ui.pageJump) ui.pageJump.value = String(view.page + 1);
        ui.prev.disabled = ui.prevTop.disabled = ui.first.disabled = view.page === 0;
        ui.next.disabled = ui.nextTop.disabled = ui.last.disabled = last >= total;
        if (typeof data.timeZone === 'string' && data.timeZone) {
            ui.timeZone.textContent = 'Times in ' + text(data.timeZone);
        }
        showFaxSteps();
    }

    // "20,000": the same grouping whatever the browser's language, as the dates are ISO.
    function count(n) {
        return n.toLocaleString('en-US');
    }

    function showNewCount(value) {
        const n = Number(value) || 0;
        ui.newCount.textContent = n + ' new';
        ui.newCount.classList.toggle('some', n > 0);
    }

    async function loadList() {
        const seq = ++listSeq;
        const table = view.tab;
        const url = '/api/' + encodeURIComponent(table) +
            query(Object.assign(filterParams(), orderParams(), { offset: view.page * PAGE_SIZE, limit: PAGE_SIZE }));
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
                return loadList();
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

    // A TIFF page: its image, a canvas that shows it turned, and the line printed above it.
    function pageFrame(table, id, n, count, row) {
        const frame = document.createElement('figure');
        frame.className = 'page-frame';
        frame.dataset.page = String(n);
        const head = paragraph([text(row.number), text(row.date), text(row.subject) || '(no subject)',
                                'page ' + n + ' of ' + count].filter(Boolean).join(' · '), 'print-head');
        const img = document.createElement('img');
        img.className = 'page';
        img.loading = 'lazy';
        img.decoding = 'async';
        img.alt = 'Page ' + n;
        img.src = '/page' + itemPath(table, id) + '/' + n + '.png';
        const canvas = document.createElement('canvas');
        canvas.className = 'page-turned';
        canvas.setAttribute('role', 'img');
        canvas.setAttribute('aria-label', 'Page ' + n + ', turned');
        canvas.hidden = true;
        img.addEventListener('error', () => {
            frame.replaceChildren(paragraph('Page ' + n + ' could not be shown.', 'note'));
        }, { once: true });
        img.addEventListener('load', () => {
            drawTurned(frame);
            fitSheet(frame);
        });
        frame.append(head, img, canvas);
        return frame;
    }

    function thumbnail(table, id, n, frame) {
        const button = document.createElement('button');
        button.type = 'button';
        button.className = 'thumb';
        button.setAttribute('aria-label', 'Show page ' + n);
        const img = document.createElement('img');
        img.loading = 'lazy';
        img.decoding = 'async';
        img.alt = '';
        img.src = '/page' + itemPath(table, id) + '/' + n + '.png';
        const label = document.createElement('span');
        label.textContent = String(n);
        button.append(img, label);
        button.addEventListener('click', () => frame.scrollIntoView({ block: 'start' }));
        return button;
    }

    function fileBody(table, id, data) {
        const row = data.row || {};
        const inline = '/file' + itemPath(table, id) + query({ inline: 1 });
        switch (data.kind) {
            case 'tiff': {
                const count = Number(data.pages) || 0;
                if (count < 1) return [paragraph('No page of this fax could be read.', 'note')];
                const list = [];
                for (let n = 1; n <= count; n++) list.push(pageFrame(table, id, n, count, row));
                pages.count = count;
                pages.frames = list;
                if (count >= THUMBS_FROM) {
                    ui.thumbs.replaceChildren(...list.map((frame, i) => thumbnail(table, id, i + 1, frame)));
                    ui.thumbs.hidden = false;
                }
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

    // --- the open fax's pages: which one shows, zoom, turn, print ---------------------------

    // The page that holds the upper third of the window is the one being read.
    function currentPage() {
        const line = window.innerHeight / 3;
        let current = 1;
        for (const frame of pages.frames) {
            if (frame.getBoundingClientRect().top <= line) current = Number(frame.dataset.page);
        }
        return current;
    }

    function showPageOf() {
        if (pages.count < 1) return;
        const words = 'page ' + currentPage() + ' of ' + pages.count;
        if (ui.pageOf.textContent !== words) ui.pageOf.textContent = words;
    }

    function showZoom() {
        for (const zoom of ZOOMS) ui.detailBody.classList.toggle('zoom-' + zoom, pages.zoom === zoom);
        for (const button of ui.zoomButtons) {
            button.setAttribute('aria-pressed', button.dataset.zoom === pages.zoom ? 'true' : 'false');
        }
    }

    function turnOf(frame) {
        return pages.turns[Number(frame.dataset.page) - 1] || 0;
    }

    // A turned page is drawn on its canvas; the image stays for the unturned view.
    function drawTurned(frame) {
        const img = frame.querySelector('img.page');
        const canvas = frame.querySelector('canvas.page-turned');
        if (!img || !canvas) return;
        const turn = turnOf(frame);
        if (turn === 0) {
            img.hidden = false;
            canvas.hidden = true;
            return;
        }
        img.loading = 'eager';  // a hidden lazy image would never load
        if (!img.complete || img.naturalWidth === 0) return;  // its load event comes back here
        const w = img.naturalWidth;
        const h = img.naturalHeight;
        const across = turn % 180 !== 0;
        canvas.width = across ? h : w;
        canvas.height = across ? w : h;
        const context = canvas.getContext('2d');
        context.setTransform(1, 0, 0, 1, 0, 0);
        context.translate(canvas.width / 2, canvas.height / 2);
        context.rotate(turn * Math.PI / 180);
        context.drawImage(img, -w / 2, -h / 2);
        img.hidden = true;
        canvas.hidden = false;
    }

    function sheetRules() {
        const sheet = Array.from(document.styleSheets).find((s) => /\/viewer\.css$/.test(s.href || ''));
        return sheet || null;
    }

    function dropSheet(n) {
        const sheet = sheetRules();
        for (const rule of pages.sheets.get(n) || []) {
            const at = sheet ? Array.from(sheet.cssRules).indexOf(rule) : -1;
            if (at >= 0) sheet.deleteRule(at);
        }
        pages.sheets.delete(n);
    }

    // Each printed sheet has its page's own shape (turned as shown) with room for the line above
    // it, so each fax page fills one sheet and nothing spills onto another: a named page per fax
    // page. The first page's shape is also the sheet of pages not loaded yet.
    function fitSheet(frame) {
        // A page of a fax closed before its picture came shapes no sheet of the one open now.
        if (!pages.frames.includes(frame)) return;
        const n = Number(frame.dataset.page);
        dropSheet(n);
        const img = frame.querySelector('img.page');
        const sheet = sheetRules();
        if (!img || !sheet || !img.naturalWidth) return;
        const across = turnOf(frame) % 180 !== 0;
        const w = across ? img.naturalHeight : img.naturalWidth;
        const h = across ? img.naturalWidth : img.naturalHeight;
        const width = w > h ? 297 : 210;
        const size = 'size: ' + width + 'mm ' + (Math.ceil(width * h / w) + PRINT_HEAD_MM + 2) + 'mm; margin: 0;';
        const texts = ['@page fax-page-' + n + ' { ' + size + ' }',
                       '.page-frame[data-page="' + n + '"] { page: fax-page-' + n + '; }'];
        if (n === 1) texts.push('@page { ' + size + ' }');
        pages.sheets.set(n, texts.map((rule) => sheet.cssRules[sheet.insertRule(rule, sheet.cssRules.length)]));
    }

    // Pages not scrolled to are not loaded yet (lazy): printing waits for every one.
    async function printFax() {
        const images = pages.frames.map((frame) => frame.querySelector('img.page')).filter(Boolean);
        for (const img of images) img.loading = 'eager';
        await Promise.all(images.map((img) => img.decode().catch(() => {})));
        for (const frame of pages.frames) {
            drawTurned(frame);
            fitSheet(frame);
        }
        window.print();
    }

    function clearPages() {
        for (const n of Array.from(pages.sheets.keys())) dropSheet(n);
        pages.count = 0;
        pages.frames = [];
        pages.turns = [];
        ui.pageTools.hidden = true;
        ui.print.hidden = true;
        ui.thumbs.hidden = true;
        ui.thumbs.replaceChildren();
        ui.pageOf.textContent = '';
    }

    // --- the open fax ---------------------------------------------------------------------

    function showDetail(table, id, data) {
        const row = data.row || {};
        pages.row = row;
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
            if (row.attention) state.append(' ', againNote());
            fields.push(...field('State', state));
        }
        if (shared || (typeof row.who === 'string' && row.who)) {
            fields.push(...field(table === 'recv' ? 'Mailbox of' : 'Sent by', row.who));
        }
        ui.detailFields.replaceChildren(...fields);
        ui.download.href = '/file' + itemPath(table, id);
        ui.download.textContent = 'Download ' + (text(row.fileName) || 'the file');
        ui.download.hidden = false;
        ui.detailBody.replaceChildren(...fileBody(table, id, data));
        if (pages.count > 0) {
            ui.pageTools.hidden = false;
            ui.print.hidden = false;
            showZoom();
            showPageOf();
        }
        ui.markUnread.hidden = table !== 'recv';
        ui.markUnread.textContent = 'Mark unread';
    }

    function showDetailView(shown) {
        if (shown && ui.detail.hidden) listScroll = window.scrollY;
        ui.detail.hidden = !shown;
        ui.listView.hidden = shown;
        if (!shown) {
            clearPages();
            window.scrollTo(0, listScroll);
        }
    }

    async function markSeen(id) {
        try {
            await request('/api/recv/' + encodeURIComponent(String(id)) + '/seen', { method: 'POST' });
            setProblem('seen', '');
            refresh();
            return true;
        } catch (err) {
            setProblem('seen', failureText('Could not mark the fax as seen', err));
            return false;
        }
    }

    // "Mark unread" makes the open fax New again; pressed once more, it is read after all.
    async function toggleUnread() {
        const id = view.open;
        if (id === null || view.tab !== 'recv') return;
        if (ui.markUnread.textContent === 'Mark read') {
            if (await markSeen(id) && view.open === id) ui.markUnread.textContent = 'Mark unread';
            return;
        }
        try {
            await request('/api/recv/' + encodeURIComponent(id) + '/unseen', { method: 'POST' });
            setProblem('seen', '');
            if (view.open === id) ui.markUnread.textContent = 'Mark read';
            refresh();
        } catch (err) {
            setProblem('seen', actionFailureText('Could not mark the fax unread', err));
        }
    }

    async function markAllRead() {
        const filters = filterParams();
        delete filters.state;
        try {
            await request('/api/recv/seen-all' + query(filters), { method: 'POST' });
            setProblem('seen', '');
            refresh();
        } catch (err) {
            setProblem('seen', actionFailureText('Could not mark these faxes as read', err));
        }
    }

    async function loadDetail() {
        const seq = ++detailSeq;
        const table = view.tab;
        const id = view.open;
        clearPages();
        ui.detailTitle.textContent = 'Loading…';
        ui.detailFields.replaceChildren();
        ui.detailBody.replaceChildren();
        ui.download.hidden = true;
        ui.markUnread.hidden = true;
        showDetailView(true);
        showFaxSteps();
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
        const id = view.open;
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
        focusRow(id);
    }

    // The open fax's place in the list shown: the neighbours may be on the next or last page.
    function faxStep(step) {
        const at = listed.table === view.tab ? listed.ids.indexOf(view.open) : -1;
        if (at < 0) return null;
        const to = at + step;
        if (to >= 0 && to < listed.ids.length) return { id: listed.ids[to] };
        if (step < 0 && view.page > 0) return { page: view.page - 1 };
        if (step > 0 && (view.page + 1) * PAGE_SIZE < listed.total) return { page: view.page + 1 };
        return null;
    }

    function showFaxSteps() {
        ui.prevFax.disabled = faxStep(-1) === null;
        ui.nextFax.disabled = faxStep(1) === null;
    }

    async function stepFax(step) {
        const target = faxStep(step);
        if (target === null) return;
        let id = target.id;
        if (id === undefined) {
            view.page = target.page;
            await loadList();
            if (listed.ids.length === 0) return;
            id = step > 0 ? listed.ids[0] : listed.ids[listed.ids.length - 1];
        }
        // The next fax takes the open one's place in the history: Back still leads to the list.
        view.open = id;
        writeHash(false);
        loadDetail();
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

    // A date is taken once it is a whole YYYY-MM-DD (or nothing); until then the list stays.
    function dayTyped(input, before) {
        const value = input.value.trim();
        const valid = value === '' || DAY.test(value);
        if (valid) input.removeAttribute('aria-invalid'); else input.setAttribute('aria-invalid', 'true');
        return valid ? value : before;
    }

    function typed() {
        view.search = ui.search.value;
        view.since = dayTyped(ui.since, view.since);
        view.until = dayTyped(ui.until, view.until);
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

    function goToPage(page) {
        const lastPage = Math.max(0, Math.ceil(listed.total / PAGE_SIZE) - 1);
        view.page = Math.min(Math.max(0, page), lastPage);
        ui.pageJump.value = String(view.page + 1);
        writeHash(false);
        loadList();
        ui.listView.scrollIntoView({ block: 'start' });
    }

    function chooseOrder(sort) {
        if (!SORTS.includes(sort)) return;
        view.dir = view.sort === sort ? (view.dir === 'asc' ? 'desc' : 'asc') : firstDirection(sort);
        view.sort = sort;
        view.page = 0;
        writeHash(false);
        showControls();
        loadList();
        // The header was drawn anew: the keyboard stays on the column just chosen.
        const button = ui.head.querySelector(`button.sort[data-sort="${sort}"]`);
        if (button) button.focus();
    }

    function rowFrom(event) {
        const tr = event.target.closest('tr[data-id]');
        return tr && ui.body.contains(tr) ? tr.dataset.id : null;
    }

    function focusRow(id) {
        const tr = Array.from(ui.body.rows).find((row) => row.dataset.id === id);
        if (tr) tr.focus({ preventScroll: false });
    }

    function typing(target) {
        return target instanceof HTMLElement && (target.isContentEditable ||
            ['INPUT', 'SELECT', 'TEXTAREA'].includes(target.tagName));
    }

    // Up and down move through the rows, Enter opens (the row's own handler), Escape closes;
    // in an open fax left and right go to the fax before and after it.
    function keyPressed(event) {
        if (event.altKey || event.ctrlKey || event.metaKey) return;
        if (!ui.detail.hidden) {
            if (event.key === 'Escape') closeFax();
            else if (!typing(event.target) && (event.key === 'ArrowLeft' || event.key === 'ArrowRight')) {
                event.preventDefault();
                stepFax(event.key === 'ArrowLeft' ? -1 : 1);
            }
            return;
        }
        if ((event.key !== 'ArrowDown' && event.key !== 'ArrowUp') || typing(event.target)) return;
        const rows = Array.from(ui.body.rows);
        if (rows.length === 0) return;
        event.preventDefault();
        const at = rows.indexOf(document.activeElement);
        const to = at < 0 ? 0 : Math.min(rows.length - 1, Math.max(0, at + (event.key === 'ArrowDown' ? 1 : -1)));
        rows[to].focus();
    }

    function listKey() {
        return JSON.stringify([view.tab, filterParams(), orderParams(), view.page]);
    }

    // The address changed from outside (Back, Forward, an edited hash): show what it says.
    function followAddress() {
        // Back fires both popstate and hashchange: the second has nothing new to show.
        if (location.hash === followedHash) return;
        followedHash = location.hash;
        const before = listKey();
        const wasOpen = view.open;
        readHash();
        openedHere = false;
        showControls();
        if (listKey() !== before) loadList();
        if (view.open !== null) {
            loadDetail();
        } else {
            ++detailSeq;
            setProblem('detail', '');
            showDetailView(false);
            if (wasOpen !== null) focusRow(wasOpen);
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
            view.since = dayTyped(ui.since, view.since);
            view.until = dayTyped(ui.until, view.until);
            applyFilters();
        });
        ui.markAllRead.addEventListener('click', markAllRead);
        ui.head.addEventListener('click', (event) => {
            const button = event.target.closest('button.sort');
            if (button) chooseOrder(button.dataset.sort);
        });
        ui.prev.addEventListener('click', () => goToPage(view.page - 1));
        ui.next.addEventListener('click', () => goToPage(view.page + 1));
        ui.prevTop.addEventListener('click', () => goToPage(view.page - 1));
        ui.nextTop.addEventListener('click', () => goToPage(view.page + 1));
        ui.first.addEventListener('click', () => goToPage(0));
        ui.last.addEventListener('click', () => goToPage(Number.MAX_SAFE_INTEGER));
        const jump = () => {
            const n = Number.parseInt(ui.pageJump.value, 10);
            // Leaving the box after Enter changes nothing: no second turn (and no jump under the mouse).
            if (Number.isFinite(n) && n - 1 !== view.page) goToPage(n - 1);
            else ui.pageJump.value = String(view.page + 1);
        };
        ui.pageJump.addEventListener('change', jump);
        ui.pageJump.addEventListener('keydown', (event) => {
            if (event.key === 'Enter') { event.preventDefault(); jump(); }
        });
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
        ui.prevFax.addEventListener('click', () => stepFax(-1));
        ui.nextFax.addEventListener('click', () => stepFax(1));
        ui.markUnread.addEventListener('click', toggleUnread);
        ui.print.addEventListener('click', printFax);
        for (const button of ui.zoomButtons) {
            button.addEventListener('click', () => { pages.zoom = button.dataset.zoom; showZoom(); showPageOf(); });
        }
        ui.rotate.addEventListener('click', () => {
            const frame = pages.frames[currentPage() - 1];
            if (!frame) return;
            pages.turns[frame.dataset.page - 1] = (turnOf(frame) + 90) % 360;
            drawTurned(frame);
            fitSheet(frame);
        });
        // Printing needs every page, not only those scrolled to.
        window.addEventListener('beforeprint', () => {
            for (const frame of pages.frames) {
                const img = frame.querySelector('img.page');
                if (img) img.loading = 'eager';
            }
        });
        window.addEventListener('scroll', showPageOf, { passive: true });
        document.addEventListener('keydown', keyPressed);
        window.addEventListener('popstate', followAddress);
        window.addEventListener('hashchange', followAddress);

        readHash();
        followedHash = location.hash;
        showControls();
        showZoom();
        loadList();
        if (view.tab !== 'recv') loadNewCount();
        if (view.open !== null) loadDetail();
        poll();
    }

    start();
}());
