#!/usr/bin/env bash
# The IMAP connection against real Dovecot servers on 127.0.0.1, each with a configuration of its
# own: "full" speaks TLS (imaps port, and STARTTLS on its imap port) with a self-signed certificate
# made here for the name localhost, and has MOVE; "plain" has no TLS at all and no MOVE;
# "prefixed" has no TLS and keeps its folders under "INBOX.", none marked \Trash. Then runs
# the test program, which finds the servers through IMAP_TEST_* variables.
#   run-with-dovecot.sh TEST_PROGRAM [GTEST_ARGS...]
set -u
PROGRAM=$(realpath "$1")
shift
WORLD=$(mktemp -d /tmp/vexa-imap-test.XXXXXX)
PASSWORD=imap-test-secret
# shellcheck source=../support/dovecot_conf.sh
source "$(dirname "$(realpath "$0")")/../support/dovecot_conf.sh"

cleanup() {
    local pid
    for pid in $(cat "$WORLD"/*/run/master.pid 2>/dev/null); do kill "$pid" 2>/dev/null; done
    sleep 0.2
    for pid in $(cat "$WORLD"/*/run/master.pid 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    rm -rf "$WORLD"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

user=$(id -un)
uid=$(id -u)
gid=$(id -g)
as_root=false
login_user=$user internal_user=$user internal_group=$(id -gn)
if [[ $uid == 0 ]]; then
    # Dovecot never gives root access to mail: as root (CI) the mail belongs to nobody, and
    # Dovecot's own processes run as its Debian system users.
    as_root=true user=nobody uid=$(id -u nobody) gid=$(id -g nobody)
    login_user=dovenull internal_user=dovecot internal_group=dovecot
    chmod 711 "$WORLD"
fi

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext subjectAltName=DNS:localhost \
    -keyout "$WORLD/key.pem" -out "$WORLD/cert.pem" 2>/dev/null || { echo "openssl failed"; exit 1; }
# A second CA, which signed nothing the servers show.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext subjectAltName=DNS:localhost \
    -keyout "$WORLD/other-key.pem" -out "$WORLD/other-ca.pem" 2>/dev/null || { echo "openssl failed"; exit 1; }

# The Inbox's namespace of most servers: no prefix, the Trash marked \Trash.
trash_namespace='namespace inbox {
  inbox = yes
  separator = .
  mailbox Trash {
    special_use = \Trash
    auto = create
  }
}'

# start_server NAME IMAP_PORT IMAPS_PORT SETTINGS [NAMESPACE]: writes $WORLD/NAME/dovecot.conf
# and starts it.
start_server() {
    local name=$1 imap_port=$2 imaps_port=$3 extra=$4 namespace=${5:-$trash_namespace}
    local dir="$WORLD/$name"
    mkdir -p "$dir/run" "$dir/state" "$dir/mail"
    $as_root && chown "$uid:$gid" "$dir/mail"
    echo "$user:{PLAIN}$PASSWORD:::::" >"$dir/users"
    cat >"$dir/dovecot.conf" <<CONF
$(dovecot_base "$dir")
mail_location = maildir:$dir/mail
mail_uid = $uid
mail_gid = $gid
auth_mechanisms = plain login
$namespace
$(dovecot_users_and_services "$dir/users" "$imap_port" "$imaps_port")
$extra
CONF
    dovecot -c "$dir/dovecot.conf" || { echo "dovecot $name did not start: $(tail -5 "$dir/dovecot.log")"; exit 1; }
    local _
    for _ in $(seq 100); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1', $imap_port), 1).close()" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "dovecot $name does not answer on port $imap_port"
    exit 1
}

full_imap=$(free_port) full_imaps=$(free_port) plain_imap=$(free_port) closed=$(free_port)
prefixed_imap=$(free_port)
start_server full "$full_imap" "$full_imaps" "ssl = yes
ssl_cert = <$WORLD/cert.pem
ssl_key = <$WORLD/key.pem"
start_server plain "$plain_imap" 0 "ssl = no
disable_plaintext_auth = no
protocol imap {
  imap_capability = IMAP4rev1 LITERAL+ SASL-IR LOGIN-REFERRALS ID ENABLE IDLE SORT NAMESPACE CHILDREN UIDPLUS SPECIAL-USE
}"
# "prefixed" keeps every folder under "INBOX." and marks none \Trash, as Courier and Cyrus do.
start_server prefixed "$prefixed_imap" 0 "ssl = no
disable_plaintext_auth = no" "namespace inbox {
  inbox = yes
  separator = .
  prefix = INBOX.
}"

# deliver SERVER FILE: stores FILE unchanged in that server's INBOX (doveadm takes the mail
# user's identity itself).
cat >"$WORLD/deliver" <<SH
#!/bin/sh
exec doveadm -c "$WORLD/\$1/dovecot.conf" save -u "$user" -m INBOX <"\$2"
SH
chmod 755 "$WORLD/deliver"
chmod 644 "$WORLD/cert.pem" "$WORLD/other-ca.pem"

export IMAP_TEST_USER=$user IMAP_TEST_PASSWORD=$PASSWORD IMAP_TEST_CA=$WORLD/cert.pem IMAP_TEST_OTHER_CA=$WORLD/other-ca.pem
export IMAP_TEST_STARTTLS_PORT=$full_imap IMAP_TEST_IMAPS_PORT=$full_imaps IMAP_TEST_PLAIN_PORT=$plain_imap
export IMAP_TEST_PREFIXED_PORT=$prefixed_imap IMAP_TEST_CLOSED_PORT=$closed IMAP_TEST_DELIVER=$WORLD/deliver IMAP_TEST_WORLD=$WORLD
"$PROGRAM" "$@"
status=$?
if grep -E 'Panic|Fatal' "$WORLD"/*/dovecot.log; then status=1; fi
exit $status
