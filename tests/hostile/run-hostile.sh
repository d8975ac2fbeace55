#!/usr/bin/env bash
# Runs `vexa scan` over a corpus of hostile and broken mail (make-hostile.sh) and checks what a
# user would see for every message: archived correctly (its recv row, and a file in Attach with
# exactly the bytes of the attachment), or left in the Inbox with a message naming the problem.
# Over all of them: no crash and no hang, no file anywhere but in Attach and the Maildir, a row
# for every file in Attach and a file for every row, and a peak resident set that does not grow
# with the size of a message.
#
#   run-hostile.sh VEXA_BINARY
#   HOSTILE_SHORT=1 run-hostile.sh VEXA_BINARY     without the 256 MB attachment
#
# Needs bash, coreutils, sqlite3, iconv, timeout and GNU time (/usr/bin/time, Debian's "time").
set -u
export LC_ALL=C

VEXA=$(realpath "$1")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
short=${HOSTILE_SHORT:-0}
# Safety bounds, not benchmarks: a blow-up or a hang fails, an ordinary run is far below them.
RSS_LIMIT_KB=$((64 * 1024))
# AddressSanitizer's shadow memory and quarantine make the resident set of no use as a measure.
if grep -qa __asan_init "$VEXA"; then
    RSS_LIMIT_KB=$((4 * 1024 * 1024))
fi
CASE_TIMEOUT=120
CORPUS_TIMEOUT=600

if [[ ! -x /usr/bin/time ]]; then
    echo "GNU time (/usr/bin/time, Debian package \"time\") is needed" >&2
    exit 2
fi

# Everything the runs could touch lies under BASE; WORLD is where they are allowed to.
BASE=$(mktemp -d)
trap 'rm -rf "$BASE"' EXIT
trap 'exit 143' INT TERM  # a time bound's signal still clears BASE
WORLD="$BASE/world"
CORPUS="$BASE/corpus"
mkdir -p "$WORLD/cwd" "$WORLD/tmp"
export TMPDIR="$WORLD/tmp"
export TZ=CET-1  # the Received: times below are read in this zone, without the time zone database
unset MAILDIR

passed=0
failed=0
failures=()

# ---- expected outcomes ----------------------------------------------------------------------
#
#   archived CASE EXTENSION FILE_NAME [SUBJECT]   a recv row with Number CASE, FileName FILE_NAME,
#                                                 FileId R<7 digits>.EXTENSION holding the bytes of
#                                                 the manifest; the message leaves the Inbox
#   failed CASE MESSAGE                           no row, no file, MESSAGE on stderr, exit 1; the
#                                                 message stays in the Inbox's new/
#   ignored CASE                                  no mail from the service: left alone in silence
declare -A OUTCOME EXT NAME SUBJECT MESSAGE
CASES=()
archived() {
    CASES+=("$1")
    OUTCOME[$1]=archived EXT[$1]=$2 NAME[$1]=$3 SUBJECT[$1]=${4-"Hostile fax $1"}
}
failed() { CASES+=("$1"); OUTCOME[$1]=failed MESSAGE[$1]=$2; }
ignored() { CASES+=("$1"); OUTCOME[$1]=ignored; }
store_error() { printf 'Error in "StoreInMessage": %s' "$1"; }
incomplete() { store_error "The attachment \"$1\" is incomplete: the message breaks off before its end."; }
no_attachment='Incoming message does not contain an attachment!'
not_read() { store_error "The message was not read in full: $1"; }

archived lf-line-ends tif fax.tif
archived crlf-line-ends tif fax.tif
# A classic Mac OS file: without a line feed it is one long line, no mail message at all.
ignored bare-cr-line-ends
archived mixed-line-ends tif fax.tif

failed trunc-in-text "$no_attachment"
failed trunc-mid-part-header "$(incomplete '"f')"
failed trunc-top-header "$no_attachment"
failed trunc-mid-base64 "$(incomplete fax.tif)"
failed trunc-at-base64-line "$(incomplete fax.tif)"
failed missing-close-boundary "$(incomplete fax.tif)"

