#!/usr/bin/env bash
# The viewer's lists on a large archive, on both engines: with ROWS rows in each table, the first
# page sorted by each column in both directions, the last page, and a few filters, timed by curl
# against a running `vexa view` over the embedded SQLite archive and over a shared PostgreSQL one.
#
#   bench/viewer-bench.sh [-n ROWS] [-r REPEATS] [-e "sqlite pg"] [-b VEXA_BINARY]
#
# Each engine gets a throw-away installation under TMPDIR, filled by sqlite3 or psql with
# random-looking subjects, numbers and dates over ten years; PostgreSQL is a throw-away local
# cluster (tests/postgres/run-with-postgres.sh). Each request is made once to warm the caches, then
# REPEATS times: the median, the fastest and the slowest in milliseconds, and the machine's load
# before each engine. Needs sqlite3, curl and PostgreSQL's server and psql.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z ${VEXA_TEST_PG_URI:-} ]]; then
    rows=100000 repeats=20 engines="sqlite pg" vexa=$here/../build/release/apps/vexa/vexa
    while getopts ':n:r:e:b:' opt; do
        case $opt in
            n) rows=$OPTARG ;;
            r) repeats=$OPTARG ;;
            e) engines=$OPTARG ;;
            b) vexa=$OPTARG ;;
            *) sed -n '6p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
        esac
    done
    [[ -x $vexa ]] || { echo "viewer-bench: not an executable file: $vexa" >&2; exit 1; }
    for tool in sqlite3 curl psql; do
        command -v "$tool" >/dev/null || { echo "viewer-bench: $tool is missing" >&2; exit 1; }
    done
    exec bash "$here/../tests/postgres/run-with-postgres.sh" "${BASH_SOURCE[0]}" \
        "$(realpath "$vexa")" "$rows" "$repeats" "$engines"
fi

vexa=$1 rows=$2 repeats=$3 engines=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/vexa-viewer-bench.XXXXXX")
viewer=""
stop_viewer() {
    [[ -n $viewer ]] || return 0
    kill "$viewer" 2>/dev/null || true
    wait "$viewer" 2>/dev/null || true
    viewer=""
}
trap 'stop_viewer; rm -rf "$work"' EXIT

# The same rows on both engines: row i of each table from i alone.
fill_sqlite() {
    sqlite3 "$1" <<SQL
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
INSERT INTO recv (Date, Number, Subject, Description, FileName, FileId, New)
SELECT datetime(1420070400 + i * 3153, 'unixepoch'), 'NY' || (i * 7919 % 100000),
       'eFax message from "212555' || (i % 10000) || '" - ' || (i % 9 + 1) || ' page(s), Caller-ID: caller' || (i % 997),
       CASE WHEN i % 50 = 0 THEN 'invoice ' || i ELSE '(no description)' END,
       'fax-' || i || '.tif', printf('R%07d.tif', i), i % 40 = 0
FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
INSERT INTO send (Date, Number, Subject, Description, FileName, FileId, Confirm)
SELECT datetime(1420070400 + i * 3153, 'unixepoch'), '0049' || (i * 104729 % 10000000),
       '{' || printf('%07d', i) || '} offer ' || (i % 313), '(no description)', 'offer-' || i || '.pdf',
       printf('S%07d.pdf', i), CASE i % 10 WHEN 0 THEN 'Unsuccessful' WHEN 1 THEN NULL ELSE 'Successful' END
FROM n;
SQL
}
fill_pg() {
    psql -X -q -v ON_ERROR_STOP=1 "$VEXA_TEST_PG_URI" <<SQL
INSERT INTO recv (date, number, subject, description, filename, fileid, new)
SELECT to_timestamp(1420070400 + i * 3153), 'NY' || (i * 7919 % 100000),
       'eFax message from "212555' || (i % 10000) || '" - ' || (i % 9 + 1) || ' page(s), Caller-ID: caller' || (i % 997),
       CASE WHEN i % 50 = 0 THEN 'invoice ' || i ELSE '(no description)' END,
       'fax-' || i || '.tif', 'R' || lpad(i::text, 7, '0') || '.tif', i % 40 = 0
FROM generate_series(1, $rows) i;
INSERT INTO send (date, number, subject, description, filename, fileid, confirm)
SELECT to_timestamp(1420070400 + i * 3153), '0049' || (i::bigint * 104729 % 10000000),
       '{' || lpad(i::text, 7, '0') || '} offer ' || (i % 313), '(no description)', 'offer-' || i || '.pdf',
       'S' || lpad(i::text, 7, '0') || '.pdf', CASE i % 10 WHEN 0 THEN 'Unsuccessful' WHEN 1 THEN NULL ELSE 'Successful' END
FROM generate_series(1, $rows) i;
VACUUM ANALYZE recv;
VACUUM ANALYZE send;
SQL
}

