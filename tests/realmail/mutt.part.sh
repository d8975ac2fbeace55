# mutt sending through vexa exactly as README sets it up: `set sendmail="vexa send"` in the muttrc,
# the real transport in the settings file's [Mail] section (mutt splits its sendmail setting on
# blanks and ignores quotes, so the transport's own options cannot go there), and the fax's
# description in an X-Fax-Description: field, since mutt gives sendmail no terminal for the prompt.
# The transport is a script that records what it is handed.

mutt_world() {
    mkdir -p "$WORLD/bin" "$WORLD/mail"
    ln -s "$VEXA" "$WORLD/bin/vexa"
    cat >"$WORLD/record" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$@" > "$WORLD/record-args"
cat > "$WORLD/record-message"
SCRIPT
    chmod +x "$WORLD/record"
    cat >"$WORLD/muttrc" <<MUTTRC
set sendmail="vexa send"
set from="ann@example.org"
set realname="Ann Example"
set use_from=yes
set folder="$WORLD/mail"
set record=""
set copy=no
set charset="utf-8"
set send_charset="utf-8"
MUTTRC
    mkdir -p "$XDG_CONFIG_HOME/vexa"
    printf '[Mail]\nTransport=%s -a work\n' "$WORLD/record" >"$XDG_CONFIG_HOME/vexa/settings.ini"
    printf 'Please fax the quote.\n' >"$WORLD/body"
    printf '%%PDF-1.4\nthe quote\n' >"$WORLD/quote.pdf"
}

mutt_send() {  # mutt_send SUBJECT RECIPIENT [mutt options...]: sets STATUS
    local subject=$1 recipient=$2
    shift 2
    PATH="$WORLD/bin:$PATH" mutt -n -F "$WORLD/muttrc" -s "$subject" "$@" -- "$recipient" <"$WORLD/body" \
        >"$WORLD/mutt-out" 2>&1
    STATUS=$?
}

test_mutt_sends_a_fax_through_vexa_with_its_description() {
    "$VEXA" init >/dev/null || fail "vexa init failed"
    mutt_world
    mutt_send "Quote for ACME" 12125551234@efaxsend.com \
        -e 'my_hdr X-Fax-Description: Quote, 2 pages' -a "$WORLD/quote.pdf"
    expect_eq "mutt's status" 0 "$STATUS"
    expect_eq "the transport of the settings file" "-a work" "$(head -n 2 "$WORLD/record-args" | tr '\n' ' ' | sed 's/ $//')"
    expect_eq "recipient handed on" "12125551234@efaxsend.com" "$(tail -n 1 "$WORLD/record-args")"
    expect_eq "row" "1|12125551234|Quote for ACME|Quote, 2 pages|quote.pdf|S0000001.pdf|Unconfirmed" \
        "$(sql "SELECT Id, Number, Subject, Description, FileName, FileId, Confirm FROM send")"
    expect_eq "document stored" "" "$(cmp "$WORLD/quote.pdf" "$INSTALL/Attach/S0000001.pdf")"
    expect_eq "tagged subject" "Subject: Quote for ACME {0000001}" \
        "$(grep -a '^Subject:' "$WORLD/record-message" | tr -d '\r')"
    expect_eq "the description field stays home" 0 "$(grep -aci '^X-Fax-Description:' "$WORLD/record-message")"
    expect_contains "the body went out" "Please fax the quote." "$(cat "$WORLD/record-message")"
}

test_mutt_sends_ordinary_mail_before_vexa_is_installed() {
    mutt_world
    VEXA_TRANSPORT="$WORLD/record -a env" mutt_send "Lunch" bob@example.org
    expect_eq "mutt's status" 0 "$STATUS"
    expect_eq "the transport of the environment" "-a env" "$(head -n 2 "$WORLD/record-args" | tr '\n' ' ' | sed 's/ $//')"
    expect_eq "subject unchanged" "Subject: Lunch" "$(grep -a '^Subject:' "$WORLD/record-message" | tr -d '\r')"
    [[ ! -e "$ARCHIVE" ]] || fail "an archive appeared"
}
