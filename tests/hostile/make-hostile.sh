#!/usr/bin/env bash
# Writes a corpus of hostile and broken mail into a Maildir, for run-hostile.sh.
#
#   bash tests/hostile/make-hostile.sh OUTDIR [--short]
#
# OUTDIR becomes a Maildir (cur/, new/, tmp/); every message lands in OUTDIR/new/ as
# "<n>.<case>.hostile", with modification times in the order written. Nearly every message comes
# from the service's delivery address, so the scan takes it for an incoming fax, and is broken in
# one way. Its text part carries the reference line "... for this fax is <case>." so that its row
# in the archive names the case.
#
# OUTDIR/manifest.tsv has one line per case: the case, then for messages whose attachment should
# be archived the sha256 and size of the bytes the archive must hold ("-" otherwise).
#
# --short leaves out the 256 MB attachment. Large cases are written here, at test time, and never
# kept in git. Needs bash and coreutils only.
set -euo pipefail
export LC_ALL=C
shopt -s lastpipe  # emit, last in its pipeline, counts in this shell

out=${1:?usage: make-hostile.sh OUTDIR [--short]}
short=0
[[ "${2:-}" == "--short" ]] && short=1
mkdir -p "$out"/{cur,new,tmp}
new="$out/new"
manifest="$out/manifest.tsv"
: >"$manifest"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

sender='eFax <message@inbound.efax.com>'
count=0
base_time=1700000000

# --- helpers ---------------------------------------------------------------------------------

# Bytes given as hex pairs to stdout.
hex() {
    local h fmt='' pairs
    read -ra pairs <<<"$*"
    for h in "${pairs[@]}"; do fmt+="\\x$h"; done
    printf '%b' "$fmt"
}

# LF line ends to CRLF, and to bare CR.
crlf() { sed 's/$/\r/'; }
bare_cr() { tr '\n' '\r'; }

# The attachment of a case: every byte value once (NUL and 0xFF included), the case's name and
# the head of a little-endian TIFF, so that no two cases store the same bytes.
every_byte=''
for ((i = 0; i < 256; i++)); do printf -v hexbyte '\\x%02x' "$i"; every_byte+=$hexbyte; done
printf '%b' "$every_byte" >"$tmp/every-byte"
payload() {  # payload CASE FILE
    { cat "$tmp/every-byte"; printf 'case %s\n' "$1"; hex "49 49 2a 00 08 00 00 00"; } >"$2"
}

sha() { sha256sum <"$1" | cut -c1-64; }

# The message's top headers: the delivery headers of the service, then the fields given
# (each argument one line, with its line end).
top_headers() {  # top_headers CASE [EXTRA_LINE...]
    local case=$1
    shift
    printf 'Return-Path: <message@inbound.efax.com>\n'
    printf 'Delivered-To: ann@example.org\n'
    printf 'Received: from mx1.inbound.efax.com (mx1.inbound.efax.com [198.51.100.17])\n'
    printf '\tby mail.example.org (Postfix) with ESMTPS id %s\n' "${case//[^A-Za-z0-9]/}"
    printf '\tfor <ann@example.org>; Tue, 14 Mar 2023 09:15:42 +0100 (CET)\n'
    printf 'Date: Tue, 14 Mar 2023 08:15:37 +0000\n'
    printf 'From: %s\n' "$sender"
    printf 'To: ann@example.org\n'
    printf 'Message-ID: <%s@hostile.invalid>\n' "$case"
    local line
    for line in "$@"; do printf '%s\n' "$line"; done
}

subject_of() { printf 'Subject: Hostile fax %s\n' "$1"; }

# The text part's content: a fax notice with the reference line.
notice() {  # notice CASE
    printf 'Fax Message [Caller-ID: 2125550000]\n\n'
    printf 'You have received a 1 page fax at 2023-03-14 09:15:37 CET.\n\n'
    printf '* The reference number for this fax is %s. Thank you for using eFax.\n' "$1"
}

text_part() {  # text_part BOUNDARY CASE
    printf -- '--%s\nContent-Type: text/plain; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n\n' "$1"
    notice "$2"
    printf '\n'
}

