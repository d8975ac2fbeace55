#!/usr/bin/env bash
# The viewer's answers on a large archive: a list page, a search, a filtered list and a count of
# new faxes, with ROWS rows in each table, timed by curl against a running `vexa view`.
#
#   bench/viewer-bench.sh [-n ROWS] [-r REPEATS] [-b VEXA_BINARY]
#
# The archive is filled with sqlite3 (random-looking subjects, numbers and dates over ten years),
# in a throw-away installation under TMPDIR; each request is repeated and the median and the
# slowest are printed in milliseconds. Needs sqlite3 and curl.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rows=100000 repeats=20
vexa=$here/../build/release/apps/vexa/vexa
while getopts ':n:r:b:' opt; do
    case $opt in
        n) rows=$OPTARG ;;
        r) repeats=$OPTARG ;;
        b) vexa=$OPTARG ;;
        *) sed -n '5p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
    esac
done
[[ -x $vexa ]] || { echo "viewer-bench: not an executable file: $vexa" >&2; exit 1; }
for tool in sqlite3 curl; do command -v "$tool" >/dev/null || { echo "viewer-bench: $tool is missing" >&2; exit 1; }; done

work=$(mktemp -d "${TMPDIR:-/tmp}/vexa-viewer-bench.XXXXXX")
viewer=""
cleanup() { [[ -n $viewer ]] && kill "$viewer" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$work/Maildir"/{cur,new,tmp}
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$vexa" init >/dev/null
archive=$XDG_DATA_HOME/vexa/Corvane.mdb

echo "filling the archive: $rows rows in recv and in send" >&2
sqlite3 "$archive" <<SQL
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

"$vexa" view --no-open >"$work/address" 2>"$work/view.err" &
viewer=$!
for _ in $(seq 100); do [[ -s $work/address ]] && break; sleep 0.1; done
address=$(head -1 "$work/address")
[[ $address == http://* ]] || { echo "viewer-bench: vexa view did not start: $(cat "$work/view.err")" >&2; exit 1; }
base=${address%%/\?*}
token=${address##*token=}

# time_request NAME PATH: the median and the slowest of $repeats requests, in ms.
time_request() {
    local name=$1 path=$2 times=()
    curl -s -o /dev/null -H "Cookie: vexa_token=$token" "$base$path"  # first: warms the cache
    for ((i = 0; i < repeats; i++)); do
        times+=("$(curl -s -o /dev/null -w '%{time_total}' -H "Cookie: vexa_token=$token" "$base$path")")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk -v name="$name" -v n="$repeats" '
        { t[NR] = $1 * 1000 } END { printf "%-40s median %6.1f ms, slowest %6.1f ms\n", name, t[int((n + 1) / 2)], t[n] }'
}

echo "$rows rows in each table, $repeats requests each:"
time_request "received, first page" "/api/recv?limit=50"
time_request "received, page 1000" "/api/recv?limit=50&offset=49950"
time_request "received, new only" "/api/recv?new=1&limit=50"
time_request "received, search one word" "/api/recv?search=invoice&limit=50"
time_request "received, search two words, any case" "/api/recv?search=CALLER99%20Page&limit=50"
time_request "received, a month" "/api/recv?since=2020-03-01&until=2020-03-31&limit=50"
time_request "sent, first page" "/api/send?limit=50"
time_request "sent, Unsuccessful only" "/api/send?state=Unsuccessful&limit=50"
time_request "sent, search" "/api/send?search=offer%2012&limit=50"
