#!/usr/bin/env bash
# vexa scan --imap and vexa watch --imap against the Dovecot servers that run-with-dovecot.sh
# starts (its IMAP_TEST_* variables): faxes archived with the same rows as from a Maildir, moved
# into "INBOX.VX2 Messages" (created and subscribed) on the server, other mail left unseen,
# nothing archived twice, the start-up failures and their exit statuses, a server without MOVE
# and without TLS, and a watcher that archives a delivery at once.
#   run-with-dovecot.sh imap_cli_test.sh VEXA_BINARY SAMPLES_DIR [FAULT_SHIM.so] [TEST...]
set -u
VEXA=$(realpath "$1")
SAMPLES=$(realpath "$2")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/../support/blackbox.sh"

IMAPS="imaps://$IMAP_TEST_USER@localhost:$IMAP_TEST_IMAPS_PORT"
PLAIN="imap://$IMAP_TEST_USER@localhost:$IMAP_TEST_PLAIN_PORT"
export VEXA_IMAP_PASSWORD=$IMAP_TEST_PASSWORD


# server_folders SERVER: "FOLDER: N messages (N unseen)" for INBOX and its children, and the
# subscribed folders, as a mail reader sees them over IMAP.
server_folders() {
    local port=$IMAP_TEST_IMAPS_PORT tls=1
    [[ $1 == plain ]] && port=$IMAP_TEST_PLAIN_PORT tls=0
    python3 - "$port" "$tls" <<'PY'
import imaplib, os, ssl, sys
port, tls = int(sys.argv[1]), sys.argv[2] == "1"
if tls:
    context = ssl.create_default_context(cafile=os.environ["IMAP_TEST_CA"])
    client = imaplib.IMAP4_SSL("localhost", port, ssl_context=context)
else:
    client = imaplib.IMAP4("localhost", port)
client.login(os.environ["IMAP_TEST_USER"], os.environ["IMAP_TEST_PASSWORD"])
for folder in ["INBOX", "INBOX.VX2 Messages"] + (["Trash"] if os.environ.get("WITH_TRASH") else []):
    typ, data = client.status('"%s"' % folder, "(MESSAGES UNSEEN)")
    print(folder + ": " + (data[0].decode().split("(", 1)[1].rstrip(")") if typ == "OK" else "none"))
typ, data = client.lsub()
import re
names = [re.search(r'("[^"]*"|\S+)$', line.decode()).group(1).strip('"') for line in data if line]
print("subscribed: " + ", ".join(sorted(names)))
client.logout()
PY
}

deliver() { "$IMAP_TEST_DELIVER" "$1" "$SAMPLES/$2"; }

# Every test starts with empty mailboxes on both servers.
before_each() {
    local server
    for server in full plain; do
        doveadm -c "$IMAP_TEST_WORLD/$server/dovecot.conf" expunge -u "$IMAP_TEST_USER" mailbox '*' all 2>/dev/null
    done
}


test_scan_archives_the_faxes_once_and_moves_them_on_the_server() {
    "$VEXA" init >/dev/null || fail "vexa init"
    for mail in 01-incoming-tiff.eml 02-incoming-pdf.eml 05-confirmation-success.eml 07-unrelated.eml; do
        deliver full "$mail"
    done
    umask 000  # the mirror and the account's record are still private
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    umask 022
    expect_eq "open to others" "" "$(find "$HOME" -perm /o+w ! -type l)"
    expect_eq "status" 0 "$STATUS"
    expect_eq "summary" "2 archived as incoming faxes, 0 as confirmations, 1 confirmations matched no fax, 1 left alone, 0 failed" "$OUT"
    expect_eq "rows" "1|NY4711-23|R0000001.tif
2|LA0815-02|R0000002.pdf" "$(sql "SELECT Id, Number, FileId FROM recv ORDER BY Id")"
    expect_eq "the TIFF's bytes" "$(attachment_sum "$SAMPLES/01-incoming-tiff.eml")" "$(sha256sum <"$INSTALL/Attach/R0000001.tif")"
    expect_eq "on the server" "INBOX: MESSAGES 1 UNSEEN 1
INBOX.VX2 Messages: MESSAGES 3 UNSEEN 3
subscribed: INBOX.VX2 Messages" "$(server_folders full)"
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_eq "a rescan archives nothing" "0 archived as incoming faxes, 0 as confirmations, 0 confirmations matched no fax, 0 left alone, 0 failed" "$OUT"
    deliver full 01-incoming-tiff.eml
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_contains "the next delivery" "1 archived as incoming faxes" "$OUT"
}