# A multipart/mixed fax: headers, the text part, one attachment part with the header lines
# given and FILE as base64, and the closing boundary.
fax() {  # fax CASE "ATTACHMENT HEADER LINES (\n-separated)" FILE [SUBJECT_LINE]
    local case=$1 headers=$2 file=$3 subject=${4:-}
    [[ -n "$subject" ]] || subject=$(subject_of "$case")
    top_headers "$case" "$subject" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\nThis is a multi-part message in MIME format.\n\n'
    text_part '=_b' "$case"
    printf -- '--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$headers"
    base64 -w 76 "$file"
    printf -- '\n--=_b--\n'
}

# Attachment headers for a name given as it should appear in the header (quoted, encoded...).
named() {  # named 'PARAMS OF Content-Type' 'PARAMS OF Content-Disposition'
    printf 'Content-Type: image/tiff%s\nContent-Disposition: attachment%s' "$1" "$2"
}

# Records a case: its message from stdin into new/, and what its archived attachment must be.
emit() {  # emit CASE [EXPECTED_ATTACHMENT_FILE]
    local case=$1 expected=${2:-}
    count=$((count + 1))
    local file="$new/$count.$case.hostile"
    cat >"$tmp/message"
    mv "$tmp/message" "$file"
    touch -d "@$((base_time + count))" "$file"
    if [[ -n "$expected" ]]; then
        printf '%s\t%s\t%s\n' "$case" "$(sha "$expected")" "$(wc -c <"$expected")" >>"$manifest"
    else
        printf '%s\t-\t-\n' "$case" >>"$manifest"
    fi
}

# The usual fax of a case (fax.tif, base64) as a file, for cases that damage it afterwards.
plain_fax() {  # plain_fax CASE > message
    payload "$1" "$tmp/$1.bin"
    fax "$1" "$(named '; name="fax.tif"' '; filename="fax.tif"')" "$tmp/$1.bin"
}

# --- line ends -------------------------------------------------------------------------------

plain_fax lf-line-ends | emit lf-line-ends "$tmp/lf-line-ends.bin"
plain_fax crlf-line-ends | crlf | emit crlf-line-ends "$tmp/crlf-line-ends.bin"
plain_fax bare-cr-line-ends | bare_cr | emit bare-cr-line-ends
# CRLF in the headers, LF in the body, as a gateway that rewrote only the headers leaves it.
plain_fax mixed-line-ends >"$tmp/m"
{ sed -n '1,/^$/p' "$tmp/m" | crlf; sed '1,/^$/d' "$tmp/m"; } | emit mixed-line-ends "$tmp/mixed-line-ends.bin"

# --- truncation ------------------------------------------------------------------------------

plain_fax trunc-in-text >"$tmp/m"
head -c "$(($(grep -b -m1 'You have received' "$tmp/m" | cut -d: -f1) + 20))" "$tmp/m" | emit trunc-in-text
plain_fax trunc-mid-part-header >"$tmp/m"
head -c "$(($(grep -b -m1 'Content-Type: image/tiff; name="fax' "$tmp/m" | cut -d: -f1) + 33))" "$tmp/m" |
    emit trunc-mid-part-header
plain_fax trunc-top-header >"$tmp/m"
head -c "$(($(grep -b -m1 '^Subject:' "$tmp/m" | cut -d: -f1) + 15))" "$tmp/m" | emit trunc-top-header
# Cut inside the base64, off the 4-character grid.
plain_fax trunc-mid-base64 >"$tmp/m"
head -c "$(($(grep -b -m1 'Content-Transfer-Encoding: base64' "$tmp/m" | cut -d: -f1) + 35 + 150))" "$tmp/m" |
    emit trunc-mid-base64
# Cut at the end of the third base64 line: the encoding alone looks complete.
plain_fax trunc-at-base64-line >"$tmp/m"
head -n "$(($(grep -n -m1 'Content-Transfer-Encoding: base64' "$tmp/m" | cut -d: -f1) + 4))" "$tmp/m" | emit trunc-at-base64-line
# The whole attachment is there, only the closing boundary is missing.
plain_fax missing-close-boundary | head -n -1 | emit missing-close-boundary

