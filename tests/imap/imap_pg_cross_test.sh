#!/usr/bin/env bash
# vexa scan --imap into an office's PostgreSQL archive, black-box, with both throw-away servers
# around it: the archive's server stopped in the middle of a scan, and the IMAP connection cut
# while vexa moves the archived faxes into "INBOX.VX2 Messages" (before the server moved them,
# and after it did but before vexa heard so). Whatever breaks, every fax ends up archived once,
# with its file, and in the store folder on the server, after a later clean scan.
#   run-with-postgres.sh run-with-dovecot.sh imap_pg_cross_test.sh VEXA_BINARY SAMPLES_DIR [TEST...]
set -u
VEXA=$(realpath "$1")
SAMPLES=$(realpath "$2")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/../support/blackbox.sh"

IMAPS="imaps://$IMAP_TEST_USER@localhost:$IMAP_TEST_IMAPS_PORT"
export VEXA_IMAP_PASSWORD=$IMAP_TEST_PASSWORD
STORE="INBOX.VX2 Messages"

pg() { psql -X -q -A -t "$VEXA_TEST_PG_URI" -c "$1"; }

# mailbox append PREFIX COUNT: COUNT faxes, reference numbers PREFIX-1 to PREFIX-COUNT, appended
# unseen to the Inbox over IMAP, as a mail server's delivery leaves them.
# mailbox folders: per folder, how many faxes it holds, how many distinct reference numbers among
# them and how many unseen, as a mail reader sees them.
mailbox() {
    python3 - "$@" <<'PY'
import imaplib, os, re, ssl, sys
context = ssl.create_default_context(cafile=os.environ["IMAP_TEST_CA"])
client = imaplib.IMAP4_SSL("localhost", int(os.environ["IMAP_TEST_IMAPS_PORT"]), ssl_context=context, timeout=30)
client.login(os.environ["IMAP_TEST_USER"], os.environ["IMAP_TEST_PASSWORD"])
samples = os.environ["SAMPLES"]
if sys.argv[1] == "append":
    prefix, count = sys.argv[2], int(sys.argv[3])
    fax = open(os.path.join(samples, "01-incoming-tiff.eml"), "rb").read().replace(b"\r\n", b"\n")
    for i in range(1, count + 1):
        message = fax.replace(b"NY4711-23", ("%s-%d" % (prefix, i)).encode()).replace(b"\n", b"\r\n")
        typ, _ = client.append("INBOX", None, None, message)
        assert typ == "OK", typ
else:
    for folder in ["INBOX", "INBOX.VX2 Messages"]:
        typ, _ = client.select('"%s"' % folder, readonly=True)
        if typ != "OK":
            print(folder + ": none")
            continue
        typ, data = client.fetch("1:*", "(FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])") if int(_[0]) else ("OK", [])
        numbers, unseen = [], 0
        for item in data:
            if isinstance(item, tuple):
                found = re.search(rb"\.([A-Z0-9]+-\d+)\.\d+@", item[1])
                numbers.append(found.group(1) if found else b"?")
                unseen += b"\\Seen" not in item[0]
        print("%s: %d faxes, %d distinct, %d unseen" % (folder, len(numbers), len(set(numbers)), unseen))
client.logout()
PY
}
export SAMPLES

# A fresh installation on the archive, nothing in it, the mailboxes empty.
before_each() {
    pg "TRUNCATE recv, send, stored_files RESTART IDENTITY CASCADE" >/dev/null 2>&1
    doveadm -c "$IMAP_TEST_WORLD/full/dovecot.conf" expunge -u "$IMAP_TEST_USER" mailbox '*' all 2>/dev/null
    "$VEXA" init --archive "$VEXA_TEST_PG_URI" >/dev/null || fail "init --archive"
}

# COUNT faxes, each archived once with its file, each in the store folder on the server.
expect_all_archived_once_and_stored() {
    local count=$1 prefix=$2
    expect_eq "one row per fax" "$count|$count|$count" \
        "$(pg "SELECT count(*), count(DISTINCT number), count(*) FILTER (WHERE number LIKE '$prefix-%') FROM recv")"
    expect_eq "every row's file" "0" "$(pg "SELECT count(*) FROM recv r LEFT JOIN stored_files f ON f.file_id = r.fileid WHERE f.file_id IS NULL")"
    expect_eq "every file's bytes" "1|$(attachment_sum "$SAMPLES/01-incoming-tiff.eml" | cut -d' ' -f1)" \
        "$(pg "SELECT count(DISTINCT h), min(h) FROM (SELECT encode(sha256(lo_get(content)), 'hex') h FROM stored_files) f" 2>&1)"
    run list recv --format csv
    expect_eq "vexa list shows each fax once" "$count" "$(grep -c ",$prefix-[0-9]*," <<<"$OUT")"
    expect_eq "on the server" "INBOX: 0 faxes, 0 distinct, 0 unseen
$STORE: $count faxes, $count distinct, $count unseen" "$(mailbox folders)"
}