archived duplicate-boundaries tif fax.tif
failed boundary-never-appears "$no_attachment"
failed multipart-without-boundary "$no_attachment"
archived same-boundary-nested tif fax.tif

archived nesting-1000 tif fax.tif
archived nesting-20 tif fax.tif
failed nesting-50000 "$(not_read 'it has more than 10000 header fields.')"
failed rfc822-nesting-1000 "$(not_read 'its MIME parts are nested too deep.')"

archived header-line-1mb tif fax.tif
archived subject-1mb tif fax.tif "Hostile fax subject-1mb $(printf 'y%.0s' {1..76})"
archived subject-encoded-words tif fax.tif "Hostile fax subject-encoded-words $(printf 'z%.0s' {1..66})"
archived subject-unended-words tif fax.tif "Hostile fax subject-unended-words $(printf '=?a?q?a%.0s' {1..9})=?a"
failed many-headers "$(not_read 'it has more than 10000 header fields.')"
archived base64-one-line tif fax.tif
archived many-parts tif fax.tif
failed parts-over-limit "$(not_read 'it has more than 10000 MIME parts.')"
failed header-line-64mb "$(not_read 'it has a header field of more than 2 MB.')"
archived text-body-64mb tif fax.tif

archived nul-in-headers tif fax.tif
archived nul-in-subject tif fax.tif
archived nul-in-body tif fax.tif
archived 8bit-utf8-headers tif $'Fax M\xc3\xbcller.tif' $'Hostile fax 8bit-utf8-headers Gr\xc3\xbc\xc3\x9fe \xe2\x82\xac'
archived 8bit-latin1-headers tif $'Fax M\xc3\xbcller.tif' $'Hostile fax 8bit-latin1-headers Gr\xc3\xbc\xc3\x9fe'

archived charset-unknown tif fax.tif $'Hostile fax charset-unknown Gr\xc3\xbc\xc3\x9fe'
# Bytes a declared charset does not allow become U+FFFD; a word whose base64 holds other bytes is
# no encoded word and stays as written, its stray byte read as Windows-1252.
archived charset-utf8-lie tif fax.tif $'Hostile fax charset-utf8-lie Gr\xef\xbf\xbd\xef\xbf\xbde'
archived charset-iso2022jp-garbage tif fax.tif $'Hostile fax charset-iso2022jp-garbage =?iso-2022-jp?b?GyRC/\xc3\xbe/w==?='

# The archive keeps the first 100 characters of a name: ten of the fifty pieces.
archived rfc2231-50-parts tif "$(for i in {0..9}; do printf 'Seite %d \xc3\xbc-' "$i"; done)"
# GMime reads the bytes that are no UTF-8 as Latin-1; U+0080, a control, becomes "_".
archived rfc2231-invalid-bytes tif $'Fax\xc3\xbf\xc3\xbe\xc3\x83(_%ZZ.tif'
archived rfc2231-gaps tif Part0-Part2-Part49.tif
# A name is only shown and stored as text; the stored file is named by the archive.
archived name-dotdot-slash '' ../../etc/passwd
archived name-dotdot-backslash ini '..\..\win.ini'
archived name-absolute tif /abs/path.tif
archived name-subfolder tif a/b.tif
archived name-con tif CON.tif
archived name-nul-device '' nul
archived name-com1 pdf COM1.pdf
archived name-lpt9 '' LPT9
archived name-control-chars tif 'fax__X-Injected: yes___[31m_.tif'
archived name-raw-control-chars tif 'fax__[31m.tif'
archived name-newline-encoded-word tif 'fax_next line.tif'
archived name-300-chars tif "$(printf 'A%.0s' {1..100})"
archived name-empty '' ''
archived name-only-dots '' ...
archived name-dot-dot '' ..

