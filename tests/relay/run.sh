#!/usr/bin/env bash
# `vexa relay` between the mail programs its users run and a real submission server, everything
# on 127.0.0.1 in a throw-away folder: a Postfix demanding STARTTLS and AUTH that delivers into a
# Maildir (postfix.sh), and a recording server of our own (recorder.py) that keeps the exact bytes
# of each mail and refuses, drops or dawdles when told. The clients are swaks, msmtp, mutt and
# Python's smtplib (smtp_client.py, which also speaks hostile SMTP over a raw socket).
#
#   run.sh VEXA_BINARY SAMPLES_DIR
#
# Needs postfix, dovecot, openssl, swaks, msmtp, mutt, python3, sqlite3 and setpriv: a missing one
# fails the test. Postfix starts only as root; run otherwise, the test says so and is skipped
# (exit 77). RELAY_KEEP=1 in the environment keeps the throw-away folder. The last line is
# "N checks, M failed"; the exit status is 0 only when none failed.
set -u
umask 022  # Postfix's processes and the second local user read what the test makes

VEXA=$(realpath "$1")
SAMPLES=$(realpath "$2")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
CLIENT=(python3 "$HERE/smtp_client.py")
FAX_TO=12125551234@efaxsend.com

# shellcheck source=../support/blackbox.sh
source "$HERE/../support/blackbox.sh"
# shellcheck source=postfix.sh
source "$HERE/postfix.sh"

checks=0
failures=0
fail() {
    echo "    FAIL: $*"
    failures=$((failures + 1))
}
check() {  # check WHAT EXPECTED ACTUAL
    checks=$((checks + 1))
    expect_eq "$@"
}
give_up() {
    echo "relay: $*" >&2
    echo "$checks checks, $((failures + 1)) failed"
    exit 1
}

for tool in postfix dovecot openssl swaks msmtp mutt python3 sqlite3 setpriv; do
    command -v "$tool" >/dev/null || give_up "$tool is missing (scripts/install-deps installs it)"
done

setup  # WORLD, HOME, XDG_*, INSTALL, ARCHIVE
chmod 711 "$WORLD"  # Postfix's processes and the second user pass through it
RELAY_PID=
RECORDER_PID=
cleanup() {
    [[ -n "$RELAY_PID" ]] && kill -9 "$RELAY_PID" 2>/dev/null
    [[ -n "$RECORDER_PID" ]] && kill "$RECORDER_PID" 2>/dev/null
    postfix_stop
    wait 2>/dev/null
    if [[ -n "${RELAY_KEEP:-}" ]]; then echo "kept: $WORLD"; else rm -rf "$WORLD"; fi
}
trap cleanup EXIT
trap 'exit 143' INT TERM

postfix_start "$WORLD/postfix"
case $? in
    0) ;;
    2) echo "relay: skipped, Postfix cannot be started by this user"; exit 77 ;;
    *) give_up "the upstream Postfix did not start" ;;
esac
"$VEXA" init >/dev/null 2>&1 || give_up "vexa init failed"
RELAY_PORT=$(free_port)
RECORDER_PORT=$(free_port)
RECORDER=$WORLD/recorder
mkdir -p "$RECORDER" "$WORLD/msg"
printf '#!/bin/sh\necho "%s"\n' "$POSTFIX_PASSWORD" >"$WORLD/password"
chmod 700 "$WORLD/password"

section() { echo "== $* (at ${SECONDS}s)"; }

# ---- the relay and the recorder -------------------------------------------------------------

# relay_settings postfix|recorder [PASSWORD_COMMAND]: the relay's settings pointed at that
# upstream; towards Postfix, the relay offers STARTTLS with Postfix's certificate.
relay_settings() {
    local upstream=smtp://127.0.0.1:$POSTFIX_PORT tls=
    if [[ $1 == recorder ]]; then
        upstream=smtp://127.0.0.1:$RECORDER_PORT
    else
        tls=$(printf 'Certificate=%s\nKey=%s\n' "$POSTFIX_CERT" "$POSTFIX_KEY")
    fi
    printf '[Relay]\nUpstream=%s\nUser=%s\nPasswordCommand=%s\nCaFile=%s\n%s\n' \
        "$upstream" "$POSTFIX_USER" "${2:-$WORLD/password}" "$POSTFIX_CA" "$tls" >"$XDG_CONFIG_HOME/vexa/settings.ini"
}

