#!/usr/bin/env bash
# Sending through `vexa relay` beside sending straight to the same submission server: COUNT
# ordinary mails and COUNT faxes, each way, on loopback.
#
#   bench/relay-bench.sh [-n COUNT] [-r ROUNDS] [-p PER_CONNECTION] [-v VEXA_BINARY] [-k]
#
#   -n COUNT           ordinary mails, and as many faxes (default 1000)
#   -r ROUNDS          rounds of each comparison, at least 3: median and spread (default 3)
#   -p PER_CONNECTION  mails sent over one connection before the sender opens the next (default 100)
#   -v VEXA_BINARY     default build/release/apps/vexa/vexa in this repository
#   -k                 keep the work folder (Postfix's maillog, the relays' logs) to look at afterwards
#
# The upstream is the relay tests' throw-away Postfix (tests/relay/postfix.sh: STARTTLS and AUTH
# required, every mail delivered into one Maildir), so the bench runs as root, as Postfix must.
# One sender program (smtplib, tests/relay/smtp_client.py bench) sends each batch the same way on
# both sides: to Postfix with STARTTLS and AUTH, to the relay in the clear on loopback as a mail
# program of the relay's own user does (the relay itself logs in to Postfix with STARTTLS and AUTH).
# The mails are generated once; every run sends a fresh copy of them and the relay archives the
# faxes into a fresh installation; everything is synced before each run, the order alternates
# between rounds, and each run waits for Postfix to have delivered the one before. What is timed
# is the sender's: from its first connection until the last mail is taken (250). The machine's
# load is printed before and after: figures taken while something else runs are noisy.
set -euo pipefail
export LC_ALL=C
umask 022  # Postfix's processes read what the bench makes

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
die() { echo "relay-bench: $*" >&2; exit 1; }

count=1000 rounds=3 per_connection=100 keep=
vexa=$repo/build/release/apps/vexa/vexa
while getopts ':n:r:p:v:k' opt; do
    case $opt in
        n) count=$OPTARG ;;
        r) rounds=$OPTARG ;;
        p) per_connection=$OPTARG ;;
        v) vexa=$OPTARG ;;
        k) keep=1 ;;
        *) sed -n '5,11p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
    esac
done
for n in "$count" "$rounds" "$per_connection"; do
    [[ $n =~ ^[1-9][0-9]*$ ]] || die "not a positive whole number: $n"
done
((rounds >= 3)) || die "at least 3 rounds (-r), for a median and a spread"
vexa=$(realpath "$vexa")
[[ -x $vexa ]] || die "not an executable file: $vexa"
sender=(python3 "$repo/tests/relay/smtp_client.py" bench)

