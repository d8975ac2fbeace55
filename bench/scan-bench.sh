#!/usr/bin/env bash
# Times `vexa scan` over a Maildir Inbox full of incoming faxes.
#
#   bench/scan-bench.sh [-n COUNT] [-s ATTACHMENT_KB] [-b VEXA_BINARY] [-k]
#
#   -n COUNT          how many incoming fax mails to put in the Inbox (default 1000)
#   -s ATTACHMENT_KB  size of each fax attachment before base64, in KiB (default 100)
#   -b VEXA_BINARY    the vexa binary (default build/release/apps/vexa/vexa in this repository);
#                     a path is used as given, a bare name is looked up in PATH
#   -k                keep the work folder and print where it is, instead of removing it
#
# Everything happens in a throw-away folder from mktemp: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME,
# the installation (`vexa init --home`) and the Maildir (`vexa scan --maildir`). Only the scan is
# timed, with /usr/bin/time (Debian package `time`). Needs bash, coreutils and /usr/bin/time.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)

usage() {
    cat >&2 <<'EOF'
usage: bench/scan-bench.sh [-n COUNT] [-s ATTACHMENT_KB] [-b VEXA_BINARY] [-k]
  -n COUNT          incoming fax mails in the Inbox (default 1000)
  -s ATTACHMENT_KB  size of each attachment before base64, in KiB (default 100)
  -b VEXA_BINARY    the vexa binary (default build/release/apps/vexa/vexa in this repository)
  -k                keep the work folder
EOF
    exit 2
}
die() { echo "scan-bench: $*" >&2; exit 1; }

count=1000
size_kb=100
vexa=$repo/build/release/apps/vexa/vexa
keep=0
while getopts ':n:s:b:kh' opt; do
    case $opt in
        n) count=$OPTARG ;;
        s) size_kb=$OPTARG ;;
        b) vexa=$OPTARG ;;
        k) keep=1 ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