# start_relay postfix|recorder [OPTION...]: the relay started on RELAY_PORT with those settings.
start_relay() {
    relay_settings "$1"
    shift
    "$VEXA" relay --listen "127.0.0.1:$RELAY_PORT" "$@" </dev/null 2>>"$WORLD/relay.err" &
    RELAY_PID=$!
    wait_port "$RELAY_PORT" || give_up "the relay does not answer: $(tail -n 5 "$WORLD/relay.err")"
}

stop_relay() {  # sets RELAY_STATUS
    kill -TERM "$RELAY_PID" 2>/dev/null
    wait "$RELAY_PID"
    RELAY_STATUS=$?
    RELAY_PID=
}

start_recorder() {
    rm -f "$RECORDER/port"
    python3 "$HERE/recorder.py" "$RECORDER" "$RECORDER_PORT" 2>>"$WORLD/recorder.err" &
    RECORDER_PID=$!
    wait_port "$RECORDER_PORT" || give_up "the recorder does not answer: $(cat "$WORLD/recorder.err")"
}

recorded() { find "$RECORDER/mail" -name '*.eml' 2>/dev/null | wc -l; }
rows() { sql "SELECT count(*) FROM send"; }
stored() { find "$INSTALL/Attach" -type f 2>/dev/null | wc -l; }

# ---- the mails ------------------------------------------------------------------------------

# fax NAME [DESCRIPTION]: the sample fax made NAME's own (subject "Fax from NAME", its own
# Message-ID), with an X-Fax-Description: field when a description is given; prints its file.
fax() {
    local out=$WORLD/msg/fax-$1.eml
    {
        [[ -n "${2:-}" ]] && printf 'X-Fax-Description: %s\r\n' "$2"
        sed -e "s/^Subject: .*/Subject: Fax from $1\r/" -e "s/^Message-ID: <[^@]*@/Message-ID: <$1@/" \
            "$SAMPLES/04-outgoing-fax.eml"
    } >"$out"
    echo "$out"
}

# ordinary NAME: a mail to Bob that is no fax, with what byte-exact relaying must keep: 8-bit
# text, lines that start with a dot, trailing blank lines.
ordinary() {
    local out=$WORLD/msg/mail-$1.eml
    {
        sed -e "s/^Subject: .*/Subject: Mail $1\r/" -e "s/^Message-ID: <[^@]*@/Message-ID: <$1@/" \
            -e 's/^To: .*/To: Bob <bob@example.org>\r/' -e '/^Cc: /d' "$SAMPLES/07-unrelated.eml"
        printf '.a line that starts with a dot\r\n..and two\r\nGr\xc3\xbc\xc3\x9fe aus K\xc3\xb6ln\r\n.\r\n\r\n\r\n'
    } >"$out"
    echo "$out"
}

