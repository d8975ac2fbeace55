#!/usr/bin/env python3
# generate-faxes.py FOLDER COUNT KIB: COUNT incoming faxes as mail files in FOLDER, each with its
# own Message-ID, reference number and random attachment of KIB KiB (before base64), shaped as a
# fax service sends them. The benches' corpus.
import base64, os, sys, time
folder, count, kib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
boundary = '----=_Part_bench_20230314'
epoch = 1678781737
for i in range(1, count + 1):
    t = epoch + i * 7
    stamp = time.strftime('%a, %d %b %Y %H:%M:%S +0000', time.gmtime(t))
    ref = 'BN%06d-%02d' % (i, i % 100)
    body = b'II*\0' + b'%08d' % i + os.urandom(kib * 1024 - 12)
    b64 = base64.encodebytes(body).replace(b'\n', b'\r\n')  # 76-character lines
    head = '\r\n'.join([
        'Return-Path: <message@inbound.efax.com>',
        'Delivered-To: ann@example.org',
        'Received: from mx1.inbound.efax.com (mx1.inbound.efax.com [198.51.100.17])',
        '\tby mail.example.org (Postfix) with ESMTPS id BENCH%d' % i,
        '\tfor <ann@example.org>; ' + stamp,
        'Date: ' + stamp,
        'From: eFax <message@inbound.efax.com>',
        'To: ann@example.org',
        'Subject: =?ISO-8859-1?Q?eFax_message_from_=22212555%04d=22_-_1_page=28s=29?=' % (i % 10000),
        ' =?ISO-8859-1?Q?=2C_Caller-ID=3A_M=FCller?=',
        'Message-ID: <bench.%d.%s@inbound.efax.com>' % (i, ref),
        'MIME-Version: 1.0',
        'Content-Type: multipart/mixed; boundary="%s"' % boundary,
        '', 'This is a multi-part message in MIME format.', '',
        '--' + boundary,
        'Content-Type: text/plain; charset=ISO-8859-1',
        'Content-Transfer-Encoding: quoted-printable', '',
        'Fax Message [Caller-ID: M=FCller]', '',
        'You have received a 1 page fax.', '',
        '* The reference number for this fax is %s. Thank you for using eFax.' % ref, '',
        '--' + boundary,
        'Content-Type: image/tiff; name="fax-%d.tif"' % i,
        'Content-Transfer-Encoding: base64',
        'Content-Disposition: attachment; filename="fax-%d.tif"' % i,
        '', '']).encode('latin-1')
    with open(os.path.join(folder, '%d.M%dP%dQ%d.vexa-bench' % (t, i, os.getpid(), i)), 'wb') as f:
        f.write(head + b64 + b'\r\n--' + boundary.encode() + b'--\r\n')