(($# == 0)) || usage
if ! [[ $count =~ ^[0-9]+$ ]] || ((10#$count == 0)); then
    die "COUNT must be a positive whole number: $count"
fi
if ! [[ $size_kb =~ ^[0-9]+$ ]] || ((10#$size_kb == 0)); then
    die "ATTACHMENT_KB must be a positive whole number: $size_kb"
fi
count=$((10#$count))
size_kb=$((10#$size_kb))

if [[ $vexa == */* ]]; then
    [[ -f $vexa && -x $vexa ]] || die "not an executable file: $vexa"
else
    resolved=$(command -v -- "$vexa") || die "not found in PATH: $vexa"
    vexa=$resolved
fi
timer=/usr/bin/time
[[ -x $timer ]] || die "$timer is missing (Debian: apt-get install time)"

work=$(mktemp -d "${TMPDIR:-/tmp}/vexa-bench.XXXXXX")
cleanup() {
    if ((keep)); then
        echo "work folder kept: $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export HOME=$work/home
export XDG_CONFIG_HOME=$HOME/.config
export XDG_DATA_HOME=$HOME/.local/share
install_dir=$work/vexa
maildir=$work/Maildir
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$install_dir" "$maildir"/{cur,new,tmp}

# --- the Inbox: COUNT incoming faxes, each with its own Message-ID, reference and attachment --

bytes=$((size_kb * 1024))
boundary='----=_Part_bench_20230314'
epoch=1678781737 # 2023-03-14 08:15:37 UTC
echo "generating $count mails with $size_kb KiB attachments in $maildir ..." >&2
for ((i = 1; i <= count; i++)); do
    t=$((epoch + i * 7))
    stamp=$(date -u -d "@$t" '+%a, %d %b %Y %H:%M:%S +0000')
    ref=$(printf 'BN%06d-%02d' "$i" $((i % 100)))
    file=$maildir/new/$t.M${i}P$$Q$i.vexa-bench
    {
        printf '%s\r\n' \
            'Return-Path: <message@inbound.efax.com>' \
            'Delivered-To: ann@example.org' \
            'Received: from mx1.inbound.efax.com (mx1.inbound.efax.com [198.51.100.17])' \
            $'\tby mail.example.org (Postfix) with ESMTPS id BENCH'"$i" \
            $'\tfor <ann@example.org>; '"$stamp" \
            "Date: $stamp" \
            'From: eFax <message@inbound.efax.com>' \
            'To: ann@example.org' \
            "Subject: =?ISO-8859-1?Q?eFax_message_from_=22212555$(printf %04d $((i % 10000)))=22_-_1_page=28s=29?=" \
            ' =?ISO-8859-1?Q?=2C_Caller-ID=3A_M=FCller?=' \
            "Message-ID: <bench.$i.$ref@inbound.efax.com>" \
            'MIME-Version: 1.0' \
            "Content-Type: multipart/mixed; boundary=\"$boundary\"" \
            '' \
            'This is a multi-part message in MIME format.' \
            '' \
            "--$boundary" \
            'Content-Type: text/plain; charset=ISO-8859-1' \
            'Content-Transfer-Encoding: quoted-printable' \
            '' \
            'Fax Message [Caller-ID: M=FCller]' \
            '' \
            'You have received a 1 page fax.' \
            '' \
            "* The reference number for this fax is $ref. Thank you for using eFax." \
            '' \
            "--$boundary" \
            "Content-Type: image/tiff; name=\"fax-$i.tif\"" \
            'Content-Transfer-Encoding: base64' \
            "Content-Disposition: attachment; filename=\"fax-$i.tif\"" \
            ''
        # A TIFF header and the mail's number in front of random bytes: no two attachments alike.
        { printf 'II*\0%08d' "$i"; head -c $((bytes - 12)) /dev/urandom; } | base64 -w 76 | paste -d $'\r' - /dev/null
        printf '\r\n--%s--\r\n' "$boundary"
    } >"$file"
done
inbox_bytes=$(du -sb "$maildir/new" | cut -f1)

# --- install, then time the scan -------------------------------------------------------------

echo "vexa init --home $install_dir" >&2
"$vexa" init --home "$install_dir" || die "vexa init failed (exit $?)"

echo "vexa scan --maildir $maildir" >&2
status=0
"$timer" -o "$work/time.out" -f '%e %M' "$vexa" scan --maildir "$maildir" || status=$?
((status == 0)) || die "vexa scan failed (exit $status)"
read -r seconds peak_kb <"$work/time.out" || die "no timing from $timer: $(cat "$work/time.out")"

# Fixed-point arithmetic in bash: seconds come as "12.34".
[[ $seconds =~ ^([0-9]+)\.([0-9]{2})$ ]] || die "unexpected time: $seconds"
centis=$((10#${BASH_REMATCH[1]} * 100 + 10#${BASH_REMATCH[2]}))
if ((centis > 0)); then
    tenths=$((count * 1000 / centis))
    rate="$((tenths / 10)).$((tenths % 10))"
else
    rate="n/a (under 0.01 s)"
fi
mb_tenths=$((peak_kb * 10 / 1024))
shopt -s nullglob
remaining=("$maildir"/new/* "$maildir"/cur/*)
left=${#remaining[@]}

printf 'messages:          %d\n' "$count"
inbox_tenths=$((inbox_bytes * 10 / 1048576))
printf 'attachment size:   %d KiB (%d bytes; Inbox %d.%d MiB on disk)\n' "$size_kb" "$bytes" \
    $((inbox_tenths / 10)) $((inbox_tenths % 10))
printf 'seconds:           %s\n' "$seconds"
printf 'messages/second:   %s\n' "$rate"
printf 'peak RSS:          %d.%d MB\n' $((mb_tenths / 10)) $((mb_tenths % 10))
printf 'left in Inbox:     %d\n' "$left"