# The file of the mail Postfix delivered with this subject (the tag aside), waiting up to 5 s.
delivered() {
    local _ file
    for _ in $(seq 50); do
        file=$(grep -l -a -F "Subject: $1 {" "$POSTFIX_MAILDIR"/new/* 2>/dev/null | head -n 1)
        [[ -n "$file" ]] && { echo "$file"; return; }
        sleep 0.1
    done
}

tag_of() { grep -a -m 1 '^Subject:' "$1" | tr -d '\r' | sed -n 's/.*{\([0-9]*\)}$/\1/p'; }

# check_fax SUBJECT DESCRIPTION [FILE]: the fax arrived (at Postfix, or as FILE) tagged with its
# row's number; the row holds the description and its document (of type $FAX_TYPE, default pdf)
# is stored; the field is gone.
check_fax() {
    local file=${3:-$(delivered "$1")} tag
    if [[ -z "$file" ]]; then
        fail "$1: not delivered upstream"
        return
    fi
    tag=$(tag_of "$file")
    check "$1: tagged" "Subject: $1 {$tag}" "$(grep -a -m 1 '^Subject:' "$file" | tr -d '\r')"
    check "$1: its row" "12125551234|$1|$2|S$tag.${FAX_TYPE:-pdf}" \
        "$(sql "SELECT Number, Subject, Description, FileId FROM send WHERE Id = $((10#${tag:-0}))")"
    check "$1: its document" "yes" "$([[ -s "$INSTALL/Attach/S$tag.${FAX_TYPE:-pdf}" ]] && echo yes)"
    check "$1: the description field gone" 0 "$(grep -a -c -i '^X-Fax-Description:' "$file")"
}

# ---- faxes from each mail program, through Postfix --------------------------------------------

section "faxes from swaks, smtplib, msmtp (in the clear and over STARTTLS) and mutt, through Postfix"
start_relay postfix
swaks --server "127.0.0.1:$RELAY_PORT" --helo client.test --from ann@example.org --to "$FAX_TO" \
    --data "@$(fax swaks "from swaks")" >"$WORLD/swaks.out" 2>&1
check "swaks's exit status" 0 "$?"
check "smtplib's reply" 250 "$("${CLIENT[@]}" send "$RELAY_PORT" "$(fax smtplib)")"
printf 'defaults\nhost 127.0.0.1\nport %s\nauth off\ntls off\nfrom ann@example.org\naccount relay\naccount default : relay\n' \
    "$RELAY_PORT" >"$WORLD/msmtprc"
chmod 600 "$WORLD/msmtprc"
msmtp -C "$WORLD/msmtprc" "$FAX_TO" <"$(fax msmtp 'Angebot für ACME')" >"$WORLD/msmtp.out" 2>&1
check "msmtp's exit status" 0 "$?"
# msmtp once more as a careful user sets it up: STARTTLS checked against the CA, and a login the
# relay has Postfix check.
cat >"$WORLD/msmtprc-tls" <<RC
account default
host 127.0.0.1
port $RELAY_PORT
from ann@example.org
tls on
tls_starttls on
tls_trust_file $POSTFIX_CA
auth plain
user $POSTFIX_USER
passwordeval $WORLD/password
RC
chmod 600 "$WORLD/msmtprc-tls"
msmtp -C "$WORLD/msmtprc-tls" "$FAX_TO" <"$(fax msmtp-tls 'over TLS')" >"$WORLD/msmtp-tls.out" 2>&1
check "msmtp's exit status over STARTTLS" 0 "$?"
# mutt attaches a TIFF: the one of the sample incoming fax.
python3 - "$SAMPLES/01-incoming-tiff.eml" "$WORLD/scan.tif" <<'PY'
import email, sys
message = email.message_from_binary_file(open(sys.argv[1], "rb"))
part = next(part for part in message.walk() if part.get_filename())
open(sys.argv[2], "wb").write(part.get_payload(decode=True))
PY
cat >"$WORLD/muttrc" <<RC
set smtp_url="smtp://127.0.0.1:$RELAY_PORT/"
set from="ann@example.org"
set use_from=yes
set ssl_starttls=no
set ssl_force_tls=no
set record=""
set copy=no
set folder="$WORLD/mutt"
set charset="utf-8"
my_hdr X-Fax-Description: from mutt
RC
echo "Please find the scan attached." |
    mutt -n -F "$WORLD/muttrc" -s "Fax from mutt" -a "$WORLD/scan.tif" -- "$FAX_TO" >"$WORLD/mutt.out" 2>&1
check "mutt's exit status" 0 "$?"
for _ in $(seq 200); do [[ $(postfix_delivered) -ge 5 ]] && break; sleep 0.1; done
check_fax "Fax from swaks" "from swaks"
check_fax "Fax from msmtp-tls" "over TLS"
check_fax "Fax from smtplib" "(no description)"
check_fax "Fax from msmtp" "Angebot für ACME"
FAX_TYPE=tif check_fax "Fax from mutt" "from mutt"
check "mutt's document by name" "scan.tif" "$(sql "SELECT FileName FROM send WHERE Subject = 'Fax from mutt'")"
mutt_document=$INSTALL/Attach/$(sql "SELECT FileId FROM send WHERE Subject = 'Fax from mutt'")
check "the stored document is the one sent" "$(sha256sum <"$WORLD/scan.tif")" "$(sha256sum <"$mutt_document" 2>&1)"

section "SIGHUP: the settings read again"
printf '#!/bin/sh\necho wrong\n' >"$WORLD/wrong-password"
chmod 700 "$WORLD/wrong-password"
while read -r password expected; do
    relay_settings postfix "$WORLD/$password"
    reloads=$(grep -c "settings read again" "$WORLD/relay.err")
    kill -HUP "$RELAY_PID"
    for _ in $(seq 50); do  # the relay's log says when it has; at most 5 s
        [[ $(grep -c "settings read again" "$WORLD/relay.err") -gt $reloads ]] && break
        sleep 0.1
    done
    before=$(rows)
    code=$("${CLIENT[@]}" send "$RELAY_PORT" "$(fax "hup-$password")")
    check "after SIGHUP, the $password: taken" "$expected" "$([[ $code == 250 ]] && echo yes || echo no)"
    check "after SIGHUP, the $password: rows" "$expected" "$([[ $(rows) -gt $before ]] && echo yes || echo no)"
done <<'TABLE'
wrong-password no
password yes
TABLE
check "the relay still runs after SIGHUP" yes "$(kill -0 "$RELAY_PID" 2>/dev/null && echo yes)"
check_fax "Fax from hup-password" "(no description)"

section "another local user without AUTH"
before=$(rows)
setpriv --reuid=65534 --regid=65534 --clear-groups -- swaks --server "127.0.0.1:$RELAY_PORT" --helo client.test \
    --from ann@example.org --to "$FAX_TO" --data "@$(fax nobody)" >"$WORLD/nobody.out" 2>&1
check "swaks as nobody: error in MAIL" 23 "$?"
check "refused with 530" "<** 530" "$(grep -a -m 1 -o '^<\*\* 530' "$WORLD/nobody.out")"
check "nothing archived for nobody" "$before" "$(rows)"
# With a login, which the relay has Postfix (and its Dovecot) check, the second user's mail goes.
while read -r login status code password; do
    setpriv --reuid=65534 --regid=65534 --clear-groups -- swaks --server "127.0.0.1:$RELAY_PORT" --helo client.test \
        --auth PLAIN --auth-user "$POSTFIX_USER" --auth-password "$password" \
        --from ann@example.org --to "$FAX_TO" --data "@$(fax "nobody-$login")" >"$WORLD/nobody.out" 2>&1
    check "swaks as nobody, $login password: exit status" "$status" "$?"
    check "swaks as nobody, $login password: AUTH's reply" "$code" "$(sed -n '/^ -> AUTH/{n;s/^<[-*]* *\([0-9]*\).*/\1/p}' "$WORLD/nobody.out")"
done <<TABLE
wrong 28 535 wrong
right 0 235 $POSTFIX_PASSWORD
TABLE
check "archived: the fax of the right login only" "$((before + 1))" "$(rows)"
check_fax "Fax from nobody-right" "(no description)"

section "20 clients at once, faxes and ordinary mail"
before=$(postfix_delivered)
last_row=$(sql "SELECT coalesce(max(Id), 0) FROM send")
files=()
for i in $(seq 10); do files+=("$(fax "crowd-$i")" "$(ordinary "crowd-$i")"); done
check "every client's reply" "$(printf '250 %.0s' $(seq 20) | sed 's/ $//')" "$("${CLIENT[@]}" many "$RELAY_PORT" "${files[@]}")"
for _ in $(seq 200); do [[ $(postfix_delivered) -ge $((before + 20)) ]] && break; sleep 0.1; done
check "all 20 delivered" $((before + 20)) "$(postfix_delivered)"
check "ten rows, numbers distinct" "10|10" "$(sql "SELECT count(*), count(DISTINCT Id) FROM send WHERE Id > $last_row")"
for i in $(seq 10); do check_fax "Fax from crowd-$i" "(no description)"; done
check "each fax delivered once" 10 "$(grep -l -a '^Subject: Fax from crowd-' "$POSTFIX_MAILDIR"/new/* | wc -l)"
check "ordinary mail untagged" 10 "$(grep -l -a '^Subject: Mail crowd-[0-9]*.$' "$POSTFIX_MAILDIR"/new/* | wc -l)"
check "no password in the relay's log" 0 "$(grep -c -F "$POSTFIX_PASSWORD" "$WORLD/relay.err")"
stop_relay
check "the relay's exit status after SIGTERM" 0 "$RELAY_STATUS"

# ---- ordinary mail, byte for byte, through the recorder ---------------------------------------

section "ordinary mail arrives as the client sent it"
start_recorder
start_relay recorder --insecure
rows_before=$(rows)
direct_msmtprc=$WORLD/msmtprc-direct
sed "s/^port .*/port $RECORDER_PORT/" "$WORLD/msmtprc" >"$direct_msmtprc"
chmod 600 "$direct_msmtprc"
ordinary_mail=$(ordinary exact)
for port in "$RECORDER_PORT" "$RELAY_PORT"; do  # each client straight to the recorder, then through the relay
    "${CLIENT[@]}" send "$port" "$ordinary_mail" >/dev/null
    swaks --server "127.0.0.1:$port" --helo client.test --from ann@example.org --to bob@example.org \
        --data "@$ordinary_mail" >/dev/null 2>&1
    rc=$WORLD/msmtprc
    [[ $port == "$RECORDER_PORT" ]] && rc=$direct_msmtprc
    msmtp -C "$rc" bob@example.org <"$ordinary_mail" >/dev/null 2>&1
done
check "six mails recorded" 6 "$(recorded)"
for pair in "smtplib 1 4" "swaks 2 5" "msmtp 3 6"; do
    read -r client direct relayed <<<"$pair"
    check "$client: the bytes relayed are the bytes sent" "" \
        "$(cmp "$RECORDER/mail/$direct.eml" "$RECORDER/mail/$relayed.eml" 2>&1)"
done
check "smtplib sent the file itself" "" "$(cmp "$ordinary_mail" "$RECORDER/mail/1.eml" 2>&1)"
check "the envelope passed on" "ann@example.org bob@example.org" "$(tr '\n' ' ' <"$RECORDER/mail/4.env" | sed 's/ $//')"
check "no row for ordinary mail" "$rows_before" "$(rows)"

section "the envelope decides where a mail goes: a fax only when the gateway is among its recipients"
# Each: the mail's To: field (- for none), its envelope's recipients, the client's reply, whether
# a row is made, and what the recorder gets.
gateway=12125551234@efaxsend.com
while read -r name to envelope reply row arrives; do
    mail=$WORLD/msg/envelope-$name.eml
    sed -e "s/^Subject: .*/Subject: Fax $name\r/" -e "/^To: /d" "$SAMPLES/04-outgoing-fax.eml" |
        awk -v to="$to" 'NR == 1 && to != "-" { printf "To: %s\r\n", to } { print }' >"$mail"
    rows_before=$(rows) recorded_before=$(recorded)
    code=$(swaks --server "127.0.0.1:$RELAY_PORT" --helo client.test --from ann@example.org --to "$envelope" \
        --data "@$mail" 2>&1 | sed -n 's/^<[-*]* *\([0-9][0-9][0-9]\)[ -].*/\1/p' | grep -v '^221$' | tail -n 1)
    check "$name: the reply" "$reply" "$code"
    check "$name: a row" "$row" "$([[ $(rows) -gt $rows_before ]] && echo yes || echo no)"
    got=$RECORDER/mail/$((recorded_before + 1)).eml
    case $arrives in
        tagged) check "$name: arrived tagged" "Subject: Fax $name {$(sql "SELECT max(Id) FROM send" | xargs printf '%07d')}" \
                    "$(grep -a -m 1 '^Subject:' "$got" 2>/dev/null | tr -d '\r')" ;;
        untagged) check "$name: arrived untagged" "Subject: Fax $name" "$(grep -a -m 1 '^Subject:' "$got" 2>/dev/null | tr -d '\r')" ;;
        nothing) check "$name: nothing arrived" "$recorded_before" "$(recorded)" ;;
    esac
