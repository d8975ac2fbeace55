#!/usr/bin/env python3
"""A recording SMTP server standing in for a user's submission server, standard library only.

    recorder.py DIR [PORT]

Listens on 127.0.0.1:PORT (any free port when 0 or left out), writes the port to DIR/port once it
listens, and keeps each accepted mail as DIR/mail/N.eml (the message exactly as it came, dot-stuffing
undone, CRLF line ends kept) beside DIR/mail/N.env (sender and recipients, one a line). How it
behaves is read from DIR/mode at each new connection, so a test changes it without a restart:

    ok                take everything
    mail CODE         refuse MAIL FROM with CODE (e.g. 451, 550)
    rcpt CODE         refuse every RCPT TO with CODE
    data CODE         read the whole message, then refuse it with CODE (nothing kept)
    drop-rcpt         close the connection when RCPT TO comes
    drop-after-data   read the whole message, keep it, and close without a reply
    slow SECONDS      wait that long before the reply to the end of the message (DIR/holding
                      is made when the wait begins)

AUTH PLAIN and LOGIN are offered and every login is taken.
"""
import os
import socket
import sys
import threading
import time

root = sys.argv[1]
mail_dir = os.path.join(root, "mail")
os.makedirs(mail_dir, exist_ok=True)
# A recorder started again on the same folder numbers on from the mails already there.
counter = [len([name for name in os.listdir(mail_dir) if name.endswith(".eml")])]
lock = threading.Lock()


def mode():
    try:
        with open(os.path.join(root, "mode")) as f:
            words = f.read().split()
    except OSError:
        words = []
    return words or ["ok"]


def keep(sender, recipients, message):
    with lock:
        counter[0] += 1
        number = counter[0]
    base = os.path.join(mail_dir, str(number))
    with open(base + ".env.tmp", "w") as f:
        f.write("\n".join([sender] + recipients) + "\n")
    with open(base + ".eml.tmp", "wb") as f:
        f.write(message)
    os.rename(base + ".env.tmp", base + ".env")
    os.rename(base + ".eml.tmp", base + ".eml")  # last: a .eml means the mail is complete


def serve(conn):
    behaviour = mode()
    reader = conn.makefile("rb")

    def reply(text):
        conn.sendall(text.encode() + b"\r\n")

    reply("220 recorder.test ESMTP")
    sender, recipients = None, []
    while True:
        line = reader.readline(100000)
        if not line:
            return
        command = line.decode("utf-8", "replace").rstrip("\r\n")
        verb = command[:4].upper()
        if verb == "EHLO":
            reply("250-recorder.test\r\n250-PIPELINING\r\n250-8BITMIME\r\n250-SMTPUTF8\r\n"
                  "250-SIZE 100000000\r\n250-AUTH PLAIN LOGIN\r\n250 ENHANCEDSTATUSCODES")
        elif verb == "HELO":
            reply("250 recorder.test")
        elif verb == "AUTH":
            words = command.split()
            if len(words) == 2:  # the mechanism without its initial response: ask for it
                reply("334 ")
                reader.readline(100000)
                if words[1].upper() == "LOGIN":
                    reply("334 UGFzc3dvcmQ6")
                    reader.readline(100000)
            reply("235 2.7.0 Authenticated")
        elif verb == "MAIL":
            if behaviour[0] == "mail":
                reply(behaviour[1] + " refused by the recorder at MAIL")
                continue
            sender = command[10:].split(">")[0].lstrip("<")
            recipients = []
            reply("250 2.1.0 OK")
        elif verb == "RCPT":
            if behaviour[0] == "drop-rcpt":
                conn.close()
                return
            if behaviour[0] == "rcpt":
                reply(behaviour[1] + " refused by the recorder at RCPT")
                continue
            recipients.append(command[8:].split(">")[0].lstrip("<"))
            reply("250 2.1.5 OK")
        elif verb == "DATA":
            if sender is None or not recipients:
                reply("503 5.5.1 no recipients")
                continue
            reply("354 go ahead")
            body = bytearray()
            while True:
                data_line = reader.readline(10000000)
                if not data_line:
                    return
                if data_line == b".\r\n":
                    break
                body += data_line[1:] if data_line.startswith(b".") else data_line
            if behaviour[0] == "data":
                reply(behaviour[1] + " refused by the recorder at the end of DATA")
            elif behaviour[0] == "drop-after-data":
                keep(sender, recipients, bytes(body))
                conn.close()
                return
            else:
                if behaviour[0] == "slow":
                    open(os.path.join(root, "holding"), "w").close()  # a mail is held: now is "in flight"
                    time.sleep(float(behaviour[1]))
                keep(sender, recipients, bytes(body))
                reply("250 2.0.0 kept")
            sender, recipients = None, []
        elif verb == "RSET":
            sender, recipients = None, []
            reply("250 2.0.0 OK")
        elif verb == "NOOP":
            reply("250 2.0.0 OK")
        elif verb == "QUIT":
            reply("221 2.0.0 bye")
            return
        else:
            reply("502 5.5.2 not known here")


def guarded(conn):
    try:
        serve(conn)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", int(sys.argv[2]) if len(sys.argv) > 2 else 0))
    listener.listen(64)
    with open(os.path.join(root, "port.tmp"), "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(os.path.join(root, "port.tmp"), os.path.join(root, "port"))
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=guarded, args=(conn,), daemon=True).start()


main()