# bytes_sent_since LINE: the bytes the full server sent to the IMAP sessions that logged out
# after line LINE of its log (Dovecot's logout line, out=N).
bytes_sent_since() {
    tail -n "+$(($1 + 1))" "$IMAP_TEST_WORLD/full/dovecot.log" |
        sed -n 's/.*Logged out in=[0-9]* out=\([0-9]*\).*/\1/p' | awk '{ sum += $1 } END { print sum + 0 }'
}

# Ordinary mail is judged by its header: it stays unseen in the Inbox without its body ever being
# sent, neither by the scan that finds it nor by the next, while the fax among it is archived.
test_ordinary_mail_is_left_alone_without_fetching_its_body() {
    "$VEXA" init >/dev/null || fail "vexa init"
    local i ordinary=0 lines
    for i in $(seq 40); do
        { printf 'From: Bob Sample <bob@example.net>\r\nTo: ann@example.org\r\nSubject: Photos %d\r\n' "$i"
          printf 'Date: Tue, 14 Mar 2023 16:04:58 +0100\r\nMessage-ID: <photos.%d@example.net>\r\n\r\n' "$i"
          head -c 48000 /dev/urandom | base64; } >"$WORLD/ordinary.eml"
        ordinary=$((ordinary + $(stat -c %s "$WORLD/ordinary.eml")))
        "$IMAP_TEST_DELIVER" full "$WORLD/ordinary.eml"
        ((i == 20)) && deliver full 01-incoming-tiff.eml
    done
    lines=$(wc -l <"$IMAP_TEST_WORLD/full/dovecot.log")
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_eq "summary" "1 archived as incoming faxes, 0 as confirmations, 0 confirmations matched no fax, 40 left alone, 0 failed" "$OUT"
    local sent
    sent=$(bytes_sent_since "$lines")
    ((sent > 0 && sent * 10 < ordinary)) || fail "the server sent $sent bytes for $ordinary bytes of ordinary mail"
    expect_eq "the fax's row" "1|NY4711-23" "$(sql "SELECT Id, Number FROM recv")"
    lines=$(wc -l <"$IMAP_TEST_WORLD/full/dovecot.log")
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_contains "a rescan looks at nothing" "0 left alone" "$OUT"
    sent=$(bytes_sent_since "$lines")
    ((sent > 0 && sent < 20000)) || fail "the rescan made the server send $sent bytes"
    expect_eq "ordinary mail unseen in the Inbox" "INBOX: MESSAGES 40 UNSEEN 40
INBOX.VX2 Messages: MESSAGES 1 UNSEEN 1" "$(server_folders full | sed -n 1,2p)"
}

