# vexa beside a real Dovecot: a throw-away server on 127.0.0.1 serving $MAILBOX, mail delivered
# with dovecot-lda and read back over IMAP, as a user's mail reader sees it. Sourced by run.sh.

DOVECOT_LDA=/usr/lib/dovecot/dovecot-lda
# shellcheck source=../support/dovecot_conf.sh
source "$HERE/../support/dovecot_conf.sh"
IMAP_CLIENT="$HERE/imap_client.py"
IMAP_PASSWORD=secret

# Starts Dovecot with a configuration of its own in $WORLD/dovecot (no system configuration),
# serving the current user's $MAILBOX on a free port of 127.0.0.1. Sets DOVECOT_CONF, IMAP_PORT,
# IMAP_USER; the server's pid goes to $WORLD/dovecot.pid for the teardown.
start_dovecot() {
    local dir="$WORLD/dovecot" user uid gid
    user=$(id -un)
    uid=$(id -u)
    gid=$(id -g)
    AS_MAIL_USER=()
    if [[ $uid == 0 ]]; then
        # Dovecot never gives root access to mail: as root (CI), the mailbox, vexa and the
        # mail server all run as nobody, and Dovecot's own processes as its Debian system users.
        user=nobody
        uid=$(id -u nobody)
        gid=$(id -g nobody)
        AS_MAIL_USER=(setpriv --reuid="$uid" --regid="$gid" --clear-groups --)
        chmod 711 "$WORLD"
        chown -R "$uid:$gid" "$HOME"
    fi
    mkdir -p "$dir/run" "$dir/state"
    IMAP_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    IMAP_USER=$user
    DOVECOT_CONF="$dir/dovecot.conf"
    # The user's uid and gid come from mail_uid and mail_gid: a passwd-file refuses uid 0.
    echo "$user:{PLAIN}$IMAP_PASSWORD:::::" >"$dir/users"
    local login_user=$user internal_user=$user internal_group
    internal_group=$(id -gn "$user")
    if [[ ${#AS_MAIL_USER[@]} -gt 0 ]]; then
        login_user=dovenull
        internal_user=dovecot
        internal_group=dovecot
    fi
    cat >"$DOVECOT_CONF" <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
default_internal_user = $internal_user
default_internal_group = $internal_group
default_login_user = $login_user
first_valid_uid = $uid
first_valid_gid = $gid
mail_location = maildir:$MAILBOX
mail_uid = $uid
mail_gid = $gid
namespace inbox {
  inbox = yes
  separator = .
}
$(dovecot_users_and_services "$dir/users" "$IMAP_PORT" 0)
CONF
    if ! dovecot -c "$DOVECOT_CONF"; then
        fail "dovecot did not start: $(tail -5 "$dir/dovecot.log" 2>/dev/null)"
        return 1
    fi
    local _
    for _ in $(seq 100); do [[ -s "$dir/run/master.pid" ]] && break; sleep 0.05; done
    cp "$dir/run/master.pid" "$WORLD/dovecot.pid"
    for _ in $(seq 100); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1', $IMAP_PORT), 1).close()" 2>/dev/null && return 0
        sleep 0.05
    done
    fail "dovecot does not answer on port $IMAP_PORT"
    return 1
}

# lda FILE: delivers FILE into the Inbox as the MTA would, through Dovecot's delivery agent.
lda() {
    "$DOVECOT_LDA" -c "$DOVECOT_CONF" -d "$IMAP_USER" -f sender@example.net <"$1" ||
        fail "dovecot-lda refused $1"
}

imap() { python3 "$IMAP_CLIENT" "$IMAP_PORT" "$IMAP_USER" "$IMAP_PASSWORD" "$@"; }

# Messages in MAILBOX as doveadm counts them, without asking for a resync.
doveadm_count() {
    doveadm -c "$DOVECOT_CONF" -f tab mailbox status -u "$IMAP_USER" messages "$1" | tail -n 1
}

# start_idle OUT [SECONDS]: an IMAP client IDLE on the Inbox in the background, writing the
# untagged responses it gets to OUT; returns once the server has accepted IDLE.
start_idle() {
    imap idle INBOX "$1" "${2:-60}" &
    echo $! >>"$WORLD/idle.pid"
    local _
    for _ in $(seq 100); do grep -q IDLING "$1" 2>/dev/null && return 0; sleep 0.05; done
    fail "the IMAP client did not get to IDLE"
}

# start_watch: vexa watch in the background, pid in $WORLD/watch.pid, until it says it watches
# (at most a minute).
start_watch() {
    "${AS_MAIL_USER[@]}" "$VEXA" watch --maildir "$MAILBOX" >>"$WORLD/watch-out" 2>>"$WORLD/watch-err" &
    WATCH_PID=$!
    echo "$WATCH_PID" >"$WORLD/watch.pid"
    local _ before
    before=$(grep -c Watching "$WORLD/watch-out" 2>/dev/null)
    # It says so once it has archived what waits: on a loaded machine (the suites run two at a
    # time) that can take a while.
    for _ in $(seq 1200); do
        [[ $(grep -c Watching "$WORLD/watch-out" 2>/dev/null) -gt $before ]] && return 0
        kill -0 "$WATCH_PID" 2>/dev/null || break
        sleep 0.05
    done
    fail "vexa watch did not start: $(cat "$WORLD/watch-err")"
}

stop_watch() {
    kill -TERM "$WATCH_PID" 2>/dev/null
    wait "$WATCH_PID"
    local status=$?
    rm -f "$WORLD/watch.pid"
    expect_eq "watch stopped cleanly" 0 "$status"
}

# wait_until SECONDS COMMAND...: polls COMMAND every 50 ms until it succeeds; false on time out.
wait_until() {
    local tries=$(($1 * 20)) _
    shift
    for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.05; done
    return 1
}

# Dovecot found nothing wrong in what vexa left it (keyword lists, subscriptions, folders).
expect_dovecot_quiet() {
    expect_eq "Dovecot's errors and warnings" "" "$(grep -E 'Error|Warning|Panic|Fatal' "$WORLD/dovecot/dovecot.log")"
}

files_in() { find "$1/new" "$1/cur" -type f 2>/dev/null | wc -l; }
inbox_is() { [[ $(files_in "$MAILBOX") == "$1" ]]; }
count_in_log() { [[ $(grep -c "$2" "$1" 2>/dev/null) -ge $3 ]]; }

# vx ARGS...: vexa as the mail user; mail_sql QUERY: the archive, read as the mail user so that
# SQLite's shared-memory file never ends up root's.
vx() { "${AS_MAIL_USER[@]}" "$VEXA" "$@"; }
mail_sql() { "${AS_MAIL_USER[@]}" sqlite3 -separator '|' "$ARCHIVE" "$1"; }

# The Inbox's message count as the IDLE client in OUT sees it: the last EXISTS, less the
# EXPUNGEs after it.
idle_view() { awk '$3 == "EXISTS" { n = $2 } $3 == "EXPUNGE" { n-- } END { print n + 0 }' "$1"; }

# every_view_is N: the Inbox holds N messages on disk, and so says every client, without a resync:
# a fresh SELECT, STATUS, doveadm and the client idling since the start.
every_view_is() {
    [[ $(files_in "$MAILBOX") == "$1" && $(idle_view "$WORLD/idle-out") == "$1" && $(imap count INBOX) == "$1" &&
        $(imap status INBOX) == "$1" && $(doveadm_count INBOX) == "INBOX	$1" ]]
}

# The idling client is asked first and alone: any other client's SELECT makes Dovecot rescan the
# folder, which would mend for everyone what the idling client missed.
expect_every_view() {  # expect_every_view WHEN N
    wait_until 10 idle_view_is "$2" ||
        fail "$1: the idling client sees $(idle_view "$WORLD/idle-out") messages, expected $2"
    wait_until 10 every_view_is "$2" && return
    fail "$1: the Inbox holds $(files_in "$MAILBOX"), the idling client sees $(idle_view "$WORLD/idle-out"), SELECT $(imap count INBOX), STATUS $(imap status INBOX), doveadm [$(doveadm_count INBOX)]; expected $2"
}
idle_view_is() { [[ $(files_in "$MAILBOX") == "$1" && $(idle_view "$WORLD/idle-out") == "$1" ]]; }

# sample_copy SAMPLE N: the sample made a message of its own, numbered N: its Message-ID and the
# fax's reference number carry N.
sample_copy() {
    local out="$WORLD/mail/$2-$1" number
    number=$(printf %04d "$2")
    mkdir -p "$WORLD/mail"
    sed -e "s/NY4711-23/NY$number-23/g; s/LA0815-02/LA$number-02/g; s/^Message-ID: <\(.*\)@/Message-ID: <\1.$number@/" \
        "$SAMPLES/$1" >"$out"
    echo "$out"
}

test_dovecot_idle_client_sees_the_fax_go_and_the_folder_subscribed() {
    vx init >/dev/null || fail "vexa init failed"
    start_dovecot || return
    lda "$SAMPLES/07-unrelated.eml"
    start_idle "$WORLD/idle-out"
    start_watch
    lda "$SAMPLES/01-incoming-tiff.eml"
    wait_until 10 inbox_is 1 || fail "the fax was not taken out of the Inbox"
    # Dovecot's idling session takes its notification of the move; then one more delivery, which
    # the client hears of for sure, shows what it believes is in the Inbox. A fax moved out
    # unseen by Dovecot stays in that count for good.
    sleep 2
    local heard
    heard=$(grep -c EXISTS "$WORLD/idle-out")
    lda "$(sample_copy 07-unrelated.eml 2)"
    wait_until 10 count_in_log "$WORLD/idle-out" EXISTS $((heard + 1)) || fail "the idling client heard of no delivery"
    expect_every_view "after the move and the next delivery" 2
    expect_eq "archived" "NY4711-23|R0000001.tif" "$(mail_sql "SELECT Number, FileId FROM recv")"
    expect_eq "in the store folder" 1 "$(imap count "VX2 Messages")"
    expect_contains "subscribed" "VX2 Messages" "$(imap lsub)"
    stop_watch
    expect_dovecot_quiet
}

test_dovecot_keywords_stay_with_the_moved_message() {
    vx init >/dev/null || fail "vexa init failed"
    start_dovecot || return
    # The store folder already knows other keywords: its letter a is not the Inbox's.
    imap append "VX2 Messages" 'Private $Label2' "$SAMPLES/07-unrelated.eml"
    lda "$SAMPLES/01-incoming-tiff.eml"
    imap store INBOX 1 'Work Urgent'
    expect_eq "the fax is tagged, unread" "Work Urgent" "$(imap flags INBOX)"
    vx scan --maildir "$MAILBOX" >/dev/null 2>"$WORLD/scan-err"
    expect_eq "scan reports nothing" "" "$(cat "$WORLD/scan-err")"
    expect_eq "Inbox emptied" 0 "$(imap count INBOX)"
    expect_eq "keywords in the store folder" 'Private $Label2
Work Urgent' "$(imap flags "VX2 Messages")"
    expect_dovecot_quiet
}

# 50 faxes and confirmations, among other mail, delivered by dovecot-lda while vexa watch runs and
# is restarted twice (a fax arriving while it is down), with a client idling on the Inbox all along.
test_dovecot_soak_with_watch_restarts() {
    local samples=(01-incoming-tiff.eml 07-unrelated.eml 02-incoming-pdf.eml 05-confirmation-success.eml
        01-incoming-tiff.eml 06-confirmation-failure.eml 02-incoming-pdf.eml 07-unrelated.eml 01-incoming-tiff.eml
        05-confirmation-success.eml)
    local faxes=0 tiffs=0 pdfs=0 confirmations=0 others=0 i sample started=$SECONDS
    vx init >/dev/null || fail "vexa init failed"
    printf '#!/bin/sh\ncat >/dev/null\n' >"$WORLD/transport" && chmod 755 "$WORLD/transport"
    vx send --transport "$WORLD/transport" -- 12125551234@efaxsend.com <"$SAMPLES/04-outgoing-fax.eml" 2>"$WORLD/send-err" ||
        fail "the fax to be confirmed was not sent: $(cat "$WORLD/send-err")"
    start_dovecot || return
    start_idle "$WORLD/idle-out" 600
    start_watch
    for i in $(seq 1 60); do
        sample=${samples[$((i % ${#samples[@]}))]}
        lda "$(sample_copy "$sample" "$i")"
        case $sample in
            01-*) faxes=$((faxes + 1)) tiffs=$((tiffs + 1)) ;;
            02-*) faxes=$((faxes + 1)) pdfs=$((pdfs + 1)) ;;
            05-* | 06-*) confirmations=$((confirmations + 1)) ;;
            *) others=$((others + 1)) ;;
        esac
        if ((i % 10 == 0)); then expect_every_view "after $i deliveries" "$others"; fi
        if ((i == 20 || i == 40)); then
            stop_watch
            lda "$(sample_copy 01-incoming-tiff.eml $((100 + i)))"
            faxes=$((faxes + 1)) tiffs=$((tiffs + 1))
            start_watch
        fi
    done
    expect_every_view "at the end" "$others"
    stop_watch
    expect_eq "every fax archived once" "$faxes|$faxes" "$(mail_sql "SELECT COUNT(*), COUNT(DISTINCT Number) FROM recv")"
    expect_eq "every fax its file" "$faxes" "$(find "$INSTALL/Attach" -name 'R*' | wc -l)"
    expect_eq "tiff files by checksum" "$tiffs" \
        "$(sha256sum "$INSTALL"/Attach/R*.tif | grep -c 9db20cf3f7070e7c266bfcd97a8c419169d28eaf71420a465648f388d06d946e)"
    expect_eq "pdf files by checksum" "$pdfs" \
        "$(sha256sum "$INSTALL"/Attach/R*.pdf | grep -c 2b55c529f2e49d438ce9e2f2cb62d1fc14b5815dbd41b2ebe411b9d25c759d1c)"
    expect_eq "the last confirmation counts" "Successful" "$(mail_sql "SELECT Confirm FROM send WHERE Id = 1")"
    expect_eq "store folder" $((faxes + confirmations)) "$(imap count "VX2 Messages")"
    expect_contains "subscribed" "VX2 Messages" "$(imap lsub)"
    expect_eq "nothing reported" "" "$(cat "$WORLD/watch-err")"
    expect_dovecot_quiet
    expect_eq "faxes and confirmations delivered" 50 $((faxes + confirmations))
    echo "figures: $((60 + 2)) delivered ($faxes faxes, $confirmations confirmations, $others others)," \
        "$(mail_sql "SELECT COUNT(*) FROM recv") archived, $((SECONDS - started)) s" | tee -a "${DOVECOT_FIGURES:-/dev/null}"
}
