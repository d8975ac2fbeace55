#!/usr/bin/env bash
# A throw-away Cyrus IMAP server on 127.0.0.1, in a temporary directory with its own imapd.conf
# and cyrus.conf: the classic layout, every folder under "INBOX." with "." between names, and no
# folder marked \Trash; plain text, a SASL password database of its own, the INBOX created at the
# first login. Then runs the test program, which finds the server through IMAP_TEST_* variables.
#   run-with-cyrus.sh TEST_PROGRAM [ARGS...]
set -u
PROGRAM=$(realpath "$1")
shift
WORLD=$(mktemp -d /tmp/vexa-cyrus-test.XXXXXX)
PASSWORD=imap-test-secret
USER_NAME=vexatest
CYRUS=/usr/lib/cyrus/bin

cleanup() {
    local pid _
    pid=$(cat "$WORLD/master.pid" 2>/dev/null)
    if [[ -n $pid ]]; then
        kill "$pid" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
    fi
    rm -rf "$WORLD"
}
trap cleanup EXIT
trap "exit 1" INT TERM

# imapd comes from cyrus-imapd, which Debian does not install beside dovecot-imapd: where both
# servers are tested, scripts/install-deps unpacks it alone into /usr/local/lib/vexa-tests.
IMAPD=
for candidate in "${VEXA_TEST_CYRUS_IMAPD:-}" "$CYRUS/imapd" /usr/local/lib/vexa-tests/cyrus/imapd; do
    [[ -n $candidate && -x $candidate ]] && { IMAPD=$candidate; break; }
done
if [[ ! -x $CYRUS/master || -z $IMAPD ]] || ! command -v saslpasswd2 >/dev/null; then
    echo "skipped: Cyrus IMAP is missing (cyrus-common, sasl2-bin and cyrus-imapd's imapd: scripts/install-deps)"
    exit 77
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# Cyrus never runs as root: as root (CI) it becomes Debian's cyrus user, who then owns the
# server's directories; otherwise it runs as the user running the tests.
cyrus_user=$(id -un)
[[ $(id -u) == 0 ]] && cyrus_user=cyrus
chmod 711 "$WORLD"
install -d -m 700 "$WORLD"/{config,spool,sieve} "$WORLD"/config/{db,proc,socket,log,lock}
cat >"$WORLD/imapd.conf" <<CONF
configdirectory: $WORLD/config
partition-default: $WORLD/spool
sievedir: $WORLD/sieve
lmtpsocket: $WORLD/config/socket/lmtp
idlesocket: $WORLD/config/socket/idle
notifysocket: $WORLD/config/socket/notify
cyrus_user: $cyrus_user
servername: vexa-test
altnamespace: no
unixhierarchysep: no
allowplaintext: yes
sasl_pwcheck_method: auxprop
sasl_auxprop_plugin: sasldb
sasl_sasldb_path: $WORLD/sasldb2
sasl_mech_list: PLAIN LOGIN
autocreate_quota: 0
syslog_prefix: vexa-test-cyrus
CONF
cat >"$WORLD/cyrus.conf" <<CONF
START {
  recover cmd="$CYRUS/ctl_cyrusdb -C $WORLD/imapd.conf -r"
}
SERVICES {
  imap cmd="$IMAPD -C $WORLD/imapd.conf" listen="127.0.0.1:$port" prefork=0
}
EVENTS {
}
CONF
chmod 600 "$WORLD/imapd.conf" "$WORLD/cyrus.conf"
# The password on standard input, never in an argument.
printf '%s' "$PASSWORD" | saslpasswd2 -p -c -f "$WORLD/sasldb2" -u vexa-test "$USER_NAME" ||
    { echo "saslpasswd2 failed"; exit 1; }
chmod 600 "$WORLD/sasldb2"
chown -R "$cyrus_user" "$WORLD"/{config,spool,sieve,sasldb2,imapd.conf,cyrus.conf}

"$CYRUS/master" -C "$WORLD/imapd.conf" -M "$WORLD/cyrus.conf" -p "$WORLD/master.pid" -d ||
    { echo "cyrus master did not start"; exit 1; }
started=false
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1).close()" 2>/dev/null &&
        { started=true; break; }
    sleep 0.1
done
$started || { echo "cyrus does not answer on port $port"; exit 1; }

export IMAP_TEST_USER=$USER_NAME IMAP_TEST_PASSWORD=$PASSWORD IMAP_TEST_PREFIXED_PORT=$port IMAP_TEST_WORLD=$WORLD
"$PROGRAM" "$@"