done <<TABLE
blind-gateway - $gateway 250 yes tagged
redirected $gateway colleague@example.org 250 no untagged
gateway-second bob@example.org,$gateway bob@example.org,$gateway 550 no nothing
gateway-hidden bob@example.org bob@example.org,$gateway 550 no nothing
TABLE

# ---- the upstream refuses, drops, is gone; the archive cannot record ------------------------

section "refusals and failures: the client gets their class, nothing stays behind"
# Each: what the recorder is told (or "dead", or "unrecordable"), and the reply the client must get:
# the upstream's own code where it gave one, else the class.
while read -r behaviour reply; do
    rows_before=$(rows) stored_before=$(stored) recorded_before=$(recorded)
    case $behaviour in
        dead) kill "$RECORDER_PID"; wait "$RECORDER_PID" 2>/dev/null ;;
        unrecordable) mv "$INSTALL/Attach" "$WORLD/Attach.away" && echo "in the way" >"$INSTALL/Attach" ;;
        *) echo "${behaviour/:/ }" >"$RECORDER/mode" ;;
    esac
    code=$("${CLIENT[@]}" send "$RELAY_PORT" "$(fax "refused-${behaviour/:/-}")")
    check "$behaviour: the reply ($code)" "$reply" "${code:0:${#reply}}"
    check "$behaviour: no row" "$rows_before" "$(rows)"
    case $behaviour in
        dead) start_recorder ;;
        unrecordable) rm "$INSTALL/Attach" && mv "$WORLD/Attach.away" "$INSTALL/Attach" ;;
    esac
    check "$behaviour: no stored document" "$stored_before" "$(stored)"
    check "$behaviour: nothing arrived" "$recorded_before" "$(recorded)"
    rm -f "$RECORDER/mode"