# --- boundaries ------------------------------------------------------------------------------

payload duplicate-boundaries "$tmp/p"
{
    top_headers duplicate-boundaries "$(subject_of duplicate-boundaries)" 'MIME-Version: 1.0' \
        'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\n--=_b\n--=_b\n\n'
    text_part '=_b' duplicate-boundaries
    printf -- '--=_b\n--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 76 "$tmp/p"
    printf -- '\n--=_b\n--=_b\n--=_b--\n--=_b--\n'
} | emit duplicate-boundaries "$tmp/p"

payload boundary-never-appears "$tmp/p"
{
    top_headers boundary-never-appears "$(subject_of boundary-never-appears)" 'MIME-Version: 1.0' \
        'Content-Type: multipart/mixed; boundary="=_declared"'
    printf '\n'
    text_part '=_other' boundary-never-appears
    printf -- '--=_other\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 76 "$tmp/p"
    printf -- '\n--=_other--\n'
} | emit boundary-never-appears

payload multipart-without-boundary "$tmp/p"
{
    top_headers multipart-without-boundary "$(subject_of multipart-without-boundary)" 'MIME-Version: 1.0' \
        'Content-Type: multipart/mixed'
    printf '\n'
    text_part '=_b' multipart-without-boundary
    printf -- '--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 76 "$tmp/p"
    printf -- '\n--=_b--\n'
} | emit multipart-without-boundary

# An inner multipart with the outer one's boundary.
payload same-boundary-nested "$tmp/p"
{
    top_headers same-boundary-nested "$(subject_of same-boundary-nested)" 'MIME-Version: 1.0' \
        'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\n'
    text_part '=_b' same-boundary-nested
    printf -- '--=_b\nContent-Type: multipart/mixed; boundary="=_b"\n\n'
    printf -- '--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 76 "$tmp/p"
    printf -- '\n--=_b--\n--=_b--\n'
} | emit same-boundary-nested "$tmp/p"

# --- nesting ---------------------------------------------------------------------------------

# DEPTH multiparts, one inside the other, with the fax at the bottom.
nested_fax() {  # nested_fax CASE DEPTH
    local case=$1 depth=$2 i
    payload "$case" "$tmp/$case.bin"
    top_headers "$case" "$(subject_of "$case")" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="b0"'
    printf '\n'
    for ((i = 1; i < depth; i++)); do printf -- '--b%d\nContent-Type: multipart/mixed; boundary="b%d"\n\n' $((i - 1)) "$i"; done
    text_part "b$((depth - 1))" "$case"
    printf -- '--b%d\n%s\nContent-Transfer-Encoding: base64\n\n' $((depth - 1)) "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 76 "$tmp/$case.bin"
    for ((i = depth - 1; i >= 0; i--)); do printf -- '\n--b%d--\n' "$i"; done
}
nested_fax nesting-1000 1000 | emit nesting-1000 "$tmp/nesting-1000.bin"
nested_fax nesting-20 20 | emit nesting-20 "$tmp/nesting-20.bin"
nested_fax nesting-50000 50000 | emit nesting-50000

# A message in a message in a message..., the fax in the innermost one.
payload rfc822-nesting-1000 "$tmp/p"
{
    top_headers rfc822-nesting-1000 "$(subject_of rfc822-nesting-1000)" 'MIME-Version: 1.0' 'Content-Type: message/rfc822'
    printf '\n'
    for ((i = 1; i < 1000; i++)); do printf 'From: %s\nSubject: level %d\nMIME-Version: 1.0\nContent-Type: message/rfc822\n\n' "$sender" "$i"; done
    plain_fax rfc822-nesting-1000 | sed '1,/^Message-ID/d'
} | emit rfc822-nesting-1000

# --- long lines ------------------------------------------------------------------------------

plain_fax header-line-1mb >"$tmp/m"
{
    sed -n '1,/^Message-ID/p' "$tmp/m"
    printf 'X-Padding: '
    head -c $((1024 * 1024)) /dev/zero | tr '\0' 'x'
    printf '\n'
    sed '1,/^Message-ID/d' "$tmp/m"
} | emit header-line-1mb "$tmp/header-line-1mb.bin"