# The archive's server stops once some faxes were committed: the scan ends with 75, the faxes
# not archived stay unseen in the Inbox, the archived ones are in the store folder or (their
# commit's outcome unknown) wait for the next start; the scan after the restart archives the rest,
# each once.
test_the_archive_server_stopped_mid_scan_loses_no_fax() {
    mailbox append P 600
    # One psql session asks for the row count, so that a look costs a round trip, not a start.
    local counter_pid rows=0 _
    coproc COUNTER { exec psql -X -q -A -t "$VEXA_TEST_PG_URI" 2>/dev/null; }
    counter_pid=$COUNTER_PID
    "$VEXA" scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA" >"$WORLD/scan.out" 2>"$WORLD/scan.err" &
    local scanner=$! status
    for _ in $(seq 1000); do
        echo "SELECT count(*) FROM recv;" >&"${COUNTER[1]}"
        read -r -t 5 rows <&"${COUNTER[0]}" || break
        ((rows >= 5)) && break
        kill -0 "$scanner" 2>/dev/null || break
        sleep 0.01
    done
    # The scan holds still while the server stops (which takes longer than archiving a few
    # faxes), so that the stop falls within the scan on a busy machine as on an idle one.
    kill -STOP "$scanner" 2>/dev/null
    "$VEXA_TEST_PG_SERVER" stop >/dev/null
    kill -CONT "$scanner" 2>/dev/null
    local to_counter=${COUNTER[1]}
    exec {to_counter}>&-
    kill "$counter_pid" 2>/dev/null
    wait "$scanner"
    status=$?
    "$VEXA_TEST_PG_SERVER" start >/dev/null
    expect_eq "the scan's status" 75 "$status"
    # (Why depends on the step the stop cut: the connection refused, lost, or a file not stored.)
    expect_contains "the scan says the archive failed" "archive" "$(cat "$WORLD/scan.err")"
    local archived folders inbox stored
    archived=$(pg "SELECT count(*) FROM recv")
    ((archived > 0 && archived < 600)) || fail "the stop did not fall within the scan: $archived rows"
    folders=$(mailbox folders)
    echo "after the stop: $archived rows; $(cat "$WORLD/scan.out")"$'\n'"$folders"
    inbox=$(sed -n 's/^INBOX: \([0-9]*\) faxes, \([0-9]*\) distinct, \2 unseen$/\1/p' <<<"$folders")
    stored=$(sed -n "s/^$STORE: \([0-9]*\) faxes, \1 distinct, .*/\1/p" <<<"$folders")
    [[ -n $inbox && -n $stored ]] || fail "the Inbox's faxes not all unseen, or a fax twice: $folders"
    expect_eq "every fax in the Inbox or the store folder" 600 "$((inbox + stored))"
    ((stored <= archived && archived + inbox >= 600)) || fail "$stored in the store folder, $inbox in the Inbox, $archived rows"
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_eq "the scan after the restart" 0 "$STATUS"
    expect_eq "nothing reported" "" "$ERR"
    expect_all_archived_once_and_stored 600 P
    run scan --imap "$IMAPS" --ca-file "$IMAP_TEST_CA"
    expect_eq "a rescan archives nothing" "0|0 archived as incoming faxes" "$STATUS|${OUT%%,*}"
}

