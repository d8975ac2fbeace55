#!/usr/bin/env bash
# Regenerates the sample mail in samples/mail/ for the black-box tests of the `vexa` command.
#
#   bash samples/make-samples.sh [OUTPUT_DIR]      (default: the mail/ folder beside this script)
#
# Every run writes byte-for-byte the same files: dates, Message-IDs, boundaries and the
# attachments (a TIFF, two PDFs and a JPEG, all built here byte by byte) are fixed.
# Needs bash, printf and coreutils (base64, paste, wc, mktemp) only.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/mail}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# --- helpers ---------------------------------------------------------------------------------

# Text on stdin with LF line ends to CRLF line ends (a missing final LF gets one).
crlf() { paste -d $'\r' - /dev/null; }

# A file as base64 in lines of 76 characters (RFC 2045), LF line ends (crlf converts later).
b64file() { base64 -w 76 "$1"; }

# Writes bytes given as hex pairs ("49 49 2a 00") to stdout.
hex() {
    local h fmt='' pairs
    read -ra pairs <<<"$*"
    for h in "${pairs[@]}"; do fmt+="\\x$h"; done
    printf '%b' "$fmt"
}

# Little-endian 16- and 32-bit values as hex pairs.
le16() { printf '%02x %02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
le32() { printf '%02x %02x %02x %02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }

# One TIFF directory entry: tag, type (3 SHORT, 4 LONG, 5 RATIONAL), count, value or offset.
tiff_entry() {
    local tag=$1 type=$2 count=$3 value=$4
    if [[ $type == 3 ]]; then
        echo "$(le16 "$tag") $(le16 "$type") $(le32 "$count") $(le16 "$value") 00 00"
    else
        echo "$(le16 "$tag") $(le16 "$type") $(le32 "$count") $(le32 "$value")"
    fi
}

# A baseline bilevel TIFF, little-endian, 64 x 32 pixels, uncompressed, WhiteIsZero (as fax
# software writes it), 204 x 98 dpi (fax standard resolution). Layout: 8-byte header, 256 bytes
# of image data (one strip, 8 bytes a row), the directory (12 entries), the two resolutions.
make_tiff() {
    local file=$1 width=64 height=32 row byte data='' ifd rationals
    local rowbytes=$((width / 8))
    local strip=$((rowbytes * height))
    ifd=$((8 + strip))
    rationals=$((ifd + 2 + 12 * 12 + 4))
    # Image: a checkerboard of 8 x 8 pixel squares, black (0xFF) and white (0x00).
    for ((row = 0; row < height; row++)); do
        for ((byte = 0; byte < rowbytes; byte++)); do
            if (((row / 8 + byte) % 2)); then data+="ff "; else data+="00 "; fi
        done
    done
    {
        hex "49 49 2a 00 $(le32 $ifd)"
        hex "$data"
        hex "$(le16 12)"
        hex "$(tiff_entry 256 3 1 $width)"          # ImageWidth
        hex "$(tiff_entry 257 3 1 $height)"         # ImageLength
        hex "$(tiff_entry 258 3 1 1)"               # BitsPerSample
        hex "$(tiff_entry 259 3 1 1)"               # Compression: none
        hex "$(tiff_entry 262 3 1 0)"               # PhotometricInterpretation: WhiteIsZero
        hex "$(tiff_entry 273 4 1 8)"               # StripOffsets
        hex "$(tiff_entry 277 3 1 1)"               # SamplesPerPixel
        hex "$(tiff_entry 278 3 1 $height)"         # RowsPerStrip
        hex "$(tiff_entry 279 4 1 $strip)"          # StripByteCounts
        hex "$(tiff_entry 282 5 1 $rationals)"      # XResolution
        hex "$(tiff_entry 283 5 1 $((rationals + 8)))" # YResolution
        hex "$(tiff_entry 296 3 1 2)"               # ResolutionUnit: inch
        hex "$(le32 0)"                              # no next directory
        hex "$(le32 204) $(le32 1) $(le32 98) $(le32 1)"
    } >"$file"
}

# A one-page PDF 1.4 (US Letter) with two lines of Helvetica text and a correct xref table.
# The texts must be plain ASCII without parentheses or backslashes.
make_pdf() {
    local file=$1 title=$2 line1=$3 line2=$4 created=$5
    local content i
    local -a offsets=()
    content="BT
/F1 20 Tf
72 720 Td
($line1) Tj
0 -28 Td
/F1 12 Tf
($line2) Tj
ET
"
    pdf_obj() { offsets+=("$(wc -c <"$file")"); printf '%s\n' "$1" >>"$file"; }
    printf '%%PDF-1.4\n%%\xe2\xe3\xcf\xd3\n' >"$file"
    pdf_obj $'1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj'
    pdf_obj $'2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj'
    pdf_obj $'3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>\nendobj'
    pdf_obj $'4 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\nendobj'
    pdf_obj "5 0 obj
<< /Length ${#content} >>
stream
${content}
endstream
endobj"
    pdf_obj "6 0 obj
<< /Title ($title) /Producer (make-samples.sh) /CreationDate (D:${created}) >>
endobj"
    local xref
    xref=$(wc -c <"$file")
    {
        printf 'xref\n0 %d\n' $((${#offsets[@]} + 1))
        printf '0000000000 65535 f \n'
        for i in "${offsets[@]}"; do printf '%010d 00000 n \n' "$i"; done
        printf 'trailer\n<< /Size %d /Root 1 0 R /Info 6 0 R >>\nstartxref\n%d\n%%%%EOF\n' \
            $((${#offsets[@]} + 1)) "$xref"
    } >>"$file"
}

# An 8 x 8 pixel greyscale baseline JPEG (JFIF), one flat mid-grey block: a DC difference of 0
# and an end-of-block, with one-code Huffman tables.
make_jpeg() {
    local q=
    for ((i = 0; i < 64; i++)); do q+="01 "; done
    {
        hex "ff d8"                                                         # SOI
        hex "ff e0 00 10 4a 46 49 46 00 01 01 01 00 48 00 48 00 00"         # APP0 JFIF, 72 dpi
        hex "ff db 00 43 00 $q"                                             # DQT
        hex "ff c0 00 0b 08 00 08 00 08 01 01 11 00"                        # SOF0 8x8, 1 component
        hex "ff c4 00 14 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00" # DHT DC 0
        hex "ff c4 00 14 10 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00" # DHT AC 0
        hex "ff da 00 08 01 01 00 00 3f 00"                                 # SOS
        hex "3f"                                                            # DC "0", EOB "0", 1-padding
        hex "ff d9"                                                         # EOI
    } >"$1"
}

# RFC 2047 encoded-word, B encoding, UTF-8.
bword() { printf '=?UTF-8?B?%s?=' "$(printf '%s' "$1" | base64 -w 0)"; }

# --- attachments -----------------------------------------------------------------------------

make_tiff "$tmp/fax.tif"
make_pdf "$tmp/overview.pdf" "Fax overview" "Fax overview" \
    "1 page received from 3105550199 on 2023-03-14 at 11:02 CET. Reference LA0815-02." "20230314100205Z"
make_pdf "$tmp/quote.pdf" "Quote for ACME" "Quote for ACME" \
    "Example Widgets Ltd. - 250 widgets at 4.20 USD each - valid for 30 days." "20230314132500Z"
make_jpeg "$tmp/photo.jpg"

# --- 01: incoming fax, TIFF, quoted-printable ISO-8859-1 text, Q-encoded subject -------------

{
    cat <<'EOF'
Return-Path: <message@inbound.efax.com>
Delivered-To: ann@example.org
Received: from mx1.inbound.efax.com (mx1.inbound.efax.com [198.51.100.17])
	by mail.example.org (Postfix) with ESMTPS id 4PbK2s1Xyqz9tB
	for <ann@example.org>; Tue, 14 Mar 2023 09:15:42 +0100 (CET)
Received: from faxgw07 (faxgw07.inbound.efax.com [10.20.30.7])
	by mx1.inbound.efax.com with ESMTP id 2c1f7a9e
	for <ann@example.org>; Tue, 14 Mar 2023 08:15:39 +0000
Date: Tue, 14 Mar 2023 08:15:37 +0000
From: eFax <message@inbound.efax.com>
To: ann@example.org
Subject: =?ISO-8859-1?Q?eFax_message_from_=222125550000=22_-_1_page=28s=29?=
 =?ISO-8859-1?Q?=2C_Caller-ID=3A_M=FCller?=
Message-ID: <20230314081537.NY4711-23.4711@inbound.efax.com>
MIME-Version: 1.0
Content-Type: multipart/mixed; boundary="----=_Part_4711_20230314081537"

This is a multi-part message in MIME format.

------=_Part_4711_20230314081537
Content-Type: text/plain; charset=ISO-8859-1
Content-Transfer-Encoding: quoted-printable

Fax Message [Caller-ID: M=FCller]

You have received a 1 page fax at 2023-03-14 09:15:37 CET.

* The reference number for this fax is NY4711-23. Thank you for using eFax.

Please visit www.efax.com/help if you have any questions regarding this mes=
sage or your service. You may also contact Customer Support at 1 323 817 32=
05.

Das Fax liegt im Anhang bei. Gr=FC=DFe, Ihr eFax-Team

------=_Part_4711_20230314081537
Content-Type: image/tiff; name="fax.tif"
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename="fax.tif"

EOF
    b64file "$tmp/fax.tif"
    cat <<'EOF'

------=_Part_4711_20230314081537--
EOF
} | crlf >"$out/01-incoming-tiff.eml"

# --- 02: incoming fax, nested alternative, PDF with an RFC 2231 file name, B-encoded subject -

subject_word1=$(bword 'eFax message from "3105550199"')
subject_word2=$(bword ' - 1 page(s), Caller-ID: ')
subject_word3=$(bword $'Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m')
html=$(cat <<'EOF'
<!DOCTYPE html>
<html>
<head><meta http-equiv="Content-Type" content="text/html; charset=UTF-8"><title>eFax</title></head>
<body style="font-family: Arial, sans-serif; font-size: 13px;">
<h2>Fax Message [Caller-ID: Zo&euml; &Aring;ngstr&ouml;m]</h2>
<p>You have received a 1 page fax at 2023-03-14 11:02:05 CET.</p>
<p>* The reference number for this fax is LA0815-02. Thank you for using eFax.</p>
<p>The fax is attached as &quot;Fax &uuml;bersicht.pdf&quot;.</p>
</body>
</html>
EOF
)
printf '%s\n' "$html" | crlf >"$tmp/body.html"
{
    cat <<EOF
Return-Path: <message@inbound.efax.com>
Delivered-To: ann@example.org
Received: from mx2.inbound.efax.com (mx2.inbound.efax.com [198.51.100.18])
	by mail.example.org (Postfix) with ESMTPS id 4PbNxq0c2Hz3wR
	for <ann@example.org>; Tue, 14 Mar 2023 11:02:09 +0100 (CET)
Received: from faxgw03 (faxgw03.inbound.efax.com [10.20.30.3])
	by mx2.inbound.efax.com with ESMTP id 7d09b3c1
	for <ann@example.org>; Tue, 14 Mar 2023 10:02:07 +0000
Date: Tue, 14 Mar 2023 10:02:05 +0000
From: eFax <message@inbound.efax.com>
To: Ann Example <ann@example.org>
Subject: $subject_word1
 $subject_word2
 $subject_word3
Message-ID: <20230314100205.LA0815-02.0815@inbound.efax.com>
MIME-Version: 1.0
Content-Type: multipart/mixed; boundary="----=_Part_0815_20230314100205"

This is a multi-part message in MIME format.

------=_Part_0815_20230314100205
Content-Type: multipart/alternative; boundary="----=_Alt_0815_20230314100205"

------=_Alt_0815_20230314100205
Content-Type: text/plain; charset=UTF-8
Content-Transfer-Encoding: quoted-printable

Fax Message [Caller-ID: Zo=C3=AB =C3=85ngstr=C3=B6m]

You have received a 1 page fax at 2023-03-14 11:02:05 CET.

* The reference number for this fax is LA0815-02. Thank you for using eFax.

The fax is attached as "Fax =C3=BCbersicht.pdf".

------=_Alt_0815_20230314100205
Content-Type: text/html; charset=UTF-8
Content-Transfer-Encoding: base64

EOF
    b64file "$tmp/body.html"
    cat <<'EOF'

------=_Alt_0815_20230314100205--

------=_Part_0815_20230314100205
Content-Type: application/pdf; name="=?UTF-8?Q?Fax_=C3=BCbersicht=2Epdf?="
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename*=UTF-8''Fax%20%C3%BCbersicht.pdf

EOF
    b64file "$tmp/overview.pdf"
    cat <<'EOF'

------=_Part_0815_20230314100205--
EOF
} | crlf >"$out/02-incoming-pdf.eml"

# --- 03: from the delivery address, but no attachment: a voice message without its recording -

{
    cat <<'EOF'
Return-Path: <message@inbound.efax.com>
Delivered-To: ann@example.org
Received: from mx1.inbound.efax.com (mx1.inbound.efax.com [198.51.100.17])
	by mail.example.org (Postfix) with ESMTPS id 4PbTfW2mLkz1pD
	for <ann@example.org>; Tue, 14 Mar 2023 13:47:30 +0100 (CET)
Received: from voicegw02 (voicegw02.inbound.efax.com [10.20.40.2])
	by mx1.inbound.efax.com with ESMTP id 5e88a0f4
	for <ann@example.org>; Tue, 14 Mar 2023 12:47:28 +0000
Date: Tue, 14 Mar 2023 12:47:26 +0000
From: eFax <message@inbound.efax.com>
To: ann@example.org
Subject: eFax voice message from "2125550147" - 0:42 minutes
Message-ID: <20230314124726.V4712.4712@inbound.efax.com>
MIME-Version: 1.0
Content-Type: text/plain; charset=us-ascii
Content-Transfer-Encoding: 7bit

Voice Message [Caller-ID: 2125550147]

You have received a 0:42 minute voice message at 2023-03-14 13:47:26 CET.

We are sorry: the recording of this voice message could not be attached
to this e-mail. Please sign in at www.efax.com to listen to it.

Please visit www.efax.com/help if you have any questions regarding this
message or your service.
EOF
} | crlf >"$out/03-incoming-no-attachment.eml"

# --- 04: a fax the user sends: a mail to the gateway with the document attached -------------

{
    cat <<'EOF'
Message-ID: <c1a5e0d2-7f3b-4c8e-9d21-5a6b7c8d9e0f@example.org>
Date: Tue, 14 Mar 2023 14:30:00 +0100
MIME-Version: 1.0
User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:102.0) Gecko/20100101
 Thunderbird/102.8.0
Content-Language: en-US
To: 12125551234@efaxsend.com
From: Ann Example <ann@example.org>
Subject: Quote for ACME
Content-Type: multipart/mixed;
 boundary="------------0x7rP2dUxw9Ej0bKq1A3vS4M"

This is a multi-part message in MIME format.
--------------0x7rP2dUxw9Ej0bKq1A3vS4M
Content-Type: text/plain; charset=UTF-8; format=flowed
Content-Transfer-Encoding: 7bit

Dear Sir or Madam,

please find our quote for 250 widgets attached.

Kind regards,
Ann Example

--------------0x7rP2dUxw9Ej0bKq1A3vS4M
Content-Type: application/pdf; name="quote.pdf"
Content-Disposition: attachment; filename="quote.pdf"
Content-Transfer-Encoding: base64

EOF
    b64file "$tmp/quote.pdf"
    cat <<'EOF'

--------------0x7rP2dUxw9Ej0bKq1A3vS4M--
EOF
} | crlf >"$out/04-outgoing-fax.eml"

# --- 05: confirmation of a successful transmission ------------------------------------------

{
    cat <<'EOF'
Return-Path: <send@mail.efax.com>
Delivered-To: ann@example.org
Received: from out3.mail.efax.com (out3.mail.efax.com [203.0.113.33])
	by mail.example.org (Postfix) with ESMTPS id 4PbVhk4tGvz7cN
	for <ann@example.org>; Tue, 14 Mar 2023 14:36:18 +0100 (CET)
Date: Tue, 14 Mar 2023 13:36:12 +0000
From: send@mail.efax.com
To: ann@example.org
Subject: Successful transmission to 12125551234
Message-ID: <20230314133612.S12125551234.77001@mail.efax.com>
MIME-Version: 1.0
Content-Type: text/plain; charset=us-ascii
Content-Transfer-Encoding: 7bit

Your fax was sent successfully.

   Subject: Quote for ACME {0000001}
   Fax number: 12125551234
   Pages sent: 1
   Duration: 0 minutes 48 seconds
   Transmission speed: 14400 bps
   Completed: 2023-03-14 14:36:04 CET

Thank you for using the eFax service.

--
This is an automated message; please do not reply to it.
Questions? Visit www.efax.com/help or call Customer Support.
EOF
} | crlf >"$out/05-confirmation-success.eml"

# --- 06: confirmation of a failed transmission ----------------------------------------------

{
    cat <<'EOF'
Return-Path: <send@mail.efax.com>
Delivered-To: ann@example.org
Received: from out1.mail.efax.com (out1.mail.efax.com [203.0.113.31])
	by mail.example.org (Postfix) with ESMTPS id 4PbVqD1bMsz4kT
	for <ann@example.org>; Tue, 14 Mar 2023 14:41:55 +0100 (CET)
Date: Tue, 14 Mar 2023 13:41:51 +0000
From: send@mail.efax.com
To: ann@example.org
Subject: Unsuccessful Fax Transmission to 12125551234
Message-ID: <20230314134151.U12125551234.77002@mail.efax.com>
MIME-Version: 1.0
Content-Type: text/plain; charset=us-ascii
Content-Transfer-Encoding: 7bit

We were unable to send your fax.

   Subject: Quote for ACME {0000001}
   Fax number: 12125551234
   Pages sent: 0 of 1
   Attempts: 3
   Reason: busy
   Last attempt: 2023-03-14 14:41:40 CET

The receiving fax machine was busy. Please check the number and send
your fax again later.

--
This is an automated message; please do not reply to it.
Questions? Visit www.efax.com/help or call Customer Support.
EOF
} | crlf >"$out/06-confirmation-failure.eml"

# --- 07: an ordinary personal mail with a photo: not the service's traffic ------------------

{
    cat <<'EOF'
Return-Path: <bob@example.net>
Delivered-To: ann@example.org
Received: from mail.example.net (mail.example.net [192.0.2.44])
	by mail.example.org (Postfix) with ESMTPS id 4PbYw17QpDz2sH
	for <ann@example.org>; Tue, 14 Mar 2023 16:05:03 +0100 (CET)
MIME-Version: 1.0
Date: Tue, 14 Mar 2023 16:04:58 +0100
Message-ID: <CAB8x9k2Yt7pQ3vN0mZ4wR5sT6uV7wX8yZ9a@mail.example.net>
Subject: Photos from Saturday
From: Bob Sample <bob@example.net>
To: Ann Example <ann@example.org>
Cc: Carol Sample <carol@example.net>
Content-Type: multipart/mixed; boundary="000000000000b4e7a105f6d1c3a2"

--000000000000b4e7a105f6d1c3a2
Content-Type: multipart/alternative; boundary="000000000000b4e7a005f6d1c3a0"

--000000000000b4e7a005f6d1c3a0
Content-Type: text/plain; charset="UTF-8"
Content-Transfer-Encoding: quoted-printable

Hi Ann,

here is the photo from Saturday. I'll fax you the signed lease on Monday,
my printer is broken =E2=80=93 sorry!

Bob

--000000000000b4e7a005f6d1c3a0
Content-Type: text/html; charset="UTF-8"
Content-Transfer-Encoding: quoted-printable

<div dir=3D"ltr"><div>Hi Ann,</div><div><br></div><div>here is the photo fr=
om Saturday. I&#39;ll fax you the signed lease on Monday, my printer is =
broken =E2=80=93 sorry!</div><div><br></div><div>Bob</div></div>

--000000000000b4e7a005f6d1c3a0--
--000000000000b4e7a105f6d1c3a2
Content-Type: image/jpeg; name="photo.jpg"
Content-Disposition: attachment; filename="photo.jpg"
Content-Transfer-Encoding: base64
Content-ID: <f_lf8k2x0a0>
X-Attachment-Id: f_lf8k2x0a0

EOF
    b64file "$tmp/photo.jpg"
    cat <<'EOF'
--000000000000b4e7a105f6d1c3a2--
EOF
} | crlf >"$out/07-unrelated.eml"

# --- 08: not a mail message at all: no header lines, not even a colon -----------------------

cat <<'EOF' >"$out/08-not-a-message.txt"
Shopping list

- 2 l milk
- 6 eggs
- 1 loaf of rye bread
- coffee beans
- stamps (for the tax office letter)
- printer paper, 500 sheets
EOF

written=("$out"/*)
echo "wrote ${#written[@]} files to $out"
