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

# shellcheck source=../support/blackbox.sh
source "$HERE/../support/blackbox.sh"

# Stops what a test left running (servers, watchers) and removes its world.
teardown() {
    local pid
    for pid in $(cat "$WORLD"/*.pid 2>/dev/null); do kill "$pid" 2>/dev/null; done
    sleep 0.2
    for pid in $(cat "$WORLD"/*.pid 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    rm -rf "$WORLD"
}

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
