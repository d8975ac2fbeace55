#!/usr/bin/env bash
# `vexa scan --imap` beside mbsync on the same faxes, on loopback and through a link with a round
# trip of DELAY ms; then an Inbox of ordinary mail with a few faxes among it, where what counts is
# what vexa makes the server send (ordinary mail is none of its business) and the time it takes.
#
#   bench/imap-bench.sh [-n FAXES] [-s ATTACHMENT_KB] [-o ORDINARY] [-f FAXES_AMONG] [-d DELAY_MS]
#                       [-r ROUNDS] [-v VEXA_BINARY] [-b BASELINE_VEXA] [-F] [-O]
#
#   -n FAXES          faxes for the comparison with mbsync (default 1000)
#   -s ATTACHMENT_KB  their attachment size before base64, in KiB (default 20)
#   -o ORDINARY       ordinary mails of the second case (default 5000)
#   -f FAXES_AMONG    faxes among them (default 50)
#   -d DELAY_MS       the slow link's round trip, through tests/support/tcp-proxy.py (default 20)
#   -r ROUNDS         rounds of each comparison, at least 3: median and spread (default 3)
#   -v VEXA_BINARY    default build/release/apps/vexa/vexa in this repository
#   -b BASELINE_VEXA  a second vexa (say, a build of main) beside the first in the second case
#   -F / -O           the faxes case only / the ordinary-mail case only
#
# A throw-away Dovecot on 127.0.0.1 (imaps with a certificate made here, MOVE, the settings of
# tests/support/dovecot_conf.sh) has a user for each run of each program. The mails are generated
# once (faxes by bench/generate-faxes.py, each with its own Message-ID); each run gets a fresh
# mailbox, its files written into its user's Maildir and indexed by Dovecot (doveadm) before
# anything is timed, both of a round synced before the first program runs, and the order
# alternates between rounds. Nothing is deleted before the end: on ext4, files deleted within the
# last half-minute make creating files slow (see scan-compare.sh below in README.md). mbsync (Debian package isync, `FSync no`) pulls the Inbox into a Maildir of its
# own; vexa scans it into a fresh installation, archiving each fax (its row and attachment durable)
# and moving it on the server. Bytes sent are Dovecot's own count at logout (out=). The machine's
# load is printed before and after: figures taken while something else runs are noisy.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
die() { echo "imap-bench: $*" >&2; exit 1; }

faxes=1000 size_kb=20 ordinary=5000 among=50 delay=20 rounds=3 baseline= cases="faxes ordinary"
vexa=$repo/build/release/apps/vexa/vexa
while getopts ':n:s:o:f:d:r:v:b:FO' opt; do
    case $opt in
        n) faxes=$OPTARG ;;
        s) size_kb=$OPTARG ;;
        o) ordinary=$OPTARG ;;
        f) among=$OPTARG ;;
        d) delay=$OPTARG ;;
        r) rounds=$OPTARG ;;
        v) vexa=$OPTARG ;;
        b) baseline=$OPTARG ;;
        F) cases=faxes ;;
        O) cases=ordinary ;;
        *) sed -n '6,18p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
    esac
done
for n in "$faxes" "$size_kb" "$ordinary" "$among" "$delay" "$rounds"; do
    [[ $n =~ ^[1-9][0-9]*$ ]] || die "not a positive whole number: $n"
done
((rounds >= 3)) || die "at least 3 rounds (-r), for a median and a spread"
vexa=$(realpath "$vexa")
[[ -x $vexa ]] || die "not an executable file: $vexa"
if [[ -n $baseline ]]; then
    baseline=$(realpath "$baseline")
    [[ -x $baseline ]] || die "not an executable file: $baseline"
fi
for tool in mbsync dovecot doveadm python3 openssl; do
    command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps installs it)"
done
[[ -x /usr/bin/time ]] || die "/usr/bin/time is missing (Debian: apt-get install time)"