archived zero-byte-attachment tif fax.tif
[[ $short == 1 ]] || archived attachment-256mb tif fax.tif
# A forwarded message is no fax document.
failed rfc822-attachment "$no_attachment"
failed no-attachment "$no_attachment"

failed base64-garbage "$(store_error 'The attachment "fax.tif" is damaged: its base64 holds characters that base64 does not use.')"
archived qp-bad-escapes tif fax.tif
failed cte-unknown "$(store_error 'The attachment "fax.tif" is in the transfer encoding "x-squeezed", which cannot be decoded.')"

archived header-without-colon tif fax.tif
archived part-header-without-colon tif fax.tif

ignored empty-file
ignored random-binary
ignored png-image

# ---- helpers --------------------------------------------------------------------------------

# A fresh installation in WORLD/NAME: HOME, XDG folders, `vexa init`, an empty Maildir.
installation() {  # installation NAME
    export HOME="$WORLD/$1"
    export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$HOME/Maildir"/{cur,new,tmp}
    INSTALL="$XDG_DATA_HOME/vexa"
    ARCHIVE="$INSTALL/Corvane.mdb"
    ATTACH="$INSTALL/Attach"
    (cd "$WORLD/cwd" && "$VEXA" init >/dev/null) || { echo "vexa init failed" >&2; exit 2; }
    # One scan of the empty Maildir writes what any scan writes (settings, locks), so that only
    # what the hostile mail leads to is left to show in the listings.
    (cd "$WORLD/cwd" && "$VEXA" scan --maildir "$HOME/Maildir" >/dev/null) || { echo "vexa scan failed" >&2; exit 2; }
}

sql() { sqlite3 -separator '|' "$ARCHIVE" "$1"; }
hex() { od -An -v -tx1 | tr -d ' \n' | tr a-f A-F; }

# Runs vexa with a time bound under GNU time; sets STATUS, OUT, ERR, RSS_KB and SECONDS_TAKEN.
run_vexa() {  # run_vexa TIMEOUT ARGS...
    local limit=$1
    shift
    (cd "$WORLD/cwd" && /usr/bin/time -v -o "$BASE/time" timeout -k 10 "$limit" "$VEXA" "$@" \
        >"$BASE/out" 2>"$BASE/err" </dev/null)
    STATUS=$?
    OUT=$(cat "$BASE/out")
    ERR=$(cat "$BASE/err")
    RSS_KB=$(sed -n 's/^\tMaximum resident set size (kbytes): //p' "$BASE/time")
    SECONDS_TAKEN=$(sed -n 's/^\tElapsed (wall clock) time (h:mm:ss or m:ss): //p' "$BASE/time")
    PEAK_KB=$((RSS_KB > ${PEAK_KB:-0} ? RSS_KB : ${PEAK_KB:-0}))
}

# How a run ended, when it did not end by itself: a signal (a crash) or the time bound.
run_problem() {
    if ((STATUS == 124 || STATUS == 137)); then
        echo "no end within the time bound (a hang)"
    elif ((STATUS > 128)); then
        echo "killed by signal $((STATUS - 128))"
    elif ((RSS_KB > RSS_LIMIT_KB)); then
        echo "peak resident set $RSS_KB kB over the bound of $RSS_LIMIT_KB kB"
    fi
}

summary() {  # summary ARCHIVED LEFT_ALONE FAILED
    echo "$1 archived as incoming faxes, 0 as confirmations, 0 confirmations matched no fax, $2 left alone, $3 failed"
}

problems=()
problem() { problems+=("$*"); }
expect_eq() {  # expect_eq WHAT EXPECTED ACTUAL
    [[ "$2" == "$3" ]] || problem "$1: expected [$2], got [$3]"
}