payload subject-1mb "$tmp/subject-1mb.bin"
{
    printf 'Subject: Hostile fax subject-1mb '
    head -c $((1024 * 1024)) /dev/zero | tr '\0' 'y'
    printf '\n'
} >"$tmp/subject"
fax subject-1mb "$(named '; name="fax.tif"' '; filename="fax.tif"')" "$tmp/subject-1mb.bin" "$(cat "$tmp/subject")" |
    emit subject-1mb "$tmp/subject-1mb.bin"

# 1 MB of encoded words, each one cheap, all to be decoded.
payload subject-encoded-words "$tmp/subject-encoded-words.bin"
{
    printf 'Subject: Hostile fax subject-encoded-words'
    word=" =?utf-8?q?$(head -c 240 /dev/zero | tr '\0' 'z')?="
    for ((i = 0; i < 4096; i++)); do printf '%s' "$word"; done
    printf '\n'
} >"$tmp/subject"
fax subject-encoded-words "$(named '; name="fax.tif"' '; filename="fax.tif"')" "$tmp/subject-encoded-words.bin" \
    "$(cat "$tmp/subject")" | emit subject-encoded-words "$tmp/subject-encoded-words.bin"

# Nearly 2 MB of word starts that no word end ever follows: each start must not send a decoder
# looking through the rest of the field.
payload subject-unended-words "$tmp/subject-unended-words.bin"
{
    printf 'Subject: Hostile fax subject-unended-words '
    printf '=?a?q?a%.0s' $(seq 270000)
    printf '\n'
} >"$tmp/subject"
fax subject-unended-words "$(named '; name="fax.tif"' '; filename="fax.tif"')" "$tmp/subject-unended-words.bin" \
    "$(cat "$tmp/subject")" | emit subject-unended-words "$tmp/subject-unended-words.bin"

# 100 000 header fields.
plain_fax many-headers >"$tmp/m"
{
    sed -n '1,/^Message-ID/p' "$tmp/m"
    for ((i = 0; i < 100; i++)); do printf 'X-Filler-%d: %s\n' "$i" 'filler'; done >"$tmp/hundred"
    for ((i = 0; i < 1000; i++)); do cat "$tmp/hundred"; done
    sed '1,/^Message-ID/d' "$tmp/m"
} | emit many-headers "$tmp/many-headers.bin"

# The attachment's base64 in one line of 8 MB.
head -c $((6 * 1024 * 1024)) /dev/urandom >"$tmp/one-line.bin"
{
    top_headers base64-one-line "$(subject_of base64-one-line)" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\n'
    text_part '=_b' base64-one-line
    printf -- '--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 0 "$tmp/one-line.bin"
    printf -- '\n--=_b--\n'
} | emit base64-one-line "$tmp/one-line.bin"

# 3000 attachments: only the first is archived.
payload many-parts "$tmp/many-parts.bin"
{
    top_headers many-parts "$(subject_of many-parts)" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\n'
    text_part '=_b' many-parts
    printf -- '--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 76 "$tmp/many-parts.bin"
    part=$(printf -- '--=_b\nContent-Type: image/tiff; name="page.tif"\nContent-Transfer-Encoding: base64\n\nSUkqAA==\n')
    for ((i = 0; i < 100; i++)); do printf '%s\n' "$part"; done >"$tmp/hundred"
    for ((i = 0; i < 30; i++)); do cat "$tmp/hundred"; done
    printf -- '--=_b--\n'
} | emit many-parts "$tmp/many-parts.bin"

# 30 000 parts of one line each, no headers: cheap to send, costly to hold as a tree.
plain_fax parts-over-limit >"$tmp/m"
{
    sed '$d' "$tmp/m"
    for ((i = 0; i < 100; i++)); do printf -- '--=_b\nx\n'; done >"$tmp/hundred"
    for ((i = 0; i < 300; i++)); do cat "$tmp/hundred"; done
    printf -- '--=_b--\n'
} | emit parts-over-limit

