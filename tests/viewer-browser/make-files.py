#!/usr/bin/env python3
"""The attachments of the viewer's browser test, written with the standard library only.

    make-files.py OUTDIR

OUTDIR gets page1.tif .. page3.tif (uncompressed bilevel fax pages, 864 pixels wide, each with as
many black bars as its number, for tiffcp to join into one G4 fax), fax.pdf (a one-page PDF) and
voice.wav (1.5 s of a 440 Hz tone, 8 kHz mono 16-bit PCM).
"""
import math
import os
import struct
import sys
import wave

PAGE_WIDTH = 864
PAGE_HEIGHT = 400


def tiff_page(path, bars):
    row_bytes = PAGE_WIDTH // 8
    rows = []
    for y in range(PAGE_HEIGHT):
        in_bar = any(40 + b * 60 <= y < 70 + b * 60 for b in range(bars))
        rows.append((b"\xff" if in_bar else b"\x00") * row_bytes)  # WhiteIsZero: 1 bits are black
    pixels = b"".join(rows)
    entries = [  # tag, type (3 SHORT, 4 LONG, 5 RATIONAL), value
        (256, 4, PAGE_WIDTH), (257, 4, PAGE_HEIGHT), (258, 3, 1), (259, 3, 1), (262, 3, 0),
        (273, 4, None), (277, 3, 1), (278, 4, PAGE_HEIGHT), (279, 4, len(pixels)),
        (282, 5, None), (283, 5, None), (296, 3, 2),
    ]
    ifd_offset = 8
    ifd_size = 2 + 12 * len(entries) + 4
    rational_offset = ifd_offset + ifd_size
    pixels_offset = rational_offset + 16
    ifd = struct.pack("<H", len(entries))
    for tag, kind, value in entries:
        if tag == 273:
            value = pixels_offset
        if kind == 5:
            offset = rational_offset + (0 if tag == 282 else 8)
            ifd += struct.pack("<HHII", tag, kind, 1, offset)
        elif kind == 3:
            ifd += struct.pack("<HHIHH", tag, kind, 1, value, 0)
        else:
            ifd += struct.pack("<HHII", tag, kind, 1, value)
    ifd += struct.pack("<I", 0)
    rationals = struct.pack("<IIII", 204, 1, 196, 1)
    with open(path, "wb") as out:
        out.write(b"II*\x00" + struct.pack("<I", ifd_offset) + ifd + rationals + pixels)


def pdf(path):
    content = b"BT /F1 24 Tf 72 720 Td (Invoice from Bolt, page 1) Tj ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    body = b"%PDF-1.4\n"
    offsets = []
    for number, obj in enumerate(objects, 1):
        offsets.append(len(body))
        body += b"%d 0 obj\n" % number + obj + b"\nendobj\n"
    xref = len(body)
    body += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    body += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    body += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    with open(path, "wb") as out:
        out.write(body)


def wav(path):
    rate = 8000
    frames = b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * 440 * n / rate)))
                      for n in range(rate * 3 // 2))
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(frames)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for page in (1, 2, 3):
        tiff_page(os.path.join(out, "page%d.tif" % page), page)
    pdf(os.path.join(out, "fax.pdf"))
    wav(os.path.join(out, "voice.wav"))


if __name__ == "__main__":
    main()
