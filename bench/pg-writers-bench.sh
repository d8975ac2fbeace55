#!/usr/bin/env bash
# Several vexa installations archiving into one PostgreSQL archive at once: for 1, 2, 4 and 8
# writers, each with a Maildir of its own holding COUNT/WRITERS faxes, the messages per second of
# all of them together (from the first start to the last end). The server is a throw-away local
# cluster (tests/postgres/run-with-postgres.sh) that syncs its commits (fsync on).
#
#   bench/pg-writers-bench.sh [-n COUNT] [-w "1 2 4 8"] [-b VEXA_BINARY]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z ${VEXA_TEST_PG_URI:-} ]]; then
    count=2000 writers="1 2 4 8" vexa=$here/../build/release/apps/vexa/vexa
    while getopts ':n:w:b:' opt; do
        case $opt in
            n) count=$OPTARG ;;
            w) writers=$OPTARG ;;
            b) vexa=$OPTARG ;;
            *) sed -n '7p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
        esac
    done
    [[ -x $vexa ]] || { echo "pg-writers-bench: not an executable file: $vexa" >&2; exit 1; }
    VEXA_TEST_PG_FSYNC=on exec bash "$here/../tests/postgres/run-with-postgres.sh" "${BASH_SOURCE[0]}" \
        "$(realpath "$vexa")" "$count" "$writers"
fi

vexa=$1 count=$2 writers=$3
sample=$here/../samples/mail/01-incoming-tiff.eml
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for n in $writers; do
    psql -X -q "$VEXA_TEST_PG_URI" -c "DROP TABLE IF EXISTS recv, send, stored_files CASCADE" >/dev/null 2>&1 || true
    rm -rf "${work:?}"/*
    per=$((count / n))
    for ((w = 1; w <= n; w++)); do
        mkdir -p "$work/w$w/Maildir"/{cur,new,tmp}
        HOME=$work/w$w XDG_CONFIG_HOME=$work/w$w/.config XDG_DATA_HOME=$work/w$w/.local/share \
            "$vexa" init --archive "$VEXA_TEST_PG_URI" >/dev/null
        for ((i = 1; i <= per; i++)); do
            sed "s/NY4711-23/B$w-$i/" "$sample" >"$work/w$w/Maildir/new/$i.w$w.host"
        done
    done
    sync
    start=$(date +%s%N)
    for ((w = 1; w <= n; w++)); do
        HOME=$work/w$w XDG_CONFIG_HOME=$work/w$w/.config XDG_DATA_HOME=$work/w$w/.local/share \
            "$vexa" scan --maildir "$work/w$w/Maildir" >/dev/null 2>&1 &
    done
    wait
    ms=$((($(date +%s%N) - start) / 1000000))
    rows=$(psql -X -q -A -t "$VEXA_TEST_PG_URI" -c "SELECT count(*) FROM recv")
    printf '%d writer(s): %d faxes in %.2f s = %.0f msg/s (%d rows)\n' "$n" "$((per * n))" \
        "$(awk -v m="$ms" 'BEGIN { print m / 1000 }')" "$(awk -v c="$((per * n))" -v m="$ms" 'BEGIN { print c * 1000 / m }')" "$rows"
done
