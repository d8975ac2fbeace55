#!/usr/bin/env bash
# vexa scan --imap against a server whose folders live under "INBOX." and that marks no folder
# \Trash (IMAP_TEST_PREFIXED_PORT, plain text): a store folder named outside ASCII is created,
# subscribed and filled under its modified UTF-7 name, and delete mode creates the Trash in the
# personal namespace and moves the fax there. Run by run-with-dovecot.sh and by run-with-cyrus.sh.
#   run-with-SERVER.sh imap_folders_test.sh VEXA_BINARY SAMPLES_DIR
set -u
VEXA=$(realpath "$1")
SAMPLES=$(realpath "$2")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/../support/blackbox.sh"

URL="imap://$IMAP_TEST_USER@127.0.0.1:$IMAP_TEST_PREFIXED_PORT"
export VEXA_IMAP_PASSWORD=$IMAP_TEST_PASSWORD

# imap ACTION [FILE]: "deliver FILE" appends it to INBOX; "show" prints every folder as the
# server names it with its message count, then the subscribed ones, as a mail reader sees them.
imap() {
    python3 - "$IMAP_TEST_PREFIXED_PORT" "$@" <<'PY'
import imaplib, os, re, sys
client = imaplib.IMAP4("127.0.0.1", int(sys.argv[1]))
client.login(os.environ["IMAP_TEST_USER"], os.environ["IMAP_TEST_PASSWORD"])
def names(lines):
    return sorted(re.search(r'("[^"]*"|\S+)$', line.decode()).group(1).strip('"') for line in lines if line)
if sys.argv[2] == "deliver":
    with open(sys.argv[3], "rb") as mail:
        client.append("INBOX", None, None, mail.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))
else:
    for name in names(client.list()[1]):
        typ, data = client.status('"%s"' % name, "(MESSAGES)")
        print(name + ": " + (re.sub(r".*\(MESSAGES (\d+)\).*", r"\1", data[0].decode()) if typ == "OK" else "-"))
    # Cyrus subscribes INBOX itself.
    print("subscribed: " + ", ".join(name for name in names(client.lsub()[1]) if name != "INBOX"))
client.logout()
PY
}

# Every test starts with an empty INBOX and no other folders.
before_each() {
    python3 - "$IMAP_TEST_PREFIXED_PORT" <<'PY'
import imaplib, os, re, sys
client = imaplib.IMAP4("127.0.0.1", int(sys.argv[1]))
client.login(os.environ["IMAP_TEST_USER"], os.environ["IMAP_TEST_PASSWORD"])
for line in client.list()[1]:
    name = re.search(r'("[^"]*"|\S+)$', line.decode()).group(1).strip('"')
    if name.upper() != "INBOX":
        client.unsubscribe('"%s"' % name)
        client.delete('"%s"' % name)
client.select("INBOX")
client.store("1:*", "+FLAGS", "\\Deleted")
client.expunge()
client.logout()
PY
}

test_a_store_folder_outside_ascii_and_the_trash_of_the_personal_namespace() {
    "$VEXA" init >/dev/null || fail "vexa init"
    "$VEXA" options --set "StoreFolderName=Faxe Büro" >/dev/null || fail "vexa options"
    local mail
    for mail in 01-incoming-tiff.eml 02-incoming-pdf.eml 07-unrelated.eml; do imap deliver "$SAMPLES/$mail"; done
    run scan --imap "$URL" --insecure
    expect_eq "stored" "0|2 archived as incoming faxes" "$STATUS|${OUT%%,*}"
    expect_eq "no complaint" "" "$ERR"
    expect_eq "in the store folder" "INBOX: 1
INBOX.Faxe B&APw-ro: 2
subscribed: INBOX.Faxe B&APw-ro" "$(imap show)"

    "$VEXA" options --set StoreInMessages=False >/dev/null || fail "vexa options"
    imap deliver "$SAMPLES/01-incoming-tiff.eml"
    run scan --imap "$URL" --insecure
    expect_eq "deleted" "0|1 archived as incoming faxes" "$STATUS|${OUT%%,*}"
    expect_eq "no complaint" "" "$ERR"
    expect_eq "in the trash" "INBOX: 1
INBOX.Faxe B&APw-ro: 2
INBOX.Trash: 1
subscribed: INBOX.Faxe B&APw-ro, INBOX.Trash" "$(imap show)"
}

shift 2
run_suite "$@"
