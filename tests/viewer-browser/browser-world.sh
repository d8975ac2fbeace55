# What the viewer's browser runs share (sourced after tests/support/blackbox.sh, with VEXA,
# NODE_DIR, RUN_NAME, `here` and the counters passed and failed set): puppeteer-core installed
# once into the build tree, the faxes' attachments, faxes as the service mails them, and a
# `vexa view --no-open` whose address is waited for.

give_up() {
    echo "$RUN_NAME: $*" >&2
    echo "$passed passed, $((failed + 1)) failed"
    exit 1
}

# install_node TEST_FILE...: puppeteer-core into NODE_DIR (npm ci once, so the source tree stays
# clean and later runs work offline), and the test files beside it, since ES modules resolve
# their imports beside the importing file.
install_node() {
    local tool
    for tool in node npm tiffcp python3 "$CHROMIUM"; do
        command -v "$tool" >/dev/null || give_up "$tool is missing (scripts/install-deps installs it)"
    done
    mkdir -p "$NODE_DIR"
    if [[ ! -d "$NODE_DIR/node_modules/puppeteer-core" ]] || ! cmp -s "$here/package-lock.json" "$NODE_DIR/package-lock.json"; then
        cp "$here/package.json" "$here/package-lock.json" "$NODE_DIR/"
        timeout 600 npm ci --prefix "$NODE_DIR" --no-audit --no-fund >"$NODE_DIR/npm-ci.log" 2>&1 ||
            give_up "npm ci failed: $(tail -n 5 "$NODE_DIR/npm-ci.log")"
    fi
    cp "$here/browser.mjs" "$@" "$NODE_DIR/"
}

# make_files DIR: make-files.py's pages, PDF and sound, and the pages joined as G4 faxes
# (three-pages.tif, one-page.tif).
make_files() {
    python3 "$here/make-files.py" "$1" || give_up "make-files.py failed"
    tiffcp -c g4 "$1/page1.tif" "$1/page2.tif" "$1/page3.tif" "$1/three-pages.tif" || give_up "tiffcp failed"
    tiffcp -c g4 "$1/page1.tif" "$1/one-page.tif" || give_up "tiffcp failed"
}

# A fax from the service as it arrives by mail, received at a local (CET) time.
fax_mail() {  # fax_mail REFERENCE "YYYY-MM-DD HH:MM:SS" SUBJECT FILE_NAME CONTENT_TYPE FILE
    local stamp
    stamp=$(LC_ALL=C date -u -d "$2" '+%a, %d %b %Y %H:%M:%S +0100')
    printf 'Return-Path: <message@inbound.efax.com>\n'
    printf 'Received: from mx1.inbound.efax.com (mx1.inbound.efax.com [198.51.100.17])\n'
    printf '\tby mail.example.org (Postfix) with ESMTPS id %s\n\tfor <ann@example.org>; %s\n' "$1" "$stamp"
    printf 'Date: %s\nFrom: eFax <message@inbound.efax.com>\nTo: ann@example.org\n' "$stamp"
    printf 'Subject: %s\nMessage-ID: <%s@viewer.test>\nMIME-Version: 1.0\n' "$3" "$1"
    printf 'Content-Type: multipart/mixed; boundary="=_b"\n\n--=_b\nContent-Type: text/plain; charset=us-ascii\n\n'
    printf 'You have received a fax.\n\n* The reference number for this fax is %s. Thank you for using eFax.\n\n' "$1"
    printf -- '--=_b\nContent-Type: %s; name="%s"\nContent-Disposition: attachment; filename="%s"\n' "$5" "$4" "$4"
    printf 'Content-Transfer-Encoding: base64\n\n'
    base64 -w 76 "$6"
    printf -- '\n--=_b--\n'
}

deliver() {  # deliver NAME < message: as a mail delivery agent does, through tmp/ into new/
    cat >"$MAILBOX/tmp/$1"
    mv "$MAILBOX/tmp/$1" "$MAILBOX/new/$1"
}

# start_viewer NAME: `vexa view --no-open` in the background, its output in $WORLD/NAME.out and
# .err; sets `address` to the line it printed and adds its process to viewer_pids.
viewer_pids=()
start_viewer() {
    "$VEXA" view --no-open >"$WORLD/$1.out" 2>"$WORLD/$1.err" </dev/null &
    local pid=$! _
    viewer_pids+=("$pid")
    address=
    for _ in $(seq 100); do  # at most 10 s
        address=$(head -n 1 "$WORLD/$1.out")
        [[ "$address" == http://127.0.0.1:*"/?token="* ]] && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    give_up "vexa view ($1) printed no address: [$address] $(cat "$WORLD/$1.err")"
}

stop_viewers() {
    local pid
    for pid in "${viewer_pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    viewer_pids=()
}

# run_node TEST_FILE ARGS...: the node test under a time limit; adds its "N passed, M failed" to
# the counters.
run_node() {
    local summary
    timeout 240 node "$NODE_DIR/$1" "${@:2}" | tee "$WORLD/node.out"
    summary=$(tail -n 1 "$WORLD/node.out")
    if [[ "$summary" =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
        passed=$((passed + BASH_REMATCH[1]))
        failed=$((failed + BASH_REMATCH[2]))
    else
        failed=$((failed + 1))
        echo "$1 ended without its summary" >&2
    fi
}