# proxy MODE: a TLS proxy to the server on a free port (in $PROXY_PORT, its pid in $PROXY), which
# cuts the first connection that moves messages: MODE "before" drops the UID MOVE command unsent,
# "after" lets the server move the messages but drops its answer. Later connections pass through.
# It writes $WORLD/cut when it cut.
start_proxy() {
    PROXY_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    python3 - "$PROXY_PORT" "$IMAP_TEST_IMAPS_PORT" "$1" "$WORLD/cut" <<'PY' 2>"$WORLD/proxy.err" &
import os, re, select, signal, socket, ssl, sys, threading
listen, target, mode, marker = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
world = os.environ["IMAP_TEST_WORLD"]
signal.alarm(150)  # never outlives its test
serving = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
serving.load_cert_chain(world + "/cert.pem", world + "/key.pem")
onward = ssl.create_default_context(cafile=world + "/cert.pem")
once = threading.Lock()

def relay(client):
    try:
        client = serving.wrap_socket(client, server_side=True)
        upstream = onward.wrap_socket(socket.create_connection(("127.0.0.1", target), 10), server_hostname="localhost")
    except OSError:
        client.close()
        return
    for s in (client, upstream):
        s.settimeout(30)
    commands, answers, held = b"", b"", None
    try:
        while True:
            ready = [s for s in (client, upstream) if s.pending()] or select.select([client, upstream], [], [], 60)[0]
            if not ready:
                return
            for s in ready:
                data = s.recv(65536)
                if not data:
                    return
                if s is upstream:
                    if held is None:
                        client.sendall(data)
                        continue
                    # The server's answer to the move: the connection ends before it is passed on.
                    answers += data
                    if re.search(rb"(^|\r\n)" + re.escape(held) + rb" ", answers):
                        return
                    continue
                commands += data
                # Whole lines only, so that a command is seen before it is passed on.
                end = commands.rfind(b"\r\n") + 2
                lines, commands = commands[:end], commands[end:]
                for line in lines.split(b"\r\n")[:-1]:
                    move = re.match(rb"(\S+) UID MOVE ", line, re.I)
                    if move and once.acquire(blocking=False):
                        open(marker, "w").write(mode + "\n")
                        if mode == "before":
                            return
                        held = move.group(1)
                    upstream.sendall(line + b"\r\n")
    except OSError:
        pass
    finally:
        for s in (client, upstream):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", listen))
server.listen(8)
while True:
    connection, _ = server.accept()
    threading.Thread(target=relay, args=(connection,), daemon=True).start()
PY
    PROXY=$!
    local _
    for _ in $(seq 50); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1', $PROXY_PORT), 1).close()" 2>/dev/null && return
        sleep 0.1
    done
    fail "the proxy does not answer"
}

# cut_scan WHEN PREFIX: 12 faxes, then a scan through the proxy, which cuts the connection at the
# move (WHEN: before the server moved them, or after); the account through the proxy in $account.
cut_scan() {
    mailbox append "$2" 12
    start_proxy "$1"
    account="imaps://$IMAP_TEST_USER@localhost:$PROXY_PORT"
    run scan --imap "$account" --ca-file "$IMAP_TEST_CA"
    expect_eq "the proxy cut at the move" "$1" "$(cat "$WORLD/cut" 2>/dev/null)"
    expect_eq "the cut scan's status" 75 "$STATUS"
    expect_contains "the cut scan's summary" "12 archived as incoming faxes" "$OUT"
}

# The connection drops just before the server moves the archived faxes: they are archived, so the
# next scan moves them on the server instead of archiving them again.
test_a_connection_cut_before_the_move_leaves_the_faxes_archived_once() {
    local account
    cut_scan before B
    expect_contains "the cut scan says what failed" "Can't move 12 messages to VX2 Messages" "$ERR"
    expect_eq "archived, once" "12|12" "$(pg "SELECT count(*), count(DISTINCT number) FROM recv")"
    expect_eq "not yet moved on the server" "INBOX: 12 faxes, 12 distinct, 12 unseen
$STORE: 0 faxes, 0 distinct, 0 unseen" "$(mailbox folders)"
    run scan --imap "$account" --ca-file "$IMAP_TEST_CA"
    expect_eq "the clean scan's status" 0 "$STATUS"
    expect_eq "the clean scan archives nothing again" "0 archived as incoming faxes" "${OUT%%,*}"
    expect_eq "the clean scan reports nothing" "" "$ERR"
    expect_all_archived_once_and_stored 12 B
    kill "$PROXY" 2>/dev/null
    wait "$PROXY" 2>/dev/null
}

# The server moved the faxes but the connection dropped before vexa heard so: the next scan finds
# them gone from the Inbox, says nothing, and archives nothing again.
test_a_connection_cut_after_the_server_moved_leaves_the_faxes_archived_once() {
    local account
    cut_scan after A
    expect_eq "moved on the server" "INBOX: 0 faxes, 0 distinct, 0 unseen
$STORE: 12 faxes, 12 distinct, 12 unseen" "$(mailbox folders)"
    # A fax that came meanwhile goes the whole way with the clean scan.
    mailbox append A2 1
    run scan --imap "$account" --ca-file "$IMAP_TEST_CA"
    expect_eq "the clean scan's status" 0 "$STATUS"
    expect_eq "the clean scan archives only the new fax" "1 archived as incoming faxes" "${OUT%%,*}"
    expect_eq "the clean scan reports nothing" "" "$ERR"
    expect_eq "one row per fax" "13|13" "$(pg "SELECT count(*), count(DISTINCT number) FROM recv")"
    expect_eq "on the server" "INBOX: 0 faxes, 0 distinct, 0 unseen
$STORE: 13 faxes, 13 distinct, 13 unseen" "$(mailbox folders)"
    kill "$PROXY" 2>/dev/null
    wait "$PROXY" 2>/dev/null
}

shift 2
run_suite "$@"
