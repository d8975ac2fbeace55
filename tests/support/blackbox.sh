# What the black-box suites of vexa share (sourced): checks that print FAIL lines, which the
# runners look for, and a fresh world per test: HOME, XDG folders, a Maildir with an Inbox.

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

run() {  # run ARGS...: runs $VEXA; sets OUT, ERR and STATUS
    OUT=$("$VEXA" "$@" 2>"$WORLD/stderr" </dev/null)
    STATUS=$?
    ERR=$(cat "$WORLD/stderr")
}

setup() {
    WORLD=$(mktemp -d)
    export HOME="$WORLD/home"
    export XDG_CONFIG_HOME="$HOME/.config"
    export XDG_DATA_HOME="$HOME/.local/share"
    export XDG_RUNTIME_DIR="$WORLD/run"
    export TZ=CET-1  # one hour east of UTC, without needing the time zone database
    unset MAILDIR VEXA_TRANSPORT
    MAILBOX="$HOME/Maildir"
    mkdir -p "$MAILBOX"/{cur,new,tmp} "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    INSTALL="$XDG_DATA_HOME/vexa"
    ARCHIVE="$INSTALL/Corvane.mdb"
}

sql() { sqlite3 -separator '|' "$ARCHIVE" "$1"; }

# run_suite TEST...: runs each test function (every function named test_* when none is named)
# in a fresh world, after the function before_each when the suite defines one; prints a failed
# test's log, then "N passed, M failed". Returns 0 only when every test passed.
run_suite() {
    local names=("$@") name passed=0 failed=0
    [[ ${#names[@]} -gt 0 ]] || mapfile -t names < <(declare -F | awk '{print $3}' | grep '^test_')
    for name in "${names[@]}"; do
        setup
        declare -F before_each >/dev/null && before_each
        echo "[ RUN  ] $name"
        ( "$name" ) >"$WORLD/log" 2>&1
        if grep -q "FAIL" "$WORLD/log"; then
            failed=$((failed + 1))
            cat "$WORLD/log"
            echo "[ FAIL ] $name"
        else
            passed=$((passed + 1))
            echo "[  OK  ] $name"
        fi
        rm -rf "$WORLD"
    done
    echo
    echo "$passed passed, $failed failed"
    [[ $failed -eq 0 ]]
}

# The sha256sum line of a mail's first attachment, decoded.
attachment_sum() {
    python3 - "$1" <<'PY' | sha256sum
import email, sys
message = email.message_from_binary_file(open(sys.argv[1], "rb"))
part = next(part for part in message.walk() if part.get_filename())
sys.stdout.buffer.write(part.get_payload(decode=True))
PY
}
