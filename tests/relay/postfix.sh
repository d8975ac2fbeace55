# shellcheck shell=bash
# A throw-away Postfix on 127.0.0.1 playing a user's real submission server (sourced by the relay
# tests and by bench/relay-bench.sh): STARTTLS required, AUTH required (SASL through a Dovecot
# auth socket fed from a passwd-file), every accepted mail delivered into one Maildir.
#
#   postfix_start DIR   configures and starts both servers under DIR; sets POSTFIX_PORT,
#                       POSTFIX_MAILDIR (new mail lands in its new/), POSTFIX_CA (the throw-away
#                       CA that signed the server's certificate, also good for other servers),
#                       POSTFIX_CERT, POSTFIX_KEY, POSTFIX_USER and POSTFIX_PASSWORD. Returns 0 when
#                       both answer, 2 when not run as root (Postfix cannot start then), 1 otherwise
#                       (the reason on stderr).
#   postfix_stop        stops both (safe to call twice, or when nothing started).
#   postfix_delivered   how many mails the Maildir holds.
#
# Needs postfix, dovecot, openssl and python3.

POSTFIX_USER=ann
POSTFIX_PASSWORD='s3cret pass'
POSTFIX_DIR=
POSTFIX_DOVECOT_PID=

# free_port: a port of 127.0.0.1 nobody listens on right now.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# wait_port PORT: true once something accepts connections there (at most 10 s).
wait_port() {
    local _
    for _ in $(seq 100); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1', $1), 1).close()" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# A CA and a server certificate for 127.0.0.1 and localhost, valid for two days.
postfix_make_certificates() {
    local tls=$1/tls
    mkdir -p "$tls"
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n' \
        >"$tls/server.ext"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=Relay test CA" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" -keyout "$tls/ca.key" -out "$tls/ca.pem" 2>/dev/null &&
        openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=localhost" \
            -keyout "$tls/server.key" -out "$tls/server.csr" 2>/dev/null &&
        openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
            -extfile "$tls/server.ext" -out "$tls/server.pem" 2>/dev/null || return 1
    chmod 644 "$tls/server.key"  # read by the tests' own servers as well
    # shellcheck disable=SC2034  # for the scripts that source this file
    POSTFIX_CA=$tls/ca.pem
    POSTFIX_CERT=$tls/server.pem
    POSTFIX_KEY=$tls/server.key
}

# Dovecot as nothing but Postfix's SASL backend: no mail protocol, one auth socket.
postfix_start_dovecot() {
    local dir=$1/dovecot
    mkdir -p "$dir/run" "$dir/state"
    printf '%s:{PLAIN}%s:65534:65534::%s::\n' "$POSTFIX_USER" "$POSTFIX_PASSWORD" "$dir" >"$dir/users"
    cat >"$dir/dovecot.conf" <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
protocols = none
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
default_internal_user = dovecot
default_internal_group = dovecot
default_login_user = dovenull
passdb {
  driver = passwd-file
  args = $dir/users
}
userdb {
  driver = passwd-file
  args = $dir/users
}
service auth {
  user = root
  unix_listener $1/queue/private/auth {
    mode = 0660
    user = postfix
    group = postfix
  }
}
service auth-worker {
  user = root
}
service stats {
  unix_listener stats-reader {
    mode = 0600
  }
  unix_listener stats-writer {
    mode = 0600
  }
}
CONF
    dovecot -c "$dir/dovecot.conf" || { echo "dovecot did not start: $(tail -5 "$dir/dovecot.log" 2>/dev/null)" >&2; return 1; }
    local _
    for _ in $(seq 100); do [[ -s "$dir/run/master.pid" && -S "$1/queue/private/auth" ]] && break; sleep 0.05; done
    POSTFIX_DOVECOT_PID=$(cat "$dir/run/master.pid" 2>/dev/null)
    [[ -S "$1/queue/private/auth" ]] || { echo "dovecot made no auth socket: $(tail -5 "$dir/dovecot.log")" >&2; return 1; }
}

postfix_start() {
    if [[ $(id -u) != 0 ]]; then
        echo "SKIP: Postfix starts only as root; this run is not root" >&2
        return 2
    fi
    local tool
    for tool in postfix postconf dovecot openssl python3; do
        command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps installs it)" >&2; return 1; }
    done
    POSTFIX_DIR=$1
    local conf=$POSTFIX_DIR/etc queue=$POSTFIX_DIR/queue
    mkdir -p "$conf" "$queue" "$POSTFIX_DIR/data" "$POSTFIX_DIR/mail"
    chmod 755 "$POSTFIX_DIR" "$POSTFIX_DIR/mail"
    postfix_make_certificates "$POSTFIX_DIR" || { echo "the certificates could not be made" >&2; return 1; }
    POSTFIX_PORT=$(free_port)
    POSTFIX_MAILDIR=$POSTFIX_DIR/mail/Maildir
    mkdir -p "$POSTFIX_MAILDIR"/{cur,new,tmp}
    chown -R nobody:nogroup "$POSTFIX_DIR/mail"
    chown postfix:postfix "$POSTFIX_DIR/data"
    cat >"$conf/main.cf" <<CONF
compatibility_level = 3.6
config_directory = $conf
queue_directory = $queue
data_directory = $POSTFIX_DIR/data
mail_owner = postfix
setgid_group = postdrop
myhostname = upstream.test
mydomain = upstream.test
mydestination =
inet_interfaces = loopback-only
inet_protocols = ipv4
maillog_file = $POSTFIX_DIR/maillog
maillog_file_prefixes = $POSTFIX_DIR
smtputf8_enable = yes
message_size_limit = 60000000
virtual_mailbox_limit = 0
alias_maps =
alias_database =
# Every accepted mail, whatever its recipient, lands in one Maildir the test reads.
virtual_mailbox_domains = efaxsend.com example.org example.net
virtual_mailbox_base = $POSTFIX_DIR/mail
virtual_mailbox_maps = static:Maildir/
virtual_uid_maps = static:65534
virtual_gid_maps = static:65534
virtual_minimum_uid = 100
# A submission server: TLS first, then AUTH, then mail.
smtpd_tls_security_level = encrypt
smtpd_tls_auth_only = yes
smtpd_tls_cert_file = $POSTFIX_CERT
smtpd_tls_key_file = $POSTFIX_KEY
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = dovecot
smtpd_sasl_path = private/auth
smtpd_client_restrictions = permit_sasl_authenticated, reject
smtpd_relay_restrictions = permit_sasl_authenticated, reject
smtpd_recipient_restrictions = permit_sasl_authenticated, reject
smtpd_client_connection_count_limit = 0
smtpd_client_connection_rate_limit = 0
smtpd_client_message_rate_limit = 0
anvil_rate_time_unit = 60s
smtpd_error_sleep_time = 0
smtpd_soft_error_limit = 1000
smtpd_hard_error_limit = 1000
queue_run_delay = 1s
minimal_backoff_time = 1s
maximal_backoff_time = 2s
default_process_limit = 100
CONF
    cat >"$conf/master.cf" <<CONF
127.0.0.1:$POSTFIX_PORT inet n - n - - smtpd
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
virtual   unix  -       n       n       -       -       virtual
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
CONF
    # Postfix makes its queue folders as it starts; Dovecot's socket goes into one of them.
    if ! postfix -c "$conf" start >"$POSTFIX_DIR/start.log" 2>&1; then
        echo "postfix did not start: $(tail -5 "$POSTFIX_DIR/start.log") $(tail -5 "$POSTFIX_DIR/maillog" 2>/dev/null)" >&2
        return 1
    fi
    postfix_start_dovecot "$POSTFIX_DIR" || return 1
    wait_port "$POSTFIX_PORT" || { echo "postfix does not answer on $POSTFIX_PORT: $(tail -5 "$POSTFIX_DIR/maillog")" >&2; return 1; }
}

postfix_stop() {
    if [[ -n "$POSTFIX_DIR" && -f "$POSTFIX_DIR/etc/main.cf" ]]; then
        local _ master
        master=$(tr -dc 0-9 <"$POSTFIX_DIR/queue/pid/master.pid" 2>/dev/null)
        postfix -c "$POSTFIX_DIR/etc" stop >/dev/null 2>&1
        for _ in $(seq 50); do
            if [[ -z "$master" ]] || ! kill -0 "$master" 2>/dev/null; then break; fi
            sleep 0.1
        done
    fi
    if [[ -n "$POSTFIX_DOVECOT_PID" ]]; then
        kill "$POSTFIX_DOVECOT_PID" 2>/dev/null
        local _
        for _ in $(seq 50); do kill -0 "$POSTFIX_DOVECOT_PID" 2>/dev/null || break; sleep 0.1; done
        POSTFIX_DOVECOT_PID=
    fi
    POSTFIX_DIR=
}

postfix_delivered() { find "$POSTFIX_MAILDIR/new" "$POSTFIX_MAILDIR/cur" -type f 2>/dev/null | wc -l; }
