#!/usr/bin/env bash
# The archive viewer (`vexa view`) in a real browser: builds a throw-away installation whose
# archive holds a three-page G4 TIFF fax, a PDF, a voice message, faxes with hostile subjects and
# file names, and sent faxes in every state; starts `vexa view --no-open` on 127.0.0.1 and has
# viewer.test.mjs drive Debian's Chromium through puppeteer-core over it.
#
#   run.sh VEXA_BINARY SCREENSHOT_DIR [NODE_DIR]
#
# NODE_DIR (default: SCREENSHOT_DIR's parent/viewer-browser-node) receives the package files and
# `npm ci` installs puppeteer-core there once, so the source tree stays clean and later runs work
# offline. Needs node and npm, chromium ($CHROMIUM, default /usr/bin/chromium), tiffcp
# (libtiff-tools), sqlite3 and python3: missing ones fail the test, they are not skipped.
# The last line is "N passed, M failed"; the exit status is 0 only when nothing failed.
set -u

VEXA=$(realpath "$1")
SHOTS=$(realpath -m "$2")
NODE_DIR=$(realpath -m "${3:-$(dirname "$SHOTS")/viewer-browser-node}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export CHROMIUM=${CHROMIUM:-/usr/bin/chromium}
RUN_NAME=viewer_browser
passed=0
failed=0

# shellcheck source=../support/blackbox.sh
source "$here/../support/blackbox.sh"
# shellcheck source=browser-world.sh
source "$here/browser-world.sh"

command -v sqlite3 >/dev/null || give_up "sqlite3 is missing (scripts/install-deps installs it)"
mkdir -p "$SHOTS"
install_node "$here/viewer.test.mjs"

# ---- the installation -----------------------------------------------------------------------

setup  # WORLD, HOME, XDG_*, TZ=CET-1, MAILBOX, INSTALL, ARCHIVE
cleanup() {
    stop_viewers
    rm -rf "$WORLD"
}
trap cleanup EXIT
trap 'exit 143' INT TERM
export TMPDIR="$WORLD"
FILES="$WORLD/files"
make_files "$FILES"

"$VEXA" init >/dev/null 2>&1 || give_up "vexa init failed"
cp "$here/../../samples/mail/01-incoming-tiff.eml" "$MAILBOX/new/1.sample"
fax_mail TIFF3 "2026-03-10 09:00:00" "Three pages from Acme" "fax.tif" image/tiff "$FILES/three-pages.tif" | deliver 2.tiff
fax_mail PDF1 "2026-03-12 10:00:00" "Invoice from Bolt" "invoice.pdf" application/pdf "$FILES/fax.pdf" | deliver 3.pdf
fax_mail VOICE1 "2026-03-14 11:00:00" "Voice message from Carla" "voice.wav" audio/wav "$FILES/voice.wav" | deliver 4.wav
fax_mail XSS1 "2026-03-16 12:00:00" '<img src=x onerror="window.__pwned=1;alert(1)">' "../../secret/evil.tif" \
    image/tiff "$FILES/one-page.tif" | deliver 5.xss
fax_mail XSS2 "2026-03-18 13:00:00" '"><script>window.__pwned=2;alert(2)</script>' "fax.tif" \
    image/tiff "$FILES/one-page.tif" | deliver 6.xss
scanned=$("$VEXA" scan --maildir "$MAILBOX" 2>&1)
if [[ "$scanned" == "6 archived as incoming faxes"* ]]; then
    passed=$((passed + 1))
else
    give_up "the scan did not archive the six faxes: $scanned"
fi
# One fax was opened before: it is no longer New.
sql "UPDATE recv SET New = 0 WHERE Number = 'PDF1'"
# Sent faxes in every state, old and recent: the unsuccessful one and the one unconfirmed for
# more than a day are to be sent again.
sql "INSERT INTO send (Date, Number, Subject, Description, FileName, Confirm) VALUES
     ('2026-03-01 08:00:00', '0301', 'Quote for Acme', 'Two pages', 'quote.pdf', 'Successful'),
     ('2026-03-02 09:00:00', '0302', 'Order for Bolt', 'Order', 'order.pdf', 'Unsuccessful'),
     ('2026-01-05 10:00:00', '0105', 'Reminder never confirmed', '(no description)', 'reminder.pdf', NULL),
     (datetime('now', 'localtime', '-1 hour'), '0002', 'Sent today, confirmed', '', 'today.pdf', 'Successful'),
     (datetime('now', 'localtime', '-1 minute'), '0001', 'Sent a minute ago', '', 'minute.pdf', NULL)"

# What the test runs while the page is open: one more fax arrives and is archived.
fax_mail LATE1 "2026-03-20 14:00:00" "Arrived while the page is open" "fax.tif" image/tiff "$FILES/one-page.tif" \
    >"$WORLD/late.eml"
cat >"$WORLD/archive-late-fax.sh" <<SCRIPT
#!/usr/bin/env bash
cp "$WORLD/late.eml" "$MAILBOX/tmp/7.late" && mv "$MAILBOX/tmp/7.late" "$MAILBOX/new/7.late" &&
    "$VEXA" scan --maildir "$MAILBOX" >/dev/null
SCRIPT
export ARCHIVE_LATE_FAX="$WORLD/archive-late-fax.sh" VIEWER_ARCHIVE="$ARCHIVE" VIEWER_FILES="$FILES"

# ---- the viewer -----------------------------------------------------------------------------

start_viewer view
run_node viewer.test.mjs "$address" "$SHOTS"
if ! kill -0 "${viewer_pids[0]}" 2>/dev/null; then
    failed=$((failed + 1))
    echo "vexa view stopped during the test: $(cat "$WORLD/view.err")" >&2
fi
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