# time_request ENGINE NAME PATH: the median, fastest and slowest of $repeats requests, in ms.
time_request() {
    local engine=$1 name=$2 path=$3 times=() code
    code=$(curl -s -o /dev/null -w '%{http_code}' -H "Cookie: $cookie" "$base$path")  # warms the caches
    [[ $code == 200 ]] || { echo "viewer-bench: $path answered $code" >&2; exit 1; }
    for ((i = 0; i < repeats; i++)); do
        times+=("$(curl -s -o /dev/null -w '%{time_total}' -H "Cookie: $cookie" "$base$path")")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk -v engine="$engine" -v name="$name" -v n="$repeats" '
        { t[NR] = $1 * 1000 }
        END { printf "| %-6s | %-42s | %6.1f | %6.1f | %6.1f |\n", engine, name, t[int((n + 1) / 2)], t[1], t[n] }'
}

echo "$rows rows in each table, $repeats requests each; times in ms"
for engine in $engines; do
    export HOME=$work/$engine XDG_CONFIG_HOME=$work/$engine/.config XDG_DATA_HOME=$work/$engine/.local/share \
        XDG_RUNTIME_DIR=$work/$engine/run
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$HOME/Maildir"/{cur,new,tmp}
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    echo "filling the $engine archive: $rows rows in recv and in send" >&2
    if [[ $engine == pg ]]; then
        psql -X -q "$VEXA_TEST_PG_URI" -c "DROP TABLE IF EXISTS recv, send, stored_files, vexa_imported CASCADE" >/dev/null
        "$vexa" init --archive "$VEXA_TEST_PG_URI" >/dev/null
        fill_pg
    else
        "$vexa" init >/dev/null
        fill_sqlite "$XDG_DATA_HOME/vexa/Corvane.mdb"
    fi
    "$vexa" view --no-open >"$work/address" 2>"$work/view.err" &
    viewer=$!
    for _ in $(seq 100); do [[ -s $work/address ]] && break; sleep 0.1; done
    address=$(head -1 "$work/address")
    [[ $address == http://* ]] || { echo "viewer-bench: vexa view did not start: $(cat "$work/view.err")" >&2; exit 1; }
    base=${address%%/\?*}
    cookie="vexa_token_${base##*:}=${address##*token=}"

    echo
    echo "$engine, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "| engine | request                                    | median | fastest | slowest |"
    echo "|--------|--------------------------------------------|--------|--------|--------|"
    for table in recv send; do
        for column in date number subject description file state who; do
            for dir in desc asc; do
                time_request "$engine" "$table, first page by $column $dir" "/api/$table?limit=50&sort=$column&dir=$dir"
            done
        done
        time_request "$engine" "$table, last page (newest first)" "/api/$table?limit=50&offset=$((rows - 50))"
        time_request "$engine" "$table, last page by subject asc" "/api/$table?limit=50&offset=$((rows - 50))&sort=subject&dir=asc"
    done
    time_request "$engine" "recv, new only" "/api/recv?new=1&limit=50"
    time_request "$engine" "recv, search one word" "/api/recv?search=invoice&limit=50"
    time_request "$engine" "recv, a month" "/api/recv?since=2020-03-01&until=2020-03-31&limit=50"
    time_request "$engine" "send, Unsuccessful only" "/api/send?state=Unsuccessful&limit=50"
    stop_viewer
done