# A header line of 64 MB.
plain_fax header-line-64mb >"$tmp/m"
{
    sed -n '1,/^Message-ID/p' "$tmp/m"
    printf 'X-Padding: '
    head -c $((64 * 1024 * 1024)) /dev/zero | tr '\0' 'x'
    printf '\n'
    sed '1,/^Message-ID/d' "$tmp/m"
} | emit header-line-64mb

# A text part of 64 MB after the notice, then the fax.
payload text-body-64mb "$tmp/text-body-64mb.bin"
{
    top_headers text-body-64mb "$(subject_of text-body-64mb)" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\n'
    text_part '=_b' text-body-64mb
    (yes 'The quick brown fox jumps over the lazy dog, again and again and again.' || :) | head -c $((64 * 1024 * 1024))
    printf -- '\n--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 76 "$tmp/text-body-64mb.bin"
    printf -- '\n--=_b--\n'
} | emit text-body-64mb "$tmp/text-body-64mb.bin"

# --- NUL and 8-bit bytes ---------------------------------------------------------------------

# Bash variables hold no NUL, so sed puts them into a finished message.
plain_fax nul-in-headers |
    sed -e 's/^Subject: Hostile fax nul-in-headers$/&\nX-Note: before\x00after/' \
        -e 's/^Content-Type: image\/tiff; name="fax.tif"$/&\nX-Part-Note: a\x00b/' | emit nul-in-headers "$tmp/nul-in-headers.bin"
# A NUL inside the subject itself.
plain_fax nul-in-subject | sed 's/^Subject: Hostile fax nul-in-subject$/&\x00 hidden/' | emit nul-in-subject "$tmp/nul-in-subject.bin"
# NUL bytes in the text before the reference line.
plain_fax nul-in-body | sed 's/^Fax Message/Fax\x00Message\x00/' | emit nul-in-body "$tmp/nul-in-body.bin"

payload 8bit-utf8-headers "$tmp/8bit-utf8-headers.bin"
fax 8bit-utf8-headers "$(named $'; name="Fax M\xc3\xbcller.tif"' $'; filename="Fax M\xc3\xbcller.tif"')" \
    "$tmp/8bit-utf8-headers.bin" $'Subject: Hostile fax 8bit-utf8-headers Gr\xc3\xbc\xc3\x9fe \xe2\x82\xac' |
    emit 8bit-utf8-headers "$tmp/8bit-utf8-headers.bin"

payload 8bit-latin1-headers "$tmp/8bit-latin1-headers.bin"
fax 8bit-latin1-headers "$(named $'; name="Fax M\xfcller.tif"' $'; filename="Fax M\xfcller.tif"')" \
    "$tmp/8bit-latin1-headers.bin" $'Subject: Hostile fax 8bit-latin1-headers Gr\xfc\xdfe' |
    emit 8bit-latin1-headers "$tmp/8bit-latin1-headers.bin"

# --- charsets --------------------------------------------------------------------------------

# A text part in CHARSET holding BYTES before the reference line.
charset_fax() {  # charset_fax CASE CHARSET BYTES SUBJECT_LINE
    local case=$1
    payload "$case" "$tmp/$case.bin"
    top_headers "$case" "$4" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\n--=_b\nContent-Type: text/plain; charset="%s"\nContent-Transfer-Encoding: 8bit\n\n' "$2"
    printf '%s\n' "$3"
    notice "$case"
    printf '%s\n' "$3"
    printf -- '--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 76 "$tmp/$case.bin"
    printf -- '\n--=_b--\n'
}
charset_fax charset-unknown x-no-such-charset $'Gr\xfc\xdfe aus K\xf6ln' \
    'Subject: Hostile fax charset-unknown =?x-no-such-charset?q?Gr=FC=DFe?=' | emit charset-unknown "$tmp/charset-unknown.bin"
charset_fax charset-utf8-lie utf-8 $'Gr\xfc\xdfe aus K\xf6ln' \
    'Subject: Hostile fax charset-utf8-lie =?utf-8?q?Gr=FC=DFe?=' | emit charset-utf8-lie "$tmp/charset-utf8-lie.bin"