# shellcheck source=../tests/relay/postfix.sh
source "$repo/tests/relay/postfix.sh"
work=$(mktemp -d)
chmod 711 "$work"
relay_pid=
cleanup() {
    [[ -n "$relay_pid" ]] && kill "$relay_pid" 2>/dev/null && wait "$relay_pid" 2>/dev/null
    postfix_stop
    if [[ -n "$keep" ]]; then echo "kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 143' INT TERM

status=0
postfix_start "$work/postfix" || status=$?
((status == 0)) || die "the Postfix upstream did not start (it starts only as root)"
export SMTP_PASSWORD=$POSTFIX_PASSWORD

# ---- the mails, generated once ------------------------------------------------------------------

mkdir -p "$work/input/ordinary" "$work/input/faxes"
python3 - "$repo/samples/mail" "$work/input" "$count" <<'PY'
import re, sys
samples, out, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
ordinary = open(samples + "/07-unrelated.eml", "rb").read()
fax = open(samples + "/04-outgoing-fax.eml", "rb").read()
for n in range(1, count + 1):
    own = lambda m, kind: re.sub(rb"(?m)^Message-ID: <[^@]*@", b"Message-ID: <%s-%d@" % (kind, n),
                                 re.sub(rb"(?m)^Subject: ([^\r\n]*)", rb"Subject: \1 %d" % n, m))
    open("%s/ordinary/%05d.eml" % (out, n), "wb").write(own(re.sub(rb"(?m)^Cc: [^\n]*\n", b"", ordinary), b"mail"))
    open("%s/faxes/%05d.eml" % (out, n), "wb").write(own(fax, b"fax"))
PY

# ---- the runs -----------------------------------------------------------------------------------

relay_port=$(free_port)
delivered_so_far=0

# start_relay HOME: a fresh installation under HOME with the relay pointed at Postfix.
start_relay() {
    export HOME=$1 XDG_CONFIG_HOME=$1/.config XDG_DATA_HOME=$1/.local/share
    mkdir -p "$XDG_CONFIG_HOME/vexa" "$XDG_DATA_HOME"
    "$vexa" init >/dev/null 2>&1 || die "vexa init failed"
    printf '#!/bin/sh\necho "%s"\n' "$POSTFIX_PASSWORD" >"$HOME/password"
    chmod 700 "$HOME/password"
    printf '[Relay]\nUpstream=smtp://127.0.0.1:%s\nUser=%s\nPasswordCommand=%s\nCaFile=%s\n' \
        "$POSTFIX_PORT" "$POSTFIX_USER" "$HOME/password" "$POSTFIX_CA" >"$XDG_CONFIG_HOME/vexa/settings.ini"
    "$vexa" relay --listen "127.0.0.1:$relay_port" </dev/null 2>"$HOME/relay.log" &
    relay_pid=$!
    wait_port "$relay_port" || die "the relay does not answer: $(tail -n 5 "$HOME/relay.log")"
}

stop_relay() {
    kill -TERM "$relay_pid"
    wait "$relay_pid" || die "the relay exited with status $?"
    relay_pid=
}

upstream_connections() { grep -c 'postfix/smtpd\[[0-9]*\]: connect from' "$work/postfix/maillog" || true; }

# run KIND SIDE ROUND: one timed batch; sets seconds, and connections (how many Postfix took).
run() {
    local kind=$1 side=$2 dir=$work/run-$3-$1-$2 _ connections_before
    connections_before=$(upstream_connections)
    cp -r "$work/input/$kind" "$dir"
    if [[ $side == relay ]]; then start_relay "$dir.home"; fi
    sync
    if [[ $side == relay ]]; then
        seconds=$("${sender[@]}" "$relay_port" "$per_connection" - - "$dir"/*.eml) || die "the relay refused a mail"
        stop_relay
        if [[ $kind == faxes ]]; then
            local rows
            rows=$(sqlite3 "$XDG_DATA_HOME/vexa/Corvane.mdb" "SELECT count(*) FROM send")
            ((rows == count)) || die "$rows faxes recorded, $count sent"
        fi
    else
        seconds=$("${sender[@]}" "$POSTFIX_PORT" "$per_connection" "$POSTFIX_CA" "$POSTFIX_USER" "$dir"/*.eml) ||
            die "Postfix refused a mail"
    fi
    delivered_so_far=$((delivered_so_far + count))
    for _ in $(seq 1200); do  # at most 2 minutes for Postfix to deliver this batch
        (($(postfix_delivered) >= delivered_so_far)) && break
        sleep 0.1
    done
    (($(postfix_delivered) >= delivered_so_far)) || die "Postfix delivered $(postfix_delivered) of $delivered_so_far"
    connections=$(($(upstream_connections) - connections_before))
}

# summary COUNT SECONDS...: "M A B R": the median, the fastest and slowest run, and the median's rate.
summary() {
    local n=$1
    shift
    printf '%s\n' "$@" | sort -g | awk -v n="$n" '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        print m, v[1], v[NR], n / m }'
}

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "relay-bench: $count ordinary mails and $count faxes, $rounds rounds, $per_connection mails a connection"
echo "load average before: $(load)"
declare -A times
for kind in ordinary faxes; do
    for ((r = 1; r <= rounds; r++)); do
        order=(relay direct)
        ((r % 2)) || order=(direct relay)
        line="$kind round $r:"
        for side in "${order[@]}"; do
            run "$kind" "$side" "$r"
            times[$kind.$side]+=" $seconds"
            line+=" $side $seconds s ($connections connections to Postfix)"
        done
        echo "$line"
    done
done
echo "load average after: $(load)"
echo
for kind in ordinary faxes; do
    # shellcheck disable=SC2086
    read -r relay relay_low relay_high relay_rate <<<"$(summary "$count" ${times[$kind.relay]})"
    # shellcheck disable=SC2086
    read -r direct direct_low direct_high direct_rate <<<"$(summary "$count" ${times[$kind.direct]})"
    awk -v k="$kind" -v r="$relay" -v rl="$relay_low" -v rh="$relay_high" -v rr="$relay_rate" \
        -v d="$direct" -v dl="$direct_low" -v dh="$direct_high" -v dr="$direct_rate" 'BEGIN {
        printf "%-8s through the relay: median %.2f s (spread %.2f-%.2f s), %.0f mails/s\n", k, r, rl, rh, rr
        printf "%-8s straight to Postfix: median %.2f s (spread %.2f-%.2f s), %.0f mails/s\n", k, d, dl, dh, dr
        printf "%-8s the relay takes %.2f times as long (%+.0f %%)\n", k, r / d, (r / d - 1) * 100 }'
done
