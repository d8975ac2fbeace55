#!/usr/bin/env python3
"""The Python side of the relay tests: a mail program sending with smtplib, and a raw socket
talking to the relay the way no mail program should. Standard library only.

    smtp_client.py send PORT FILE...      each FILE in turn over one connection; prints the final
                                          reply code of each (250, a refusal, 0: no connection)
    smtp_client.py many PORT FILE...      every FILE from a client of its own, all at once
    smtp_client.py stream PORT SECONDS FILE...
                                          each FILE until it is taken (250), retrying on anything
                                          else, for at most SECONDS in all; prints the attempts
    smtp_client.py hostile PORT           the hostile conversations; prints "CASE CODE..." a line
    smtp_client.py bench PORT PER_CONNECTION CA_FILE USER FILE...
                                          every FILE, a new connection after each PER_CONNECTION
                                          mails, with STARTTLS and AUTH (the password from
                                          $SMTP_PASSWORD) unless CA_FILE and USER are "-"; prints
                                          the seconds it took, and fails on any refusal

Each mail goes to the addresses of its To: field, from ann@example.org.
"""
import email.parser
import email.utils
import smtplib
import os
import socket
import ssl
import sys
import threading
import time

SENDER = "ann@example.org"
FAX_ADDRESS = "12125551234@efaxsend.com"


def code_of(error):
    if isinstance(error, smtplib.SMTPRecipientsRefused):
        return next(iter(error.recipients.values()))[0]
    if isinstance(error, smtplib.SMTPResponseException):
        return error.smtp_code
    return 0  # no connection, or it broke without a reply


def recipients(message):
    headers = email.parser.BytesHeaderParser().parsebytes(message)
    return [address for _, address in email.utils.getaddresses(headers.get_all("To", []))]


def send(port, message, client=None):
    try:
        own = client is None
        if own:
            client = smtplib.SMTP("127.0.0.1", port, timeout=30)
        client.sendmail(SENDER, recipients(message), message)
        if own:
            client.quit()
        return 250
    except (smtplib.SMTPException, OSError) as error:
        return code_of(error)


def read(name):
    with open(name, "rb") as f:
        return f.read()


def command_send(port, files):
    try:
        client = smtplib.SMTP("127.0.0.1", port, timeout=30)
    except OSError:
        print("\n".join("0" for _ in files))
        return
    for name in files:
        print(send(port, read(name), client), flush=True)
    try:
        client.quit()
    except (smtplib.SMTPException, OSError):
        pass


def command_many(port, files):
    codes = [None] * len(files)
    start = threading.Barrier(len(files))

    def one(index):
        message = read(files[index])
        start.wait()
        codes[index] = send(port, message)

    threads = [threading.Thread(target=one, args=(i,)) for i in range(len(files))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    print(" ".join(str(code) for code in codes))


def command_stream(port, seconds, files):
    deadline = time.monotonic() + seconds
    for name in files:
        message, attempts = read(name), 0
        while time.monotonic() < deadline:
            attempts += 1
            if send(port, message) == 250:
                break
            time.sleep(0.1)
        print(attempts, flush=True)


class Raw:
    """One connection, greeted and EHLO said; `says` sends bytes and returns the reply codes."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.buffer = b""
        self.replies(1)
        self.says(b"EHLO hostile.test\r\n")

    def replies(self, count):
        codes = []
        while len(codes) < count:
            while b"\r\n" not in self.buffer:
                try:
                    chunk = self.sock.recv(65536)
                except OSError:
                    chunk = b""
                if not chunk:
                    return codes + [0] * (count - len(codes))  # closed: no reply
                self.buffer += chunk
            line, self.buffer = self.buffer.split(b"\r\n", 1)
            if line[3:4] != b"-":
                codes.append(int(line[:3]))
        return codes

    def says(self, data, count=1):
        try:
            self.sock.sendall(data)
        except OSError:
            return [0] * count
        return self.replies(count)


def command_hostile(port):
    to = FAX_ADDRESS
    rcpt = b"RCPT TO:<" + to.encode() + b">\r\n"
    envelope = b"MAIL FROM:<" + SENDER.encode() + b">\r\n" + rcpt + b"DATA\r\n"
    fax = b"To: " + to.encode() + b"\r\nSubject: hostile\r\n\r\n"

    def case(name, run):
        try:
            codes = run(Raw(port))
        except OSError as error:
            codes = ["error:" + type(error).__name__]
        print(name, " ".join(str(code) for code in codes), flush=True)

    case("overlong-command", lambda c: c.says(b"NOOP " + b"x" * 10000 + b"\r\n"))
    case("overlong-data-line", lambda c: c.says(envelope, 3)[2:] + c.says(fax + b"y" * 5000 + b"\r\n.\r\n"))
    case("bare-lf-in-data", lambda c: c.says(envelope, 3)[2:] + c.says(fax + b"one\nline\r\n.\r\n"))
    # A bare-LF end of data followed by a second transaction: a server that took "\n.\n" for the
    # end would relay the smuggled mail.
    case("smuggling", lambda c: c.says(envelope, 3)[2:] + c.says(
        fax + b"first\n.\nMAIL FROM:<evil@example.net>\r\n" + rcpt + b"DATA\r\nSubject: smuggled\r\n\r\nx\r\n.\r\n"))
    case("data-without-mail", lambda c: c.says(b"DATA\r\n"))
    case("rcpt-without-mail", lambda c: c.says(rcpt))
    case("unknown-mail-parameter", lambda c: c.says(b"MAIL FROM:<" + SENDER.encode() + b"> RET=HDRS\r\n"))
    case("declared-size-too-big", lambda c: c.says(b"MAIL FROM:<" + SENDER.encode() + b"> SIZE=999999999\r\n"))
    # MAIL, a refused RCPT and DATA in one write, as a pipelining client sends them: DATA finds
    # no recipient and is refused too.
    case("pipelined-group", lambda c: c.says(
        b"MAIL FROM:<" + SENDER.encode() + b">\r\nRCPT TO:<" + to.encode() + b"> NOTIFY=NEVER\r\nDATA\r\n", 3))
    case("message-too-big", lambda c: c.says(envelope, 3)[2:] + c.says(fax + (b"z" * 998 + b"\r\n") * 53000 + b".\r\n"))


def command_bench(port, per_connection, login, files):
    messages = [read(name) for name in files]
    context = ssl.create_default_context(cafile=login[0]) if login else None
    started = time.monotonic()
    for first in range(0, len(messages), per_connection):
        client = smtplib.SMTP("127.0.0.1", port, timeout=120)
        if login:
            client.starttls(context=context)
            client.login(login[1], os.environ["SMTP_PASSWORD"])
        for message in messages[first:first + per_connection]:
            client.sendmail(SENDER, recipients(message), message)
        client.quit()
    print("%.3f" % (time.monotonic() - started))


def main():
    command, port = sys.argv[1], int(sys.argv[2])
    if command == "send":
        command_send(port, sys.argv[3:])
    elif command == "many":
        command_many(port, sys.argv[3:])
    elif command == "stream":
        command_stream(port, float(sys.argv[3]), sys.argv[4:])
    elif command == "hostile":
        command_hostile(port)
    elif command == "bench":
        login = sys.argv[4:6] if sys.argv[4] != "-" else []
        command_bench(port, int(sys.argv[3]), login, sys.argv[6:])


main()
