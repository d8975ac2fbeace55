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