charset_fax charset-iso2022jp-garbage iso-2022-jp $'\x1b$B\xff\xfe\x80\x1b(Q\x0e\x0f\x1b$)C\xa4\xa2 garbage' \
    $'Subject: Hostile fax charset-iso2022jp-garbage =?iso-2022-jp?b?GyRC/\xfe/w==?=' |
    emit charset-iso2022jp-garbage "$tmp/charset-iso2022jp-garbage.bin"

# --- attachment names ------------------------------------------------------------------------

# A fax whose attachment has the Content-Type and Content-Disposition parameters given.
name_case() {  # name_case CASE CT_PARAMS CD_PARAMS
    payload "$1" "$tmp/$1.bin"
    fax "$1" "$(named "$2" "$3")" "$tmp/$1.bin" | emit "$1" "$tmp/$1.bin"
}

# RFC 2231 continuations: filename*0*= ... filename*49*=, percent-encoded UTF-8.
params=''
for ((i = 0; i < 50; i++)); do
    if ((i == 0)); then piece="utf-8''Seite%20${i}%20%C3%BC-"; else piece="Seite%20${i}%20%C3%BC-"; fi
    ((i == 49)) && piece+='Ende.tif'
    params+=$(printf ';\n filename*%d*=%s' "$i" "$piece")
done
name_case rfc2231-50-parts '' "$params"
name_case rfc2231-invalid-bytes '' "; filename*=utf-8''Fax%FF%FE%C3%28%80%ZZ.tif"
name_case rfc2231-gaps '' "; filename*0=\"Part0-\"; filename*2=\"Part2-\"; filename*49=\"Part49.tif\""
name_case name-dotdot-slash '; name="../../etc/passwd"' '; filename="../../etc/passwd"'
name_case name-dotdot-backslash '; name="..\..\win.ini"' "; filename*=utf-8''..%5C..%5Cwin.ini"
name_case name-absolute '; name="/abs/path.tif"' '; filename="/abs/path.tif"'
name_case name-subfolder '; name="a/b.tif"' '; filename="a/b.tif"'
name_case name-con '; name="CON.tif"' '; filename="CON.tif"'
name_case name-nul-device '; name="nul"' '; filename="nul"'
name_case name-com1 '; name="COM1.pdf"' '; filename="COM1.pdf"'
name_case name-lpt9 '; name="LPT9"' '; filename="LPT9"'
name_case name-control-chars '' "; filename*=utf-8''fax%0D%0AX-Injected%3A%20yes%09%01%1B%5B31m%7F.tif"
name_case name-raw-control-chars $'; name="fax\x01\x1b[31m.tif"' $'; filename="fax\x01\x1b[31m.tif"'
name_case name-newline-encoded-word '; name="=?utf-8?q?fax=0Anext_line.tif?="' ''
name_case name-300-chars "; name=\"$(printf 'A%.0s' {1..296}).tif\"" "; filename=\"$(printf 'A%.0s' {1..296}).tif\""
name_case name-empty '; name=""' '; filename=""'
name_case name-only-dots '; name="..."' '; filename="..."'
name_case name-dot-dot '; name=".."' '; filename=".."'

# --- attachments of odd sizes and kinds ------------------------------------------------------

: >"$tmp/empty.bin"
fax zero-byte-attachment "$(named '; name="fax.tif"' '; filename="fax.tif"')" "$tmp/empty.bin" | emit zero-byte-attachment "$tmp/empty.bin"

if ((short == 0)); then
    # 256 MB, base64 in 76-character lines, streamed through: never whole in memory here either.
    {
        top_headers attachment-256mb "$(subject_of attachment-256mb)" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_b"'
        printf '\n'
        text_part '=_b' attachment-256mb
        printf -- '--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
        head -c $((256 * 1024 * 1024)) /dev/urandom | tee >(sha256sum | cut -c1-64 >"$tmp/big.sha") | base64 -w 76
        printf -- '\n--=_b--\n'
    } >"$tmp/big"
    # The checksum comes from a process substitution that may still be finishing.
    for _ in $(seq 100); do [[ -s "$tmp/big.sha" ]] && break; sleep 0.1; done
    count=$((count + 1))
    mv "$tmp/big" "$new/$count.attachment-256mb.hostile"
    touch -d "@$((base_time + count))" "$new/$count.attachment-256mb.hostile"
    printf '%s\t%s\t%s\n' attachment-256mb "$(cat "$tmp/big.sha")" $((256 * 1024 * 1024)) >>"$manifest"