verdict() {  # verdict NAME DETAIL
    if ((${#problems[@]} == 0)); then
        passed=$((passed + 1))
        printf 'ok    %-28s %s\n' "$1" "$2"
    else
        failed=$((failed + 1))
        failures+=("$1")
        printf 'FAIL  %-28s %s\n' "$1" "$2"
        printf '        %s\n' "${problems[@]}"
    fi
    problems=()
}

# The messages of a Maildir folder (new/ and cur/).
messages_in() { find "$1/new" "$1/cur" -type f 2>/dev/null | wc -l; }

# Every path under BASE except the ones a scan may change: Attach, the Maildirs, the archive
# (and its journal). A name led out of Attach by "../" shows up here.
listing() {
    find "$BASE" -path "$CORPUS" -prune -o -path "$BASE/time" -prune -o -path "$BASE/out" -prune \
        -o -path "$BASE/err" -prune -o -path '*/Attach' -prune -o -path '*/Maildir' -prune -o -path "$WORLD/mail" -prune \
        -o -name 'Corvane.mdb*' -prune -o -print | sort
}
expect_no_new_files() {  # expect_no_new_files BEFORE
    expect_eq "paths that appeared or went outside Attach and the Maildir" "" \
        "$(diff <(echo "$1") <(listing) | grep '^[<>]')"
}

# A Maildir holds nothing but messages in new/, cur/ and tmp/ of its folders, their markers, and
# vexa's own files in its root (the lock, the record of handled messages, the group journal).
expect_only_mail() {  # expect_only_mail MAILDIR
    expect_eq "other files in the Maildir" "" "$(find "$1" -type f ! -regex '.*/\(new\|cur\|tmp\)/[^/]*' \
        ! -path '*/maildirfolder' ! -path "$1/vexa.lock" ! -path "$1/vexa-handled" ! -path "$1/vexa-journal" \
        ! -path "$1/subscriptions" -printf '%P\n')"
}

# Outside BASE: the places an absolute or climbing name would reach.
outside_listing() {
    ls -la --time-style=full-iso /etc/passwd 2>&1
    ls -d /abs /abs/path.tif /win.ini /etc/win.ini 2>&1
}

# The attachment's expected digest and size from the manifest.
manifest_of() { awk -F'\t' -v c="$1" '$1 == c { print $2 "\t" $3 }' "$CORPUS/manifest.tsv"; }

# Checks the outcome of CASE in the installation after a scan of the Maildir MAILBOX.
check_outcome() {  # check_outcome CASE MAILBOX FILE
    local case=$1 mailbox=$2 file=$3
    local rows
    rows=$(sql "SELECT count(*) FROM recv WHERE Number = '$case'")
    case ${OUTCOME[$case]} in
    archived)
        expect_eq "rows" 1 "$rows"
        ((rows == 1)) || return
        local fileid digest size
        fileid=$(sql "SELECT FileId FROM recv WHERE Number = '$case'")
        if [[ ! "$fileid" =~ ^R[0-9]{7}\.${EXT[$case]}$ ]]; then
            problem "FileId [$fileid] is not R<7 digits>.${EXT[$case]}"
        fi
        expect_eq "FileName" "$(printf '%s' "${NAME[$case]}" | hex)" "$(sql "SELECT hex(FileName) FROM recv WHERE Number = '$case'")"
        expect_eq "Subject" "$(printf '%s' "${SUBJECT[$case]}" | hex)" "$(sql "SELECT hex(Subject) FROM recv WHERE Number = '$case'")"
        expect_eq "Date (from Received:)" "2023-03-14 09:15:42" "$(sql "SELECT Date FROM recv WHERE Number = '$case'")"
        expect_eq "New" 1 "$(sql "SELECT New FROM recv WHERE Number = '$case'")"
        IFS=$'\t' read -r digest size < <(manifest_of "$case")
        if [[ -f "$ATTACH/$fileid" ]]; then
            expect_eq "stored size" "$size" "$(stat -c %s "$ATTACH/$fileid")"
            expect_eq "stored bytes (sha256)" "$digest" "$(sha256sum <"$ATTACH/$fileid" | cut -c1-64)"
        else
            problem "no file Attach/$fileid"
        fi
        expect_eq "left the Inbox" 0 "$(messages_in "$mailbox")"
        [[ -e "$mailbox/new/$file" ]] && problem "still in new/"
        expect_eq "kept in the store folder" 1 "$(messages_in "$mailbox/.VX2 Messages")"
        ;;
    failed | ignored)
        expect_eq "rows" 0 "$rows"
        [[ -f "$mailbox/new/$file" ]] || problem "not left in the Inbox's new/"
        expect_eq "messages in the store folder" 0 "$(messages_in "$mailbox/.VX2 Messages")"
        ;;
    esac
}

# ---- the corpus -----------------------------------------------------------------------------

started=$(date +%s)
generate=("$here/make-hostile.sh" "$CORPUS")
[[ $short == 1 ]] && generate+=(--short)
if ! bash "${generate[@]}" >/dev/null; then
    echo "make-hostile.sh failed" >&2
    exit 2
fi
declare -A FILE_OF
for path in "$CORPUS"/new/*; do
    name=${path##*/}
    name=${name#*.}
    FILE_OF[${name%.hostile}]=${path##*/}
done
for case in "${CASES[@]}"; do
    [[ -n "${FILE_OF[$case]:-}" ]] || { echo "no message for the case $case in the corpus" >&2; exit 2; }
done
if ((${#FILE_OF[@]} != ${#CASES[@]})); then
    echo "the corpus has ${#FILE_OF[@]} messages, the table ${#CASES[@]} cases" >&2
    exit 2
fi
echo "corpus: ${#CASES[@]} messages, written in $(($(date +%s) - started)) s"

# ---- each message alone: its outcome and its message -----------------------------------------

echo "--- each message alone, one scan each"
installation single
mkdir -p "$WORLD/mail"
before=$(listing)
outside_before=$(outside_listing)
for case in "${CASES[@]}"; do
    file=${FILE_OF[$case]}
    mailbox="$WORLD/mail/$case"
    mkdir -p "$mailbox"/{cur,new,tmp}
    # A second name for the corpus file: the scan moves this one, the corpus keeps its own.
    ln "$CORPUS/new/$file" "$mailbox/new/$file"
    files_before=$(find "$ATTACH" -type f | wc -l)
    run_vexa "$CASE_TIMEOUT" scan --maildir "$mailbox"
    how=$(run_problem)
    [[ -n "$how" ]] && problem "$how"
    case ${OUTCOME[$case]} in
    archived)
        expect_eq "exit status" 0 "$STATUS"
        expect_eq "summary" "$(summary 1 0 0)" "$OUT"
        expect_eq "stderr" "" "$ERR"
        detail="archived as $(sql "SELECT FileId FROM recv WHERE Number = '$case'")"
        ;;
    failed)
        expect_eq "exit status" 1 "$STATUS"
        expect_eq "summary" "$(summary 0 0 1)" "$OUT"
        # One line, naming the mail (its file, then its subject) before the message.
        [[ $ERR == "$file"*": ${MESSAGE[$case]}" && $ERR != *$'\n'* ]] ||
            problem "stderr: expected [$file (...): ${MESSAGE[$case]}], got [$ERR]"
        expect_eq "files in Attach" "$files_before" "$(find "$ATTACH" -type f | wc -l)"
        detail="left in the Inbox: $ERR"
        ;;
    ignored)
        expect_eq "exit status" 0 "$STATUS"
        expect_eq "summary" "$(summary 0 1 0)" "$OUT"
        expect_eq "stderr" "" "$ERR"
        expect_eq "files in Attach" "$files_before" "$(find "$ATTACH" -type f | wc -l)"
        detail="left alone: no mail from the service"
        ;;
    esac
    check_outcome "$case" "$mailbox" "$file"
    expect_only_mail "$mailbox"
    verdict "$case" "$detail (peak $((RSS_KB / 1024)) MB, $SECONDS_TAKEN)"
    rm -rf "$mailbox"
    if [[ $case == attachment-256mb ]]; then
        # Checked: the stored copy goes with its row, so that the disk holds one copy less.
        rm -f "$ATTACH/$(sql "SELECT FileId FROM recv WHERE Number = '$case'")"
        sql "DELETE FROM recv WHERE Number = '$case'"
    fi
done
expect_no_new_files "$before"
expect_eq "outside BASE" "$outside_before" "$(outside_listing)"
verdict "no-escape-single" "nothing written outside Attach and the Maildir"

# ---- the whole corpus in one Maildir, one scan ---------------------------------------------

echo "--- all messages in one Maildir, one scan"
installation together
mailbox="$HOME/Maildir"
before=$(listing)
for case in "${CASES[@]}"; do ln "$CORPUS/new/${FILE_OF[$case]}" "$mailbox/new/"; done
n_archived=0 n_ignored=0 n_failed=0
for case in "${CASES[@]}"; do
    case ${OUTCOME[$case]} in
    archived) n_archived=$((n_archived + 1)) ;;
    ignored) n_ignored=$((n_ignored + 1)) ;;
    failed) n_failed=$((n_failed + 1)) ;;
    esac
