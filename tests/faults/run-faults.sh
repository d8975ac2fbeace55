#!/usr/bin/env bash
# Fault injection: `vexa scan` over generated faxes with one I/O call failing the way a sick or
# full disk makes it fail (EIO, ENOSPC), through the LD_PRELOAD shim fault_shim.c, sometimes with
# a crash right after the failure; then a clean rerun. The archive's promise, checked after the
# faulted run and strictly after the rerun: every fax is archived exactly once with its file's
# exact bytes, or is still due (unread, unrecorded) in the Inbox; no row without its file, no file
# without its row; no fax archived twice.
#
#   tests/faults/run-faults.sh VEXA_BINARY SHIM_PATH
#
# The invariants are those of tools/crash-inject (check_world), the faulted run standing for its
# kill. Beside the faxes the Inbox holds two letters, which vexa leaves alone and records as
# handled: without them a scan writes no record, and the record's faults would never happen.
# FAULTS_ONLY=NAME runs one case; FAULTS_KEEP=1 keeps what each case left. The last line is
# "N passed, M failed" over the checks of all cases; the exit status is 0 only with no failed check.
set -u

vexa=${1:?usage: run-faults.sh VEXA_BINARY SHIM_PATH}
shim=${2:?usage: run-faults.sh VEXA_BINARY SHIM_PATH}
[[ -x $vexa ]] || { echo "run-faults: no vexa binary at $vexa" >&2; exit 64; }
[[ -f $shim ]] || { echo "run-faults: no shim at $shim" >&2; exit 64; }
command -v sqlite3 >/dev/null || { echo "run-faults: sqlite3 is needed" >&2; exit 64; }
vexa=$(realpath "$vexa")
shim=$(realpath "$shim")

mails=40
letters=2
store="VX2 Messages"
# Whatever a case does, one run may not take longer than this: a hang is a failure, not a wait.
run_limit=60

# The cases: name | calls counted | the failing one | errno | path holding | mode | exit status |
# where the faxes are after the rerun. mode: "all" fails every counted call from the Nth on (a
# disk that stays full), "kill" crashes the process right after the failure. The exit status of
# the faulted run: a number, "crash" (killed), or "-" (any, as long as vexa did not crash by
# itself). The faxes end in the store folder, or, when their clean-up failed after they were
# archived ("inbox"), stay in the Inbox marked read, as a failed clean-up leaves a message. The WAL's first sync is that of
# its header, within the first group's commit, and its second the commit's own; the moves into the
# store folder come only after a commit, so each of them fails with its row already durable.
cases=$(cat <<'TABLE'
wal-sync-eio          | fsync,fdatasync                       | 1 | EIO    | -wal            | -    | 75 | store
wal-sync-eio-kill     | fsync,fdatasync                       | 1 | EIO    | -wal            | kill | crash | store
wal-sync-eio-later    | fsync,fdatasync                       | 2 | EIO    | -wal            | -    | 75 | store
wal-sync-eio-always   | fsync,fdatasync                       | 1 | EIO    | -wal            | all  | 75 | store
store-move-enospc     | rename,renameat,renameat2,link,linkat | 1 | ENOSPC | /.VX2 Messages/ | all  | - | store
store-move-eio-kill   | rename,renameat,renameat2,link,linkat | 1 | EIO    | /.VX2 Messages/ | kill | crash | store
store-move-eio-one    | rename,renameat,renameat2,link,linkat | 5 | EIO    | /.VX2 Messages/ | -    | - | store
attach-write-enospc   | write                                 | 3 | ENOSPC | /Attach/        | -    | - | store
attach-write-full     | write                                 | 1 | ENOSPC | /Attach/        | all  | - | store
attach-name-eio       | rename,renameat,renameat2             | 1 | EIO    | /Attach/        | -    | - | store
store-folder-enospc   | mkdir                                 | 1 | ENOSPC | /Maildir/       | all  | - | inbox
record-write-eio      | write                                 | 1 | EIO    | vexa-handled    | -    | - | store
record-write-full     | write                                 | 1 | ENOSPC | vexa-handled    | all  | - | store
record-write-eio-kill | write                                 | 1 | EIO    | vexa-handled    | kill | crash | store
journal-write-eio     | write                                 | 1 | EIO    | vexa-journal    | -    | - | store
journal-write-full    | write                                 | 1 | ENOSPC | vexa-journal    | all  | - | store
journal-sync-eio-kill | fsync,fdatasync                       | 1 | EIO    | vexa-journal    | kill | crash | store
TABLE
)

