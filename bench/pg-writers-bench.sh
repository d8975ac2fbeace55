#!/usr/bin/env bash
# vexa archiving into one PostgreSQL archive beside the embedded SQLite one, on the same corpus, in
# one run: one SQLite installation, then 1, 2, 4 and 8 PostgreSQL installations at once, each with
# a Maildir of its own holding its share of the COUNT faxes; the messages per second of all of them
# together (from the first start to the last end). Each run gets fresh installations and its own
# fresh copy of the corpus, synced before it starts; the order alternates between rounds (SQLite
# first in odd rounds, last in even ones); median and spread over the rounds are printed, and the
# PostgreSQL rates as a share of SQLite's. The server is a throw-away local cluster
# (tests/postgres/run-with-postgres.sh) that syncs its commits (fsync on); each fax has its own
# Message-ID and number (bench/generate-faxes.py, 30 KiB each). -T prints the round trips (sendto calls) per fax of one writer instead.
# -B prints instead the most the server itself can do on this machine: COUNT files of 30 KiB stored
# as large objects by pgbench, one prepared statement each, 50 to a transaction, nothing else
# (no rows, no lookups, no mail), over one connection and over two, in rounds, median and spread.
#
#   bench/pg-writers-bench.sh [-n COUNT] [-w "1 2 4 8"] [-r ROUNDS] [-b VEXA_BINARY] [-T | -B]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z ${VEXA_TEST_PG_URI:-} ]]; then
    count=1000 writers="1 2 4 8" rounds=3 trips=0 bound=0 vexa=$here/../build/release/apps/vexa/vexa
    while getopts ':n:w:r:b:TB' opt; do
        case $opt in
            n) count=$OPTARG ;;
            w) writers=$OPTARG ;;
            r) rounds=$OPTARG ;;
            b) vexa=$OPTARG ;;
            T) trips=1 ;;
            B) bound=1 ;;
            *) sed -n '15p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
        esac
    done
    ((rounds >= 3 || trips)) || { echo "pg-writers-bench: at least 3 rounds (-r)" >&2; exit 1; }
    [[ -x $vexa ]] || { echo "pg-writers-bench: not an executable file: $vexa" >&2; exit 1; }
    VEXA_TEST_PG_FSYNC=on exec bash "$here/../tests/postgres/run-with-postgres.sh" "${BASH_SOURCE[0]}" \
        "$(realpath "$vexa")" "$count" "$writers" "$rounds" "$trips" "$bound"
fi

vexa=$1 count=$2 writers=$3 rounds=$4 trips=$5 bound=$6
kib=30
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
python3 "$here/generate-faxes.py" "$work/corpus" "$count" "$kib"
mapfile -t corpus < <(ls "$work/corpus")

# prepare N ENGINE: N fresh installations (ENGINE sqlite or pg), writer w with every Nth fax.
prepare() {
    local n=$1 engine=$2 w
    rm -rf "${work:?}"/w*
    psql -X -q "$VEXA_TEST_PG_URI" -c "DROP TABLE IF EXISTS recv, send, stored_files, vexa_imported CASCADE" >/dev/null 2>&1 || true
    for ((w = 1; w <= n; w++)); do
        mkdir -p "$work/w$w/Maildir"/{cur,new,tmp}
        if [[ $engine == pg ]]; then
            as "$w" "$vexa" init --archive "$VEXA_TEST_PG_URI" >/dev/null
        else
            as "$w" "$vexa" init >/dev/null
        fi
    done
    for ((i = 0; i < count; i++)); do cp "$work/corpus/${corpus[i]}" "$work/w$((i % n + 1))/Maildir/new/"; done
    sync
}
as() {
    local w=$1
    shift
    HOME=$work/w$w XDG_CONFIG_HOME=$work/w$w/.config XDG_DATA_HOME=$work/w$w/.local/share "$@"
}
# run N: every writer's scan at once; prints the rate.
run() {
    local n=$1 w start ms
    start=$(date +%s%N)
    for ((w = 1; w <= n; w++)); do as "$w" "$vexa" scan --maildir "$work/w$w/Maildir" >/dev/null 2>&1 & done
    wait
    ms=$((($(date +%s%N) - start) / 1000000))
    left=$(find "$work"/w*/Maildir/new -type f | wc -l)
    ((left == 0)) || { echo "pg-writers-bench: $left faxes left in the Inboxes" >&2; exit 1; }
    awk -v c="$count" -v m="$ms" 'BEGIN { printf "%.0f", c * 1000 / m }'
}