done <<'TABLE'
mail:451 451
mail:550 550
rcpt:451 451
rcpt:550 550
data:452 452
data:554 554
drop-rcpt 4
dead 4
unrecordable 4
TABLE

# The connection broke after the whole mail went up, before its reply: it may have left, so its
# row stays, and the client is told to try again later.
rows_before=$(rows) recorded_before=$(recorded)
echo drop-after-data >"$RECORDER/mode"
check "broken after the data: 451" 451 "$("${CLIENT[@]}" send "$RELAY_PORT" "$(fax broken-after-data)")"
rm -f "$RECORDER/mode"
check "broken after the data: the mail went up" $((recorded_before + 1)) "$(recorded)"
check_fax "Fax from broken-after-data" "(no description)" "$RECORDER/mail/$(recorded).eml"
check "broken after the data: its row stays" $((rows_before + 1)) "$(rows)"

section "a slow upstream"
echo "slow 3" >"$RECORDER/mode"
check "slow upstream: taken" 250 "$("${CLIENT[@]}" send "$RELAY_PORT" "$(fax slow)")"
rm -f "$RECORDER/mode"
check_fax "Fax from slow" "(no description)" "$RECORDER/mail/$(recorded).eml"

# ---- hostile input ----------------------------------------------------------------------------

section "hostile input over a raw socket"
rows_before=$(rows) stored_before=$(stored) recorded_before=$(recorded)
"${CLIENT[@]}" hostile "$RELAY_PORT" >"$WORLD/hostile.out" 2>&1
while read -r name expected; do
    check "hostile $name" "$expected" "$(sed -n "s/^$name //p" "$WORLD/hostile.out" | sed 's/\([0-9]\)[0-9][0-9]/\1xx/g')"