work=$(mktemp -d "${TMPDIR:-/tmp}/vexa-imap-bench.XXXXXX")
proxy=
cleanup() {
    [[ -n $proxy ]] && kill "$proxy" 2>/dev/null
    local pid
    pid=$(cat "$work/dovecot/run/master.pid" 2>/dev/null) && kill "$pid" 2>/dev/null && sleep 0.3
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The server: as root the mail belongs to nobody, as in tests/imap/run-with-dovecot.sh.
source "$repo/tests/support/dovecot_conf.sh"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
owner=$(id -un) login_user=$(id -un) internal_user=$(id -un) internal_group=$(id -gn)
if [[ $(id -u) == 0 ]]; then
    owner=nobody login_user=dovenull internal_user=dovecot internal_group=dovecot
    chmod 711 "$work"
fi
uid=$(id -u "$owner") gid=$(id -g "$owner")
server=$work/dovecot port=$(free_port)
password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=')
mkdir -p "$server/run" "$server/state" "$server/homes"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext subjectAltName=DNS:localhost \
    -keyout "$server/key.pem" -out "$server/cert.pem" 2>/dev/null || die "openssl failed"
chmod 644 "$server/cert.pem"
# A user per run: f.LINK.ROUND.PROGRAM for the faxes, o.ROUND.PROGRAM for the ordinary mail.
for ((r = 1; r <= rounds; r++)); do
    for program in vexa mbsync baseline; do
        for user in "f.loopback.$r.$program" "f.slow.$r.$program" "o.$r.$program"; do
            echo "$user:{PLAIN}$password:$uid:$gid::$server/homes/$user::"
        done
    done
done >"$server/users"
chmod 600 "$server/users"
cat >"$server/dovecot.conf" <<CONF
$(dovecot_base "$server")
mail_location = maildir:~/Maildir
auth_mechanisms = plain login
ssl = yes
ssl_cert = <$server/cert.pem
ssl_key = <$server/key.pem
namespace inbox {
  inbox = yes
  separator = .
}
$(dovecot_users_and_services "$server/users" 0 "$port")
CONF
dovecot -c "$server/dovecot.conf" || die "dovecot did not start: $(tail -5 "$server/dovecot.log")"
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1).close()" 2>/dev/null && break
    sleep 0.05
done
printf '%s' "$password" >"$work/password"
chmod 600 "$work/password"
python3 "$repo/tests/support/tcp-proxy.py" "$port" --delay-ms "$delay" --port-file "$work/proxy.port" &
proxy=$!
for _ in $(seq 100); do [[ -s $work/proxy.port ]] && break; sleep 0.05; done
slow_port=$(cat "$work/proxy.port")

# fill USER MAILS...: USER's Inbox holding the mails of the folders MAILS, indexed by Dovecot, so
# that no program pays for the indexing.
fill() {
    local user=$1 home=$server/homes/$1
    shift
    mkdir -p "$home/Maildir"/{cur,new,tmp}
    local mails
    for mails in "$@"; do cp "$mails"/* "$home/Maildir/new/"; done
    chown -R "$uid:$gid" "$home"
    doveadm -c "$server/dovecot.conf" mailbox status -u "$user" messages INBOX >/dev/null || die "doveadm failed"
}

# bytes_sent USER FROM_LINE: what the server sent USER's IMAP sessions that ended after that line
# of its log.
bytes_sent() {
    tail -n "+$(($2 + 1))" "$server/dovecot.log" | grep "imap($1)" |
        sed -n 's/.*Logged out in=[0-9]* out=\([0-9]*\).*/\1/p' | awk '{ sum += $1 } END { print sum + 0 }'
}
log_lines() { wc -l <"$server/dovecot.log"; }

# run_vexa BINARY USER PORT EXPECTED: a fresh installation, then the timed scan of USER's Inbox
# on PORT; sets SECONDS_TAKEN and BYTES_SENT. EXPECTED is the count of faxes it must archive.
run_vexa() {
    local binary=$1 user=$2 port=$3 expected=$4 home=$work/run/$2 lines
    mkdir -p "$home/.config" "$home/.local/share" "$home/run"
    chmod 700 "$home/run"
    local -x HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home/run
    "$binary" init >/dev/null || die "vexa init failed"
    lines=$(log_lines)
    VEXA_IMAP_PASSWORD=$password /usr/bin/time -o "$home/time" -f '%e' "$binary" scan \
        --imap "imaps://$user@localhost:$port" --ca-file "$server/cert.pem" >"$home/out" 2>"$home/err" ||
        die "vexa scan failed: $(cat "$home/out" "$home/err")"
    grep -q "^$expected archived as incoming faxes" "$home/out" || die "vexa: $(cat "$home/out")"
    sleep 0.2  # the logout line is written once the server's process ends
    SECONDS_TAKEN=$(cat "$home/time") BYTES_SENT=$(bytes_sent "$user" "$lines")
}

# run_mbsync USER PORT EXPECTED: the timed pull of USER's Inbox into a fresh Maildir; sets
# SECONDS_TAKEN and BYTES_SENT.
run_mbsync() {
    local user=$1 port=$2 expected=$3 home=$work/run/$1 lines
    mkdir -p "$home/Maildir"
    cat >"$home/mbsyncrc" <<RC
FSync no
IMAPAccount bench
Host localhost
Port $port
User $user
PassCmd "cat $work/password"
SSLType IMAPS
CertificateFile $server/cert.pem

IMAPStore far
Account bench

MaildirStore near
Path $home/Maildir/
Inbox $home/Maildir/INBOX

Channel inbox
Far :far:
Near :near:
Patterns INBOX
Sync Pull
Create Near
Expunge None
SyncState *
RC
    chmod 600 "$home/mbsyncrc"
    lines=$(log_lines)
    /usr/bin/time -o "$home/time" -f '%e' mbsync -q -c "$home/mbsyncrc" inbox >"$home/out" 2>&1 ||
        die "mbsync failed: $(cat "$home/out")"
    local got
    got=$(find "$home/Maildir/INBOX" -type f -path '*/cur/*' -o -type f -path '*/new/*' | wc -l)
    ((got == expected)) || die "mbsync pulled $got of $expected mails"
    sleep 0.2
    SECONDS_TAKEN=$(cat "$home/time") BYTES_SENT=$(bytes_sent "$user" "$lines")
}

rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.1f", (s > 0 ? n / s : 0) }'; }
summary() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "median %s, spread %s-%s", m, v[1], v[NR] }'
}
load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "load before: $(load)"
generated=$work/mails
if [[ $cases == *faxes* ]]; then
    mkdir -p "$generated/faxes"
    python3 "$here/generate-faxes.py" "$generated/faxes" "$faxes" "$size_kb"
    declare -A rates=()
    for link in loopback "${delay}ms"; do
        target=$port
        [[ $link == loopback ]] || target=$slow_port
        users=f.loopback
        [[ $link == loopback ]] || users=f.slow
        for ((r = 1; r <= rounds; r++)); do
            fill "$users.$r.vexa" "$generated/faxes"
            fill "$users.$r.mbsync" "$generated/faxes"
            sync
            order=(vexa mbsync)
            ((r % 2)) || order=(mbsync vexa)
            line="$link round $r:"
            for program in "${order[@]}"; do
                if [[ $program == vexa ]]; then
                    run_vexa "$vexa" "$users.$r.vexa" "$target" "$faxes"
                else
                    run_mbsync "$users.$r.mbsync" "$target" "$faxes"
                fi
                seconds=$SECONDS_TAKEN
                rates[$link.$program]+="$(rate "$faxes" "$seconds") "
                line+=" $program $(rate "$faxes" "$seconds") msg/s ($seconds s),"
            done
            echo "${line%,}"
        done
        for program in vexa mbsync; do
            # shellcheck disable=SC2086
            printf '%d faxes of %d KiB, %-8s %-6s: %s msg/s\n' "$faxes" "$size_kb" "$link," "$program" \
                "$(summary ${rates[$link.$program]})"
        done
    done
fi

if [[ $cases == *ordinary* ]]; then
    mkdir -p "$generated/among" "$generated/ordinary"
    python3 "$here/generate-faxes.py" "$generated/among" "$among" "$size_kb"
    # Ordinary mail: a text and a photo of about the faxes' size, from people.
    python3 - "$generated/ordinary" "$ordinary" "$size_kb" <<'PY'
import base64, os, sys
folder, count, kib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(1, count + 1):
    photo = base64.encodebytes(os.urandom(kib * 1024)).replace(b'\n', b'\r\n')
    head = ('From: Bob Sample <bob.%d@example.net>\r\nTo: Ann Example <ann@example.org>\r\n'
            'Date: Tue, 14 Mar 2023 16:04:58 +0100\r\nSubject: Photos from Saturday, %d\r\n'
            'Message-ID: <photos.%d@example.net>\r\nMIME-Version: 1.0\r\n'
            'Content-Type: multipart/mixed; boundary="b"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n'
            'Here they are.\r\n\r\n--b\r\nContent-Type: image/jpeg; name="photo.jpg"\r\n'
            'Content-Transfer-Encoding: base64\r\n\r\n' % (i % 50, i, i))
    with open(os.path.join(folder, '1678806298.M%dP%d.ordinary' % (i, os.getpid())), 'wb') as f:
        f.write(head.encode() + photo + b'--b--\r\n')
PY
    total=$(du -sb "$generated/ordinary" | cut -f1)
    programs=(vexa)
    [[ -n $baseline ]] && programs+=(baseline)
    declare -A times=() sent=()
    for ((r = 1; r <= rounds; r++)); do
        for program in "${programs[@]}"; do fill "o.$r.$program" "$generated/ordinary" "$generated/among"; done
        sync
        order=("${programs[@]}")
        ((r % 2)) || order=($(printf '%s\n' "${programs[@]}" | tac))
        line="ordinary round $r:"
        for program in "${order[@]}"; do
            binary=$vexa
            [[ $program == baseline ]] && binary=$baseline
            run_vexa "$binary" "o.$r.$program" "$port" "$among"
            seconds=$SECONDS_TAKEN bytes=$BYTES_SENT
            times[$program]+="$seconds " sent[$program]+="$bytes "
            line+=" $program $seconds s, $bytes bytes sent,"
        done
        echo "${line%,}"
    done
    printf '%d ordinary mails (%d bytes) and %d faxes, loopback:\n' "$ordinary" "$total" "$among"
    for program in "${programs[@]}"; do
        label=$program
        [[ $program == baseline ]] && label="baseline ($baseline)"
        # shellcheck disable=SC2086
        printf '  %s: %s s; bytes sent %s\n' "$label" "$(summary ${times[$program]})" "$(summary ${sent[$program]})"
    done
fi
echo "load after: $(load)"