if ((bound)); then
    pgbench=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)/pgbench
    # 100 different files of random bytes, as incompressible as a fax; each stored one is a copy of one.
    psql -X -q -v ON_ERROR_STOP=1 "$VEXA_TEST_PG_URI" >/dev/null <<SQL
CREATE TABLE bench_files (id int PRIMARY KEY, content bytea);
INSERT INTO bench_files SELECT i, (SELECT string_agg(decode(md5(i || '.' || j || random()), 'hex'), '')
    FROM generate_series(1, $kib * 64) j) FROM generate_series(1, 100) i;
CREATE TABLE bench_stored (id bigserial PRIMARY KEY, content oid);
SQL
    { echo "BEGIN;"; for ((k = 0; k < 50; k++)); do
        echo "\\set i random(1, 100)"
        echo "INSERT INTO bench_stored (content) SELECT lo_from_bytea(0, content) FROM bench_files WHERE id = :i;"
    done; echo "COMMIT;"; } >"$work/store.sql"
    echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
    # One connection, as one writer has; then two, one per core of a small machine.
    for clients in 1 2; do
        rates=""
        for ((r = 1; r <= rounds; r++)); do
            tps=$("$pgbench" -n -M prepared -f "$work/store.sql" -t $((count / 50 / clients)) -c "$clients" -j "$clients" \
                "$VEXA_TEST_PG_URI" 2>/dev/null | awk '/^tps/ { print $3 }')
            rates+="$(awk -v t="$tps" 'BEGIN { printf "%.0f", t * 50 }') "
            psql -X -q "$VEXA_TEST_PG_URI" -c "SELECT lo_unlink(content) FROM bench_stored; TRUNCATE bench_stored" >/dev/null
        done
        printf '%s\n' $rates | sort -g | awk -v k="$kib" -v c="$clients" '{ v[NR] = $1 } END {
            printf "the server alone, %s KiB large objects, %s connection(s): median %s/s, spread %s-%s\n", k, c, v[int((NR + 1) / 2)], v[1], v[NR] }'
    done
    exit 0
fi
if ((trips)); then
    prepare 1 pg
    as 1 strace -f -c -e trace=sendto -o "$work/trips" "$vexa" scan --maildir "$work/w1/Maildir" >/dev/null 2>&1
    calls=$(awk '$NF == "sendto" { print $4 }' "$work/trips")
    echo "round trips per fax (sendto calls of one writer): $(awk -v c="$calls" -v n="$count" 'BEGIN { printf "%.1f", c / n }')"
    exit 0
fi

declare -A rates
configs="sqlite $(printf 'pg%s ' $writers)"
echo "$count faxes of $kib KiB, $rounds rounds; load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for ((r = 1; r <= rounds; r++)); do
    order=$configs
    ((r % 2)) || order=$(echo $configs | tr ' ' '\n' | tac | xargs)
    line="round $r:"
    for config in $order; do
        if [[ $config == sqlite ]]; then
            prepare 1 sqlite
            rate=$(run 1)
        else
            prepare "${config#pg}" pg
            rate=$(run "${config#pg}")
        fi
        rates[$config]+="$rate "
        line+=" $config $rate"
    done
    echo "$line msg/s"
done
summary() {
    printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END {
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "median %s, spread %s-%s", m, v[1], v[NR] }'
}
median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
sqlite=$(median "${rates[sqlite]}")
for config in $configs; do
    share=$(awk -v a="$(median "${rates[$config]}")" -v b="$sqlite" 'BEGIN { printf "%.2f", a / b }')
    printf '%-7s %s msg/s (%s of SQLite)\n' "$config:" "$(summary "${rates[$config]}")" "$share"
done