done
run_vexa "$CORPUS_TIMEOUT" scan --maildir "$mailbox"
how=$(run_problem)
[[ -n "$how" ]] && problem "$how"
expect_eq "exit status" 1 "$STATUS"
expect_eq "summary" "$(summary "$n_archived" "$n_ignored" "$n_failed")" "$OUT"
expect_eq "messages shown" "$n_failed" "$(printf '%s\n' "$ERR" | grep -c .)"
for case in "${CASES[@]}"; do
    [[ ${OUTCOME[$case]} == failed ]] || continue
    shown=0
    while IFS= read -r line; do
        [[ $line == "${FILE_OF[$case]}"*": ${MESSAGE[$case]}" ]] && shown=1
    done <<<"$ERR"
    ((shown)) || problem "message for $case not shown"
done
verdict "corpus-scan" "$OUT (peak $((RSS_KB / 1024)) MB, $SECONDS_TAKEN)"

# Outcomes message by message; the store folder holds all archived ones together.
expect_eq "rows" "$n_archived" "$(sql "SELECT count(*) FROM recv")"
expect_eq "kept in the store folder" "$n_archived" "$(messages_in "$mailbox/.VX2 Messages")"
expect_eq "left in the Inbox" $((n_failed + n_ignored)) "$(messages_in "$mailbox")"
for case in "${CASES[@]}"; do
    rows=$(sql "SELECT count(*) FROM recv WHERE Number = '$case'")
    if [[ ${OUTCOME[$case]} == archived ]]; then
        expect_eq "$case: rows" 1 "$rows"
        fileid=$(sql "SELECT FileId FROM recv WHERE Number = '$case'")
        IFS=$'\t' read -r digest size < <(manifest_of "$case")
        expect_eq "$case: stored bytes" "$digest" "$(sha256sum <"$ATTACH/$fileid" 2>/dev/null | cut -c1-64)"
    else
        expect_eq "$case: rows" 0 "$rows"
        [[ -f "$mailbox/new/${FILE_OF[$case]}" ]] || problem "$case: not left in the Inbox's new/"
    fi
