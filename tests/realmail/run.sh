#!/usr/bin/env bash
# Black-box tests of vexa with the mail software its users run: a throw-away Dovecot on 127.0.0.1
# (delivery with dovecot-lda, reading back over IMAP) and mutt sending through vexa. Each part
# (*.part.sh beside this file) defines test_* functions; each test gets a fresh world.
#   run.sh VEXA_BINARY SAMPLES_DIR [TEST_NAME...]
set -u

VEXA=$(realpath "$1")
SAMPLES=$(realpath "$2")
shift 2
HERE=$(dirname "$(realpath "$0")")
passed=0
failed=0

fail() {
    echo "    FAIL: $*"
}

expect_eq() {  # expect_eq WHAT EXPECTED ACTUAL
    if [[ "$2" != "$3" ]]; then
        fail "$1: expected [$2], got [$3]"
    fi
}

expect_contains() {  # expect_contains WHAT NEEDLE HAYSTACK
    if [[ "$3" != *"$2"* ]]; then
        fail "$1: [$2] not found in [$3]"
    fi
}

# A fresh world: HOME, XDG folders, a Maildir with an Inbox, and an installation.
setup() {
    WORLD=$(mktemp -d)
    export HOME="$WORLD/home"
    export XDG_CONFIG_HOME="$HOME/.config"
    export XDG_DATA_HOME="$HOME/.local/share"
    export TZ=CET-1
    unset MAILDIR VEXA_TRANSPORT
    MAILBOX="$HOME/Maildir"
    mkdir -p "$MAILBOX"/{cur,new,tmp} "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
    INSTALL="$XDG_DATA_HOME/vexa"
    ARCHIVE="$INSTALL/Corvane.mdb"
}

# Stops what a test left running (servers, watchers) and removes its world.
teardown() {
    local pid
    for pid in $(cat "$WORLD"/*.pid 2>/dev/null); do kill "$pid" 2>/dev/null; done
    sleep 0.2
    for pid in $(cat "$WORLD"/*.pid 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    rm -rf "$WORLD"
}

sql() { sqlite3 -separator '|' "$ARCHIVE" "$1"; }

for part in "$HERE"/*.part.sh; do
    # shellcheck source=/dev/null
    source "$part"
done

tests=("$@")
if [[ ${#tests[@]} -eq 0 ]]; then
    mapfile -t tests < <(declare -F | awk '{print $3}' | grep '^test_')
fi
for name in "${tests[@]}"; do
    setup
    echo "[ RUN  ] $name"
    ( "$name" ) >"$WORLD/log" 2>&1
    if ! grep -q "FAIL" "$WORLD/log"; then
        passed=$((passed + 1))
        echo "[  OK  ] $name"
    else
        failed=$((failed + 1))
        cat "$WORLD/log"
        echo "[ FAIL ] $name"
    fi
    teardown
done
echo
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
