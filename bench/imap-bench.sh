#!/usr/bin/env bash
# vexa over IMAP on a throw-away local Dovecot (the one tests/imap/run-with-dovecot.sh starts):
# the rate of `vexa scan --imap` over COUNT faxes, and the time from a delivery to its line from
# `vexa watch --imap` (which prints it once the row is committed), median and slowest over
# DELIVERIES deliveries.
#
#   bench/imap-bench.sh [-n COUNT] [-s ATTACHMENT_KB] [-d DELIVERIES] [-b VEXA_BINARY]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z ${IMAP_TEST_WORLD:-} ]]; then
    count=1000 size_kb=20 deliveries=50 vexa=$here/../build/release/apps/vexa/vexa
    while getopts ':n:s:d:b:' opt; do
        case $opt in
            n) count=$OPTARG ;;
            s) size_kb=$OPTARG ;;
            d) deliveries=$OPTARG ;;
            b) vexa=$OPTARG ;;
            *) sed -n '7p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
        esac
    done
    [[ -x $vexa ]] || { echo "imap-bench: not an executable file: $vexa" >&2; exit 1; }
    exec bash "$here/../tests/imap/run-with-dovecot.sh" "${BASH_SOURCE[0]}" "$(realpath "$vexa")" "$count" "$size_kb" "$deliveries"
fi

# Inside the servers' world.
vexa=$1 count=$2 size_kb=$3 deliveries=$4
work=$IMAP_TEST_WORLD/bench
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share XDG_RUNTIME_DIR=$work/run
export VEXA_IMAP_PASSWORD=$IMAP_TEST_PASSWORD
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$work/mails"
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$vexa" init >/dev/null
url="imaps://$IMAP_TEST_USER@localhost:$IMAP_TEST_IMAPS_PORT"

python3 - "$work/mails" "$((count + deliveries))" "$size_kb" <<'PY'
import base64, os, sys
folder, count, kib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(1, count + 1):
    body = base64.encodebytes(b'II*\0' + os.urandom(kib * 1024 - 4)).replace(b'\n', b'\r\n')
    head = ('From: eFax <message@inbound.efax.com>\r\nTo: ann@example.org\r\n'
            'Date: Tue, 14 Mar 2023 08:15:37 +0000\r\nSubject: eFax message %d\r\n'
            'Message-ID: <bench.%d@inbound.efax.com>\r\nMIME-Version: 1.0\r\n'
            'Content-Type: multipart/mixed; boundary="b"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n'
            '* The reference number for this fax is BN%06d.\r\n\r\n--b\r\n'
            'Content-Type: image/tiff; name="fax.tif"\r\nContent-Transfer-Encoding: base64\r\n\r\n' % (i, i, i))
    with open(os.path.join(folder, '%06d.eml' % i), 'wb') as f:
        f.write(head.encode() + body + b'--b--\r\n')
PY
echo "delivering $count faxes of $size_kb KiB" >&2
for ((i = 1; i <= count; i++)); do "$IMAP_TEST_DELIVER" full "$(printf '%s/%06d.eml' "$work/mails" "$i")"; done

/usr/bin/time -f '%e %M' -o "$work/scan.time" "$vexa" scan --imap "$url" --ca-file "$IMAP_TEST_CA" >"$work/scan.out"
read -r seconds peak <"$work/scan.time"
printf 'scan --imap: %d faxes in %s s, %.1f msg/s, peak RSS %.1f MiB (%s)\n' "$count" "$seconds" \
    "$(awk -v n="$count" -v s="$seconds" 'BEGIN { print (s > 0 ? n / s : 0) }')" \
    "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "$(cat "$work/scan.out")"

"$vexa" watch --imap "$url" --ca-file "$IMAP_TEST_CA" >"$work/watch.out" 2>"$work/watch.err" &
watcher=$!
trap 'kill "$watcher" 2>/dev/null' EXIT
for _ in $(seq 100); do grep -q '^Watching' "$work/watch.out" && break; sleep 0.1; done
latencies=()
for ((i = 1; i <= deliveries; i++)); do
    before=$(grep -c 'incoming fax' "$work/watch.out" || true)
    start=$(date +%s%N)
    "$IMAP_TEST_DELIVER" full "$(printf '%s/%06d.eml' "$work/mails" "$((count + i))")"
    for _ in $(seq 2000); do
        (($(grep -c 'incoming fax' "$work/watch.out" || true) > before)) && break
        sleep 0.005
    done
    latencies+=("$((($(date +%s%N) - start) / 1000000))")
    sleep 0.2
done
printf '%s\n' "${latencies[@]}" | sort -n | awk -v n="$deliveries" '
    { t[NR] = $1 } END { printf "watch --imap: delivery to row over %d deliveries: median %d ms, slowest %d ms\n", n, t[int((n + 1) / 2)], t[n] }'