done <<'TABLE'
overlong-command 5xx
overlong-data-line 3xx 5xx
bare-lf-in-data 3xx 5xx
smuggling 3xx 5xx
data-without-mail 5xx
rcpt-without-mail 5xx
unknown-mail-parameter 5xx
declared-size-too-big 5xx
pipelined-group 2xx 5xx 5xx
message-too-big 3xx 5xx
TABLE
check "hostile: nothing archived" "$rows_before|$stored_before" "$(rows)|$(stored)"
check "hostile: nothing relayed" "$recorded_before" "$(recorded)"
check "hostile: the relay still runs" yes "$(kill -0 "$RELAY_PID" 2>/dev/null && echo yes)"

# ---- kill -9 during a stream of faxes -----------------------------------------------------------

section "kill -9 at random moments during a stream of faxes"
# The upstream answers each mail after 0.2 s, so that most kills land while a fax is between its
# row's commit and the upstream's reply; the client tries each fax again until it is taken.
echo "slow 0.2" >"$RECORDER/mode"
files=()
for i in $(seq 12); do files+=("$(fax "stream-$i")"); done
"${CLIENT[@]}" stream "$RELAY_PORT" 60 "${files[@]}" >"$WORLD/stream.out" 2>&1 &
stream_pid=$!
for _ in $(seq 8); do
    sleep "0.$((RANDOM % 5 + 2))"
    kill -0 "$stream_pid" 2>/dev/null || break
    kill -9 "$RELAY_PID" 2>/dev/null
    wait "$RELAY_PID" 2>/dev/null
    start_relay recorder --insecure