checks=0
failures=0
scratch=$(mktemp -d)
# FAULTS_KEEP=1 keeps each case's installation and Maildir, to look at what a fault left.
[[ -n ${FAULTS_KEEP:-} ]] || trap 'rm -rf "$scratch"' EXIT
spool="$scratch/spool"
manifest="$scratch/manifest"

# A case that breaks the promise for every fax says so for the first few only.
shown_per_case=6
failed() {
    failures=$((failures + 1))
    case_failures=$((case_failures + 1))
    ((case_failures <= shown_per_case)) && echo "  FAILED ($case_name, $phase): $*"
}
check() {  # check CONDITION-RESULT MESSAGE: counts one check
    checks=$((checks + 1))
    [[ $1 == 0 ]] || failed "$2"
}

make_fax() {  # make_fax I: one incoming fax with a random attachment of 16 to 200 KiB
    local number="FI1-$1" size=$(((RANDOM % 185 + 16) * 1024))
    head -c "$size" /dev/urandom >"$scratch/attachment"
    echo "$number $(sha256sum <"$scratch/attachment" | cut -d' ' -f1)" >>"$manifest"
    cat <<MAIL
From: eFax <message@inbound.efax.com>
To: ann@example.org
Date: Tue, 14 Mar 2023 08:15:37 +0000
Subject: eFax message $number
Message-ID: <$number@inbound.efax.com>
MIME-Version: 1.0
Content-Type: multipart/mixed; boundary="b-$number"

--b-$number
Content-Type: text/plain; charset=US-ASCII

* The reference number for this fax is $number. Thank you for using eFax.

--b-$number
Content-Type: image/tiff; name="fax.tif"
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename="fax.tif"

$(base64 <"$scratch/attachment")
--b-$number--
MAIL
}

make_letter() {  # make_letter I: a message from a person, which stays in the Inbox
    cat <<MAIL
From: Bob Miller <bob@example.net>
To: ann@example.org
Date: Tue, 14 Mar 2023 09:00:00 +0000
Subject: Lunch on Friday ($1)
Message-ID: <letter-$1@example.net>
MIME-Version: 1.0
Content-Type: text/plain; charset=US-ASCII

Shall we meet at noon?
MAIL
}

# The mail is made once; each case gets its own installation and Maildir with copies of it.
mkdir -p "$spool"
: >"$manifest"
for ((i = 1; i <= mails; i++)); do make_fax "$i" >"$spool/$i.eml"; done
for ((i = 1; i <= letters; i++)); do make_letter "$i" >"$spool/letter-$i.eml"; done