fi

# The attachment is a whole message (a forwarded fax).
payload rfc822-attachment "$tmp/p"
{
    top_headers rfc822-attachment "$(subject_of rfc822-attachment)" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_outer"'
    printf '\n'
    text_part '=_outer' rfc822-attachment
    printf -- '--=_outer\nContent-Type: message/rfc822\nContent-Disposition: attachment; filename="forwarded.eml"\n\n'
    plain_fax rfc822-attachment-inner
    printf -- '\n--=_outer--\n'
} | emit rfc822-attachment

{
    top_headers no-attachment "$(subject_of no-attachment)" 'MIME-Version: 1.0' 'Content-Type: text/plain; charset=us-ascii'
    printf '\n'
    notice no-attachment
} | emit no-attachment

# --- transfer encodings that lie -------------------------------------------------------------

# Declared base64, holding the raw bytes.
payload base64-garbage "$tmp/p"
{
    top_headers base64-garbage "$(subject_of base64-garbage)" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\n'
    text_part '=_b' base64-garbage
    printf -- '--=_b\n%s\nContent-Transfer-Encoding: base64\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    printf 'This is not base64 at all: {}[]!#$&*()<>;:~^|\n'
    cat "$tmp/p"
    printf -- '\n--=_b--\n'
} | emit base64-garbage

# Quoted-printable with escapes that are none: kept as they are, as robust decoders do.
printf 'II*=ZZ =4 =\t=g0 ok=' >"$tmp/qp-expected.bin"
{
    top_headers qp-bad-escapes "$(subject_of qp-bad-escapes)" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\n'
    text_part '=_b' qp-bad-escapes
    printf -- '--=_b\n%s\nContent-Transfer-Encoding: quoted-printable\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    printf 'II*=ZZ =4 =\t=g0 ok=3D\n'
    printf -- '--=_b--\n'
} | emit qp-bad-escapes "$tmp/qp-expected.bin"

# A transfer encoding nobody knows.
payload cte-unknown "$tmp/cte-unknown.bin"
{
    top_headers cte-unknown "$(subject_of cte-unknown)" 'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="=_b"'
    printf '\n'
    text_part '=_b' cte-unknown
    printf -- '--=_b\n%s\nContent-Transfer-Encoding: x-squeezed\n\n' "$(named '; name="fax.tif"' '; filename="fax.tif"')"
    base64 -w 76 "$tmp/cte-unknown.bin"
    printf -- '--=_b--\n'
} | emit cte-unknown

# --- header syntax ---------------------------------------------------------------------------

plain_fax header-without-colon >"$tmp/m"
sed 's/^MIME-Version: 1.0$/This line has no colon at all\nMIME-Version: 1.0/' "$tmp/m" | emit header-without-colon "$tmp/header-without-colon.bin"
plain_fax part-header-without-colon | sed 's/^Content-Disposition: attachment; filename="fax.tif"$/&\nno colon in this part header/' |
    emit part-header-without-colon "$tmp/part-header-without-colon.bin"

# --- files that are no mail ------------------------------------------------------------------

: | emit empty-file
head -c 65536 /dev/urandom | emit random-binary
# A tiny PNG: signature, IHDR, IDAT and IEND chunks of a 1 x 1 grey pixel.
hex "89 50 4e 47 0d 0a 1a 0a 00 00 00 0d 49 48 44 52 00 00 00 01 00 00 00 01 08 00 00 00 00 3a 7e 9b 55" \
    "00 00 00 0a 49 44 41 54 08 1d 63 60 00 00 00 02 00 01 cf c8 35 e5 00 00 00 00 49 45 4e 44 ae 42 60 82" |
    emit png-image

echo "wrote $count messages to $new"