# A crash after the archive's commit and before the move on the server leaves the committed copy
# in the mirror's store folder: the next start moves the message on the server, and does not
# archive it a second time.
test_a_committed_message_left_by_a_crash_is_moved_not_archived_again() {
    "$VEXA" init >/dev/null || fail "vexa init"
    deliver full 01-incoming-tiff.eml
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_contains "the first fax" "1 archived as incoming faxes" "$OUT"
    local validity mirror
    read -r validity _ <"$(echo "$INSTALL"/imap/*.state)"
    mirror=$(echo "$HOME"/.cache/vexa/imap/*)
    deliver full 02-incoming-pdf.eml
    local uid  # the mailbox's UIDs go on from the tests before
    uid=$(doveadm -c "$IMAP_TEST_WORLD/full/dovecot.conf" fetch -u "$IMAP_TEST_USER" uid mailbox INBOX all |
        awk '/^uid:/ { print $2 }' | tail -n 1)
    mkdir -p "$mirror/.VX2 Messages"/{cur,new,tmp}
    cp "$SAMPLES/02-incoming-pdf.eml" "$mirror/.VX2 Messages/new/$(printf %010u "$uid").$validity.imap"
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_contains "not archived again" "0 archived as incoming faxes" "$OUT"
    expect_eq "one row" 1 "$(sql "SELECT count(*) FROM recv")"
    expect_eq "moved on the server" "INBOX: MESSAGES 0 UNSEEN 0
INBOX.VX2 Messages: MESSAGES 2 UNSEEN 2
subscribed: INBOX.VX2 Messages" "$(server_folders full)"
}

# A fax read on another device first arrives with --include-read; kept in the Inbox (no store
# folder), it is archived once however the account's address is spelled.
test_read_faxes_arrive_with_include_read_once_under_any_spelling() {
    "$VEXA" init >/dev/null || fail "vexa init"
    "$VEXA" options --set StoreFolderName= >/dev/null || fail "vexa options"
    deliver full 01-incoming-tiff.eml
    doveadm -c "$IMAP_TEST_WORLD/full/dovecot.conf" flags add -u "$IMAP_TEST_USER" '\Seen' mailbox INBOX all ||
        fail "doveadm flags"
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_contains "a read fax waits for --include-read" "0 archived as incoming faxes" "$OUT"
    local spelling
    for spelling in "$IMAPS" "${IMAPS/localhost/LOCALHOST}/" "$IMAPS/"; do
        run scan --imap "$spelling" --ca-file "$IMAP_TEST_CA" --include-read
        expect_eq "$spelling: status" 0 "$STATUS"
    done
    expect_eq "one row" "1|NY4711-23" "$(sql "SELECT Id, Number FROM recv")"
    expect_eq "kept on the server, read" "INBOX: MESSAGES 1 UNSEEN 0" "$(server_folders full | head -n 1)"
}

# What an IMAP user writes and reads: the [Mailbox] section written by hand before the first run
# holds the password command and the CA, and applies to the account --imap names; a line appended
# to the file later still lands in [Mailbox]; a key vexa does not read is named. Messages name the
# account and the message's UID and Message-ID, never the private mirror; convert --uid archives a
# message the scan refused, once.
test_an_imap_user_s_settings_and_messages() {
    local settings="$XDG_CONFIG_HOME/vexa/settings.ini"
    mkdir -p "$XDG_CONFIG_HOME/vexa"
    (umask 077 && echo "$IMAP_TEST_PASSWORD" >"$WORLD/password")
    printf '[Mailbox]\nUrl=%s\nPasswordCommand=cat %s\n' "$IMAPS" "$WORLD/password" >"$settings"
    "$VEXA" init >/dev/null || fail "vexa init"
    printf 'CaFile=%s\nFolder=Faxes\n' "$IMAP_TEST_CA" >>"$settings"
    deliver full 03-incoming-no-attachment.eml
    VEXA_IMAP_PASSWORD= run scan --imap "${IMAPS/localhost/LOCALHOST}"
    expect_eq "the settings' password and CA: status" 1 "$STATUS"
    local uid  # the mailbox's UIDs go on from the tests before
    uid=$(grep -o '^UID [0-9]*' <<<"$ERR" | cut -d' ' -f2)
    expect_eq "the refused fax by UID and Message-ID, and the unread key" \
        "vexa: $settings line 5: Folder= in [Mailbox] is not read there.
UID $uid <20230314124726.V4712.4712@inbound.efax.com> (eFax voice message from \"2125550147\" - 0:42 minutes): Incoming message does not contain an attachment!" "$ERR"
    expect_eq "the settings file" "[AppPath]
Path=\"$INSTALL\"

[Mailbox]" "$(head -n 4 "$settings")"
    VEXA_IMAP_PASSWORD= "$VEXA" watch --imap "$IMAPS" >"$WORLD/watch.out" 2>&1 &
    local watcher=$! i
    for i in $(seq 200); do [[ -s "$WORLD/watch.out" ]] && break; sleep 0.05; done
    VEXA_IMAP_PASSWORD= run scan
    kill "$watcher"
    wait "$watcher"
    expect_eq "the lock names the account: status" 75 "$STATUS"
    expect_contains "the lock names the account" "The IMAP account $IMAPS is in use by another vexa (process $watcher)" "$ERR"
    deliver full 02-incoming-pdf.eml
    VEXA_IMAP_PASSWORD= run scan
    VEXA_IMAP_PASSWORD= run convert --uid "$uid" --description "by hand"
    expect_eq "a fax without its attachment stays refused" 1 "$STATUS"
    deliver full 01-incoming-tiff.eml
    doveadm -c "$IMAP_TEST_WORLD/full/dovecot.conf" flags add -u "$IMAP_TEST_USER" '\Seen' mailbox INBOX uid $((uid + 2)) ||
        fail "doveadm flags"
    VEXA_IMAP_PASSWORD= run convert --uid $((uid + 2)) --description "by hand"
    expect_eq "convert --uid: status" 0 "$STATUS"
    VEXA_IMAP_PASSWORD= run scan --include-read
    expect_contains "not archived again by a backfill" "0 archived as incoming faxes" "$OUT"
    expect_eq "rows" "1|LA0815-02|(no description)
2|NY4711-23|by hand" "$(sql "SELECT Id, Number, Description FROM recv ORDER BY Id")"
    VEXA_IMAP_PASSWORD= run convert --uid 9999
    expect_eq "no such UID" "1|Can't fetch the message with UID 9999 from the Inbox of $IMAPS: The message with UID 9999 is no longer on the mail server." \
        "$STATUS|$(grep -v '^vexa: ' <<<"$ERR")"
}

# A group commit whose outcome is unknown (the archive's sync failed): the next scan reads the
# archive back and archives each fax once, and the server's Inbox ends empty.
test_a_commit_of_unknown_outcome_loses_no_fax() {
    [[ -n $FAULT_SHIM ]] || { echo "no fault shim given: skipped"; return; }
    "$VEXA" init >/dev/null || fail "vexa init"
    deliver full 01-incoming-tiff.eml
    deliver full 02-incoming-pdf.eml
    # A sanitizer build wants its runtime first in the link order; the shim only passes calls on.
    OUT=$(env LD_PRELOAD="$FAULT_SHIM" VEXA_FAULT_CALL=fsync,fdatasync VEXA_FAULT_NTH=2 VEXA_FAULT_PATH=-wal \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
        "$VEXA" scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA" 2>&1 </dev/null)
    expect_eq "the faulted scan: status" 75 "$?"
    expect_contains "the faulted scan says so" "The archive did not confirm the last 2 messages" "$OUT"
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_eq "each fax once" "1|NY4711-23
2|LA0815-02" "$(sql "SELECT Id, Number FROM recv ORDER BY Id")"
    expect_eq "on the server" "INBOX: MESSAGES 0 UNSEEN 0
INBOX.VX2 Messages: MESSAGES 2 UNSEEN 2" "$(server_folders full | head -n 2)"
}

test_startup_failures_say_why_and_never_show_the_password() {
    "$VEXA" init >/dev/null || fail "vexa init"
    VEXA_IMAP_PASSWORD=wrong-secret run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_eq "wrong password" 78 "$STATUS"
    expect_contains "wrong password says so" "Can't init : " "$ERR"
    [[ $ERR == *wrong-secret* ]] && fail "the password shown: $ERR"
    run scan --imap "$IMAPS"
    expect_eq "certificate not trusted" 78 "$STATUS"
    run scan --imap "imaps://$IMAP_TEST_USER@127.0.0.1:$IMAP_TEST_CLOSED_PORT"
    expect_eq "nobody listening: try again later" 75 "$STATUS"
    run scan --imap "$PLAIN"
    expect_eq "plain text refused" 78 "$STATUS"
    VEXA_IMAP_PASSWORD= run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_eq "no password" 78 "$STATUS"
    run scan --imap "$IMAPS" --maildir "$MAILBOX"
    expect_eq "both mailboxes" 64 "$STATUS"
}

test_password_command_and_a_server_without_move_or_tls() {
    "$VEXA" init >/dev/null || fail "vexa init"
    deliver plain 01-incoming-tiff.eml
    deliver plain 07-unrelated.eml
    VEXA_IMAP_PASSWORD= run scan --imap "$PLAIN" --insecure --password-command "echo '$IMAP_TEST_PASSWORD'"
    expect_eq "status" 0 "$STATUS"
    expect_contains "archived" "1 archived as incoming faxes" "$OUT"
    expect_eq "moved by copy and expunge" "INBOX: MESSAGES 1 UNSEEN 1
INBOX.VX2 Messages: MESSAGES 1 UNSEEN 1
subscribed: INBOX.VX2 Messages" "$(server_folders plain)"
    # The account in the settings file: no arguments needed, as for the systemd unit.
    printf '[Mailbox]\nUrl=%s\nPasswordCommand=echo %s\nCaFile=%s\n' "$IMAPS" "$IMAP_TEST_PASSWORD" "$IMAP_TEST_CA" \
        >>"$XDG_CONFIG_HOME/vexa/settings.ini"
    deliver full 02-incoming-pdf.eml
    VEXA_IMAP_PASSWORD= run scan
    expect_eq "from the settings file" "0|1 archived as incoming faxes" "$STATUS|${OUT%%,*}"
    run scan --maildir "$MAILBOX"
    expect_eq "--maildir chooses the Maildir" "0|0 archived as incoming faxes" "$STATUS|${OUT%%,*}"
}

test_watch_archives_a_delivery_and_stops_on_sigterm() {
    "$VEXA" init >/dev/null || fail "vexa init"
    "$VEXA" watch --imap "$IMAPS" --ca-file "$IMAP_TEST_CA" >"$WORLD/watch.out" 2>"$WORLD/watch.err" &
    local watcher=$! _
    for _ in $(seq 100); do grep -q "^Watching" "$WORLD/watch.out" && break; sleep 0.1; done
    deliver full 02-incoming-pdf.eml
    for _ in $(seq 100); do grep -q "incoming fax" "$WORLD/watch.out" && break; sleep 0.1; done
    expect_contains "the watcher's line" "incoming fax R0000001.pdf row 1" "$(cat "$WORLD/watch.out")"
    kill -TERM "$watcher"
    wait "$watcher"
    expect_eq "a clean stop" 0 "$?"
    expect_eq "nothing reported" "" "$(cat "$WORLD/watch.err")"
}

# In delete mode an archived fax goes to the server's \Trash folder.
test_delete_mode_moves_archived_mail_to_the_trash() {
    "$VEXA" init >/dev/null || fail "vexa init"
    "$VEXA" options --set StoreInMessages=False >/dev/null || fail "options"
    deliver full 01-incoming-tiff.eml
    deliver full 07-unrelated.eml
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_contains "archived" "1 archived as incoming faxes" "$OUT"
    expect_eq "in the trash" "INBOX: MESSAGES 1 UNSEEN 1
Trash: MESSAGES 1 UNSEEN 1" "$(WITH_TRASH=1 server_folders full | grep -E '^(INBOX|Trash):')"
}

# The connection drops while watch runs (the server's address stops answering: a proxy in
# between is stopped) and a fax is delivered meanwhile: watch reconnects with its pause and
# archives it, and every fax is archived exactly once.
test_watch_reconnects_and_archives_what_came_meanwhile_once() {
    "$VEXA" init >/dev/null || fail "vexa init"
    local port _ proxy
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    start_proxy() {
        python3 - "$port" "$IMAP_TEST_IMAPS_PORT" <<'PY' &
import socket, sys, threading
listen, target = int(sys.argv[1]), int(sys.argv[2])
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", listen))
server.listen(8)
def pump(a, b):
    try:
        while data := a.recv(65536):
            b.sendall(data)
    except OSError:
        pass
    for s in (a, b):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
while True:
    client, _ = server.accept()
    upstream = socket.create_connection(("127.0.0.1", target))
    threading.Thread(target=pump, args=(client, upstream), daemon=True).start()
    threading.Thread(target=pump, args=(upstream, client), daemon=True).start()
PY
        proxy=$!
        for _ in $(seq 50); do python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1).close()" 2>/dev/null && return; sleep 0.1; done
    }
    start_proxy
    "$VEXA" watch --imap "imaps://$IMAP_TEST_USER@localhost:$port" --ca-file "$IMAP_TEST_CA" >"$WORLD/watch.out" 2>"$WORLD/watch.err" &
    local watcher=$!
    for _ in $(seq 100); do grep -q "^Watching" "$WORLD/watch.out" && break; sleep 0.1; done
    deliver full 01-incoming-tiff.eml
    for _ in $(seq 100); do grep -q "incoming fax" "$WORLD/watch.out" && break; sleep 0.1; done
    kill "$proxy"
    wait "$proxy" 2>/dev/null
    deliver full 02-incoming-pdf.eml
    sleep 1
    start_proxy
    for _ in $(seq 200); do [[ $(grep -c "incoming fax" "$WORLD/watch.out") -ge 2 ]] && break; sleep 0.1; done
    kill -TERM "$watcher"
    wait "$watcher"
    kill "$proxy"
    expect_eq "each fax once" "1|NY4711-23
2|LA0815-02" "$(sql "SELECT Id, Number FROM recv ORDER BY Id")"
    expect_contains "the drop was reported" "localhost" "$(cat "$WORLD/watch.err")"
}

# What was archived is recorded on the server: faxes kept in the Inbox (no store folder) are not
# archived again when the server renumbers the Inbox (a new UIDVALIDITY), nor by a second
# installation on the same account; two installations scanning at once archive each fax once.
test_the_server_records_what_was_archived_for_every_installation() {
    "$VEXA" init >/dev/null || fail "vexa init"
    "$VEXA" options --set StoreFolderName= >/dev/null || fail "vexa options"
    deliver full 01-incoming-tiff.eml
    deliver full 02-incoming-pdf.eml
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_contains "first scan" "2 archived as incoming faxes" "$OUT"
    doveadm -c "$IMAP_TEST_WORLD/full/dovecot.conf" mailbox update -u "$IMAP_TEST_USER" --uid-validity 4242 INBOX ||
        fail "doveadm mailbox update"
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_eq "renumbered: nothing again" "0|0 archived as incoming faxes" "$STATUS|${OUT%%,*}"
    # second OUTPUT ARGS...: vexa as another installation on the same account.
    second() {
        HOME="$WORLD/second" XDG_CONFIG_HOME="$WORLD/second/.config" XDG_DATA_HOME="$WORLD/second/.local/share" \
            "$VEXA" "$@" </dev/null
    }
    mkdir -p "$WORLD/second"
    second init >/dev/null || fail "second init"
    second options --set StoreFolderName= >/dev/null || fail "second options"
    expect_eq "the other installation: nothing again" "0 archived as incoming faxes" \
        "$(second scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA" | cut -d, -f1)"
    expect_eq "one row each" "2" "$(sql "SELECT count(*) FROM recv")"

    # Both installations move faxes into the store folder, scanning at the same moment.
    "$VEXA" options --set "StoreFolderName=VX2 Messages" >/dev/null || fail "vexa options"
    second options --set "StoreFolderName=VX2 Messages" >/dev/null || fail "second options"
    local i
    for i in $(seq 30); do deliver full 01-incoming-tiff.eml; done
    "$VEXA" scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA" >"$WORLD/first.out" 2>&1 </dev/null &
    local first=$!
    second scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA" >"$WORLD/second.out" 2>&1
    wait "$first"
    local mine theirs
    mine=$(sql "SELECT count(*) FROM recv")
    theirs=$(sqlite3 "$WORLD/second/.local/share/vexa/Corvane.mdb" "SELECT count(*) FROM recv")
    expect_eq "each fax in one archive ($mine + $theirs)" 32 "$((mine + theirs))"
    expect_eq "all in the store folder" "INBOX: MESSAGES 2 UNSEEN 2
INBOX.VX2 Messages: MESSAGES 30 UNSEEN 30" "$(server_folders full | sed -n 1,2p)"
}

# What a connection's trouble says, one row each: the line on standard error, the exit status,
# and how long it took at most (a server that never greets is given up on in seconds).
test_connection_trouble_says_what_to_do() {
    "$VEXA" init >/dev/null || fail "vexa init"
    local user=$IMAP_TEST_USER plain=$IMAP_TEST_PLAIN_PORT tls=$IMAP_TEST_IMAPS_PORT closed=$IMAP_TEST_CLOSED_PORT
    local rows=(
        "untrusted certificate|imaps://$user@localhost:$tls|78|Can't init : The certificate of the mail server localhost is not trusted: The certificate is NOT trusted. The certificate issuer is unknown. Name the CA that signed it with CaFile= in the [Mailbox] section of settings.ini (or --ca-file)."
        "imaps at the plain port|imaps://$user@localhost:$plain|78|Can't init : No TLS connection with the mail server localhost port $plain: An unexpected TLS packet was received. Is it a port for imap://? Use imap:// with it, or the server's port for imaps:// (usually 993)."
        "imap at the TLS port|imap://$user@localhost:$tls|75|Can't init : The mail server localhost port $tls did not greet within 5 seconds. Is it a port for imaps://? Use imaps:// with it, or the server's port for imap:// (usually 143)."
        "closed port|imaps://$user@127.0.0.1:$closed|75|Can't init : Can't reach the mail server 127.0.0.1 on port $closed: Connection refused. Is the server running, and is $closed its port for imaps:// (usually 993) or imap:// (usually 143)?"
    )
    local row what url status line started took
    for row in "${rows[@]}"; do
        IFS='|' read -r what url status line <<<"$row"
        started=$(date +%s)
        run scan --imap "$url"
        took=$(($(date +%s) - started))
        expect_eq "$what: stderr" "$line" "$ERR"
        expect_eq "$what: status" "$status" "$STATUS"
        [[ $took -le 10 ]] || fail "$what: took $took s"
    done
}

# A connection black-holed while watch idles (a NAT that forgot it, a Wi-Fi that changed): no
# byte and no close ever arrives. The renewal of IDLE finds it dead, watch connects anew and
# archives the fax that came meanwhile within the bound, and goes on watching.
test_watch_replaces_a_black_holed_connection() {
    "$VEXA" init >/dev/null || fail "vexa init"
    local here proxy port watcher _ started took
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    python3 "$here/../support/tcp-proxy.py" "$IMAP_TEST_IMAPS_PORT" --port-file "$WORLD/proxy.port" &
    proxy=$!
    for _ in $(seq 50); do [[ -s $WORLD/proxy.port ]] && break; sleep 0.1; done
    port=$(cat "$WORLD/proxy.port")
    printf '[Mailbox]\nUrl=imaps://%s@localhost:%s\nCaFile=%s\nIdleRenewSeconds=3\n' "$IMAP_TEST_USER" "$port" \
        "$IMAP_TEST_CA" >>"$XDG_CONFIG_HOME/vexa/settings.ini"
    "$VEXA" watch >"$WORLD/watch.out" 2>"$WORLD/watch.err" &
    watcher=$!
    for _ in $(seq 100); do grep -q "^Watching" "$WORLD/watch.out" && break; sleep 0.1; done
    deliver full 01-incoming-tiff.eml
    # Once the first fax has moved, watch idles: the black hole comes between two renewals.
    for _ in $(seq 50); do [[ $(server_folders full | head -n 1) == "INBOX: MESSAGES 0 UNSEEN 0" ]] && break; sleep 0.2; done
    sleep 1
    kill -USR1 "$proxy"
    deliver full 02-incoming-pdf.eml
    started=$(date +%s)
    until [[ $(grep -c "incoming fax" "$WORLD/watch.out") -ge 2 ]] || (($(date +%s) - started > 30)); do sleep 0.2; done
    took=$(($(date +%s) - started))
    [[ $took -le 15 ]] || fail "the fax waited $took s"
    kill -0 "$watcher" 2>/dev/null || fail "watch ended"
    expect_eq "rows" "1|NY4711-23
2|LA0815-02" "$(sql "SELECT Id, Number FROM recv ORDER BY Id")"
    expect_eq "moved on the server" "INBOX: MESSAGES 0 UNSEEN 0
INBOX.VX2 Messages: MESSAGES 2 UNSEEN 2" "$(server_folders full | sed -n 1,2p)"
    kill -TERM "$watcher"
    wait "$watcher"
    expect_eq "a clean stop" 0 "$?"
    kill -TERM "$proxy"
    wait "$proxy" 2>/dev/null
    expect_eq "the dead connection reported" "The connection to the mail server localhost went silent: no answer to the renewal of IDLE within 3 seconds." \
        "$(cat "$WORLD/watch.err")"
}

shift 2
FAULT_SHIM=""  # tests/faults/fault_shim.c, built: the third argument, when one ends in .so
if [[ ${1:-} == *.so ]]; then
    FAULT_SHIM=$(realpath "$1")
    shift
fi
run_suite "$@"