done
wait "$stream_pid"
rm -f "$RECORDER/mode"
check "the kills hit the stream (faxes sent again)" yes "$(awk '{ n += $1 } END { if (n > NR) print "yes" }' "$WORLD/stream.out")"
check "every fax of the stream taken in the end" 12 "$(grep -c '^[0-9]' "$WORLD/stream.out")"
for i in $(seq 12); do
    copies=$(grep -l -a "^Subject: Fax from stream-$i {" "$RECORDER"/mail/*.eml 2>/dev/null)
    [[ -n "$copies" ]] || fail "stream-$i never arrived"
    for copy in $copies; do check_fax "Fax from stream-$i" "(no description)" "$copy"; done
done
check "no row used for two delivered mails" "" \
    "$(for f in "$RECORDER"/mail/*.eml; do tag_of "$f"; done | grep . | sort | uniq -d)"
check "no row without its document" "" \
    "$(sql "SELECT FileId FROM send" | while read -r id; do [[ -s "$INSTALL/Attach/$id" ]] || echo "$id"; done)"

# ---- SIGTERM with a mail in flight ---------------------------------------------------------

section "SIGTERM while a fax is being relayed"
echo "slow 2" >"$RECORDER/mode"
rm -f "$RECORDER/holding"
"${CLIENT[@]}" send "$RELAY_PORT" "$(fax in-flight)" >"$WORLD/in-flight.out" 2>&1 &
client_pid=$!
for _ in $(seq 100); do [[ -e "$RECORDER/holding" ]] && break; sleep 0.1; done  # at most 10 s
stop_relay
wait "$client_pid"
rm -f "$RECORDER/mode"
check "in flight: the client's reply" 250 "$(cat "$WORLD/in-flight.out")"
check "in flight: the relay's exit status" 0 "$RELAY_STATUS"
check_fax "Fax from in-flight" "(no description)" "$RECORDER/mail/$(recorded).eml"
check "no sanitizer's report in the relay's log" 0 "$(grep -c -E 'Sanitizer|runtime error:' "$WORLD/relay.err")"

echo
echo "$checks checks, $failures failed"
[[ $failures -eq 0 ]]
