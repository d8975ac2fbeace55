#!/usr/bin/env bash
# Two people on one shared PostgreSQL archive, in a real browser: an installation over
# $VEXA_TEST_PG_URI (run under tests/postgres/run-with-postgres.sh), three faxes archived, two by
# ann and one by bob, and a viewer for each (VEXA_PERSON=ann and =bob, two ports), which
# shared.test.mjs drives in Chromium through puppeteer-core.
#
#   run-with-postgres.sh bash shared-run.sh VEXA_BINARY NODE_DIR
#
# NODE_DIR is where puppeteer-core is installed once, as for run.sh. Needs what run.sh needs but
# sqlite3. The last line is "N passed, M failed"; the exit status is 0 only when nothing failed.
set -u

VEXA=$(realpath "$1")
NODE_DIR=$(realpath -m "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export CHROMIUM=${CHROMIUM:-/usr/bin/chromium}
RUN_NAME=viewer_browser_shared
passed=0
failed=0

# shellcheck source=../support/blackbox.sh
source "$here/../support/blackbox.sh"
# shellcheck source=browser-world.sh
source "$here/browser-world.sh"

[[ -n "${VEXA_TEST_PG_URI:-}" ]] || give_up "no VEXA_TEST_PG_URI: run me under tests/postgres/run-with-postgres.sh"
install_node "$here/shared.test.mjs"

setup  # WORLD, HOME, XDG_*, TZ=CET-1, MAILBOX
cleanup() {
    stop_viewers
    rm -rf "$WORLD"
}
trap cleanup EXIT
trap 'exit 143' INT TERM
export TMPDIR="$WORLD"
make_files "$WORLD/files"

"$VEXA" init --archive "$VEXA_TEST_PG_URI" >/dev/null 2>&1 || give_up "vexa init --archive failed"
# Who archived a fax is the person whose scan did.
scan_as() {  # scan_as PERSON: archives what the Inbox holds as PERSON
    local scanned
    scanned=$(VEXA_PERSON=$1 "$VEXA" scan --maildir "$MAILBOX" 2>&1)
    [[ "$scanned" == "$2 archived as incoming faxes"* ]] || give_up "$1's scan: $scanned"
}
fax_mail A1 "2026-03-10 09:00:00" "First from Acme" "a1.tif" image/tiff "$WORLD/files/one-page.tif" | deliver a1
scan_as ann 1
fax_mail B1 "2026-03-11 09:00:00" "From Bolt" "b1.pdf" application/pdf "$WORLD/files/fax.pdf" | deliver b1
scan_as bob 1
fax_mail A2 "2026-03-12 09:00:00" "Second from Acme" "a2.tif" image/tiff "$WORLD/files/one-page.tif" | deliver a2
scan_as ann 1
echo "ok - three faxes archived on the shared archive, two by ann and one by bob"
passed=$((passed + 1))

VEXA_PERSON=ann start_viewer ann
ann_address=$address
VEXA_PERSON=bob start_viewer bob
run_node shared.test.mjs "$ann_address" "$address"
for at in 0 1; do
    name=$([[ $at == 0 ]] && echo ann || echo bob)
    if ! kill -0 "${viewer_pids[$at]}" 2>/dev/null; then
        failed=$((failed + 1))
        echo "$name's vexa view stopped during the test: $(cat "$WORLD/$name.err")" >&2
    fi
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