done
expect_only_mail "$mailbox"
verdict "corpus-outcomes" "every message where it belongs"
expect_no_new_files "$before"
expect_eq "outside BASE" "$outside_before" "$(outside_listing)"
verdict "no-escape-together" "nothing written outside Attach and the Maildir"

# ---- vexa convert on some of the files ------------------------------------------------------

echo "--- vexa convert on single files"
installation convert
# Files outside any Maildir, as a user names them; second names of the corpus files.
mkdir -p "$WORLD/files"
for case in nesting-1000 name-dotdot-slash trunc-mid-base64 base64-garbage header-line-64mb empty-file png-image; do
    ln "$CORPUS/new/${FILE_OF[$case]}" "$WORLD/files/"
done
before=$(listing)
convert_case() {  # convert_case CASE EXPECTED_STATUS EXPECTED_STDERR
    local file="$WORLD/files/${FILE_OF[$1]}" rows_before
    rows_before=$(sql "SELECT count(*) FROM recv")
    run_vexa "$CASE_TIMEOUT" convert --description hostile "$file"
    how=$(run_problem)
    [[ -n "$how" ]] && problem "$how"
    expect_eq "exit status" "$2" "$STATUS"
    expect_eq "stderr" "$3" "$ERR"
    [[ -f "$file" ]] || problem "the file was moved"
    if [[ "$2" == 0 ]]; then
        expect_eq "rows" $((rows_before + 1)) "$(sql "SELECT count(*) FROM recv")"
        local fileid digest size
        fileid=$(sql "SELECT FileId FROM recv WHERE Number = '$1' AND Description = 'hostile'")
        IFS=$'\t' read -r digest size < <(manifest_of "$1")
        expect_eq "stored bytes" "$digest" "$(sha256sum <"$ATTACH/$fileid" 2>/dev/null | cut -c1-64)"
    else
        expect_eq "rows" "$rows_before" "$(sql "SELECT count(*) FROM recv")"
    fi
    verdict "convert $1" "exit $STATUS${ERR:+: $ERR} (peak $((RSS_KB / 1024)) MB)"
}
convert_case nesting-1000 0 ""
convert_case name-dotdot-slash 0 ""
convert_case trunc-mid-base64 1 "$(incomplete fax.tif)"
convert_case base64-garbage 1 "$(store_error 'The attachment "fax.tif" is damaged: its base64 holds characters that base64 does not use.')"
convert_case header-line-64mb 1 "$(not_read 'it has a header field of more than 2 MB.')"
convert_case empty-file 1 "Message is not correct type!"
convert_case png-image 1 "Message is not correct type!"
expect_no_new_files "$before"
expect_eq "outside BASE" "$outside_before" "$(outside_listing)"
verdict "no-escape-convert" "nothing written outside Attach"