new_world() {
    world="$scratch/$case_name"
    rm -rf "$world"
    export HOME="$world/home" XDG_CONFIG_HOME="$world/home/.config" XDG_DATA_HOME="$world/home/.local/share"
    export TZ=UTC
    unset MAILDIR
    mailbox="$HOME/Maildir"
    mkdir -p "$mailbox"/{cur,new,tmp} "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
    "$vexa" init >"$world/init-out" 2>&1 || { echo "run-faults: vexa init failed: $(head -c 300 "$world/init-out")" >&2; exit 1; }
    install="$XDG_DATA_HOME/vexa"
    archive="$install/Corvane.mdb"
    local file base
    for file in "$spool"/*.eml; do
        base=$(basename "$file" .eml)
        cp "$file" "$mailbox/tmp/$base.$case_name.host"
        mv "$mailbox/tmp/$base.$case_name.host" "$mailbox/new/$base.$case_name.host"
    done
}

messages_in() { find "$1/cur" "$1/new" -type f 2>/dev/null | wc -l; }

# The faxes among the messages of the Maildir folder $1: "FILE<NUL>NUMBER" a line.
fax_numbers() {
    grep -a -s -m1 -o -Z -H -e 'reference number for this fax is FI1-[0-9]*' "$1"/cur/* "$1"/new/* |
        sed 's/reference number for this fax is //'
}

declare -A expected=()  # a fax's reference number -> its attachment's sha256
while read -r number sum; do expected[$number]=$sum; done <"$manifest"

# The invariants; $1 is "fault" (pending names allowed, faxes may still be due) or "rerun"
# (everything finished). A few processes each: the machine is busy and a case is short.
check_world() {
    local when=$1 attach="$install/Attach"
    local inbox stored
    inbox=$(messages_in "$mailbox")
    stored=$(messages_in "$mailbox/.$store")
    [[ $((inbox + stored)) == $((mails + letters)) ]]
    check $? "mails: $inbox in the Inbox + $stored stored, expected $mails faxes and $letters letters"
    local integrity
    integrity=$(sqlite3 "$archive" "PRAGMA integrity_check" 2>&1)
    [[ $integrity == ok ]]
    check $? "database integrity: $integrity"

    local -A sum_of=()
    local sum path
    while read -r sum path; do
        sum_of[${path##*/}]=$sum
    done < <(find "$attach" -mindepth 1 -maxdepth 1 -type f -exec sha256sum {} +)

    local -A rows_of=() file_rows=()
    local rows=0 id number fileId
    while IFS='|' read -r id number fileId; do
        [[ -z $id ]] && continue
        rows=$((rows + 1))
        rows_of[${number:-?}]=$((${rows_of[${number:-?}]:-0} + 1))
        if [[ -z $fileId ]]; then
            check 1 "row $id ($number) has no file (empty FileId)"
            continue
        fi
        file_rows[$fileId]=1
        if [[ -n ${sum_of[$fileId]+set} ]]; then
            [[ ${sum_of[$fileId]} == "${expected[$number]:-}" ]]
            check $? "row $id ($number): $fileId is not the fax's attachment"
        elif [[ $when == fault && -n ${sum_of[$fileId.partial]+set} ]]; then
            [[ ${sum_of[$fileId.partial]} == "${expected[$number]:-}" ]]
            check $? "row $id ($number): pending $fileId is not complete"
        else
            check 1 "row $id ($number) has no file $fileId"
        fi
    done < <(sqlite3 -separator '|' "$archive" "SELECT Id, Number, FileId FROM recv ORDER BY Id" 2>&1)

    local entry
    while IFS= read -r entry; do
        case $entry in
            *.partial)
                [[ $when == fault ]]
                check $? "pending file $entry left after the rerun" ;;
            *)
                [[ -n ${file_rows[$entry]+set} ]]
                check $? "file $entry has no row" ;;
        esac
    done < <(find "$attach" -mindepth 1 -maxdepth 1 -printf '%f\n')

    local distinct=${#rows_of[@]}
    [[ $rows == "$distinct" ]]
    check $? "$((rows - distinct)) faxes archived twice ($rows rows, $distinct faxes)"

    # A mail that left the Inbox was archived first; one still in it without its row is still
    # due: unread, and not in the record of handled messages (or it would never arrive again).
    local file
    while IFS= read -r -d '' file && IFS= read -r number; do
        [[ -n ${rows_of[$number]+set} ]]
        check $? "stored mail $number has no row"
    done < <(fax_numbers "$mailbox/.$store")
    local -A recorded=()
    if [[ -f "$mailbox/vexa-handled" ]]; then
        while IFS= read -r entry; do recorded[${entry:-?}]=1; done <"$mailbox/vexa-handled"
    fi
    local base
    while IFS= read -r -d '' file && IFS= read -r number; do
        [[ -n ${rows_of[$number]+set} ]] && continue
        base=${file##*/}
        [[ $base != *:2,*S* ]]
        check $? "unarchived mail $number was marked read"
        [[ -z ${recorded[${base%%:*}]+set} ]]
        check $? "unarchived mail $number is recorded as handled and will never be archived"
    done < <(fax_numbers "$mailbox")

    if [[ $when == rerun && $left == inbox ]]; then
        [[ $inbox == $((letters + mails)) ]]
        check $? "$((letters + mails - inbox)) faxes left the Inbox though their clean-up failed"
        [[ $(find "$mailbox/new" "$mailbox/cur" -type f -name '*:2,*S*' | wc -l) == "$mails" ]]
        check $? "the faxes whose clean-up failed were not marked read"
    elif [[ $when == rerun ]]; then
        [[ $inbox == "$letters" ]]
        check $? "$((inbox - letters)) faxes still in the Inbox after the rerun"
        [[ $distinct == "$mails" ]]
        check $? "$distinct faxes archived, expected $mails"
        "$vexa" options --show >/dev/null 2>&1
        check $? "the settings cannot be read"
    fi
}

# Runs vexa with a bound on its time; its exit status, 124 when it had to be stopped.
run_vexa() {  # run_vexa OUT ERR ARGS...
    local out=$1 err=$2
    shift 2
    timeout -s KILL "$run_limit" "$vexa" "$@" >"$out" 2>"$err" </dev/null
}

ran=0
broken_cases=()
started=$(date +%s)
shopt -s extglob
while IFS='|' read -r -a field; do
    for i in "${!field[@]}"; do
        field[i]=${field[i]##+([[:space:]])}
        field[i]=${field[i]%%+([[:space:]])}
    done
    case_name=${field[0]:-} calls=${field[1]:-} nth=${field[2]:-} errno_name=${field[3]:-} path=${field[4]:-}
    mode=${field[5]:-} expect_exit=${field[6]:-} left=${field[7]:-store}
    [[ -z $case_name ]] && continue
    [[ -n ${FAULTS_ONLY:-} && $case_name != "$FAULTS_ONLY" ]] && continue
    ran=$((ran + 1))
    case_failures=0
    case_started=$(date +%s%N)
    phase="faulted scan"
    new_world
    log="$world/fault-log"
    # In a subshell of its own, whose stderr takes the shell's note that vexa was killed.
    (
        # A sanitizer build wants its runtime first in the link order; the shim only passes calls on.
        export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
        export VEXA_FAULT_CALL="$calls" VEXA_FAULT_NTH="$nth" VEXA_FAULT_ERRNO="$errno_name" \
            VEXA_FAULT_PATH="$path" VEXA_FAULT_LOG="$log"
        [[ $mode == all ]] && export VEXA_FAULT_ALL=1
        [[ $mode == kill ]] && export VEXA_FAULT_KILL=1
        # Preloaded into vexa alone: timeout's own calls must not count.
        timeout -s KILL "$run_limit" env LD_PRELOAD="$shim${LD_PRELOAD:+:$LD_PRELOAD}" "$vexa" scan \
            >"$world/fault-out" 2>"$world/fault-err" </dev/null
    ) 2>/dev/null
    status=$?
    fault_status=$status
    fired=$(grep -c '^failed' "$log" 2>/dev/null)
    killed_at=$(awk '/^killed-at/ {print " (killed at " $2 ")"}' "$log" 2>/dev/null)
    [[ ${fired:-0} -ge 1 ]]
    check $? "the $calls fault never happened (no counted call on '$path'): this case tests nothing"
    case $expect_exit in
        crash)
            [[ $status == 137 ]] && grep -q '^killed-at' "$log"
            check $? "not killed after the fault (exit $status)" ;;
        -)
            [[ $status -lt 124 ]]
            check $? "vexa crashed or hung (exit $status): $(tail -c 300 "$world/fault-err")" ;;
        *)
            [[ $status == "$expect_exit" ]]
            check $? "exit $status, expected $expect_exit: $(tail -c 300 "$world/fault-err")" ;;
    esac
    check_world fault
    after_fault="Inbox $(messages_in "$mailbox"), stored $(messages_in "$mailbox/.$store"),"
    after_fault+=" rows $(sqlite3 "$archive" "SELECT COUNT(*) FROM recv"), pending $(find "$install/Attach" -name '*.partial' | wc -l)"

    phase="rerun"
    run_vexa "$world/rerun-out" "$world/rerun-err" scan
    status=$?
    [[ $status == 0 ]]
    check $? "the rerun exited $status: $(head -c 300 "$world/rerun-err")"
    check_world rerun
    verdict=ok
    if ((case_failures > 0)); then
        ((case_failures > shown_per_case)) && echo "  ... and $((case_failures - shown_per_case)) more failed checks"
        verdict="FAILED ($case_failures checks)"
        broken_cases+=("$case_name")
        [[ -s $world/fault-err ]] && echo "  vexa said in the faulted scan: $(tail -c 400 "$world/fault-err" | tr '\n' ' ')"
        [[ -s $world/rerun-err ]] && echo "  vexa said in the rerun: $(tail -c 400 "$world/rerun-err" | tr '\n' ' ')"
    fi
    echo "run-faults: $case_name: $verdict; $fired failed call(s), exit $fault_status$killed_at; then $after_fault;" \
        "after the rerun Inbox $(messages_in "$mailbox"), rows $(sqlite3 "$archive" "SELECT COUNT(*) FROM recv")" \
        "($((($(date +%s%N) - case_started) / 1000000)) ms)"
    if [[ -n ${FAULTS_KEEP:-} ]]; then
        echo "  kept: $world"
    else
        rm -rf "$world"
    fi
done <<<"$cases"

[[ $ran -gt 0 ]] || { echo "run-faults: no case named ${FAULTS_ONLY:-}" >&2; exit 64; }
echo "run-faults: $ran cases, $mails faxes each, $(($(date +%s) - started)) s;" \
    "cases that broke the promise: ${broken_cases[*]:-none}"
echo "$((checks - failures)) passed, $failures failed"
[[ $failures == 0 ]]