# ---- over all runs --------------------------------------------------------------------------

echo "--- over all runs"
for home in single together convert; do
    ATTACH="$WORLD/$home/.local/share/vexa/Attach"
    ARCHIVE="$WORLD/$home/.local/share/vexa/Corvane.mdb"
    stray=$(find "$ATTACH" -mindepth 1 ! -regex '.*/R[0-9][0-9][0-9][0-9][0-9][0-9][0-9]\.[A-Za-z0-9_-]*' -printf '%P\n')
    expect_eq "$home: entries in Attach not named by the archive" "" "$stray"
    expect_eq "$home: files without a row" "" "$(comm -23 <(find "$ATTACH" -type f -printf '%f\n' | sort) \
        <(sql "SELECT FileId FROM recv" | sort))"
    expect_eq "$home: rows without a file" "" "$(comm -13 <(find "$ATTACH" -type f -printf '%f\n' | sort) \
        <(sql "SELECT FileId FROM recv" | sort))"
    if ! sql "SELECT Number || char(10) || Subject || char(10) || FileName || char(10) || Description FROM recv" |
        iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1; then
        problem "$home: text in the archive that is not UTF-8"
    fi
done
verdict "archive-consistent" "a row for every file in Attach, a file for every row, all text UTF-8"

echo
echo "peak resident set of all runs: $((PEAK_KB / 1024)) MB (bound $((RSS_LIMIT_KB / 1024)) MB); $(($(date +%s) - started)) s in all"
((failed == 0)) || echo "failed: ${failures[*]}"
echo "$passed passed, $failed failed"
((failed == 0))
