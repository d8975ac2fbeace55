#!/usr/bin/env python3
"""The IMAP client of the Dovecot tests: what a mail reader on 127.0.0.1 would see.

    imap_client.py PORT USER PASSWORD count MAILBOX        messages, by SELECT's EXISTS
    imap_client.py PORT USER PASSWORD status MAILBOX       messages, by STATUS (MESSAGES)
    imap_client.py PORT USER PASSWORD lsub                 subscribed folders, one a line
    imap_client.py PORT USER PASSWORD flags MAILBOX        each message's flags, one line each
    imap_client.py PORT USER PASSWORD store MAILBOX SEQ FLAGS   STORE SEQ +FLAGS (FLAGS)
    imap_client.py PORT USER PASSWORD append MAILBOX FLAGS FILE  CREATE MAILBOX, APPEND FILE
    imap_client.py PORT USER PASSWORD idle MAILBOX OUT SECONDS
        IDLE on MAILBOX, appending every untagged line (EXISTS, EXPUNGE, ...) to OUT as it comes,
        for at most SECONDS; the count SELECT gave comes first, as "* N EXISTS", and "IDLING"
        once the server accepted IDLE.
"""
import imaplib
import re
import socket
import sys
import time


def quoted(name):
    return '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'


def connect(port, user, password):
    imap = imaplib.IMAP4("127.0.0.1", int(port), timeout=10)
    imap.login(user, password)
    return imap


def select_count(imap, mailbox):
    typ, data = imap.select(quoted(mailbox))
    if typ != "OK":
        raise SystemExit(f"SELECT {mailbox}: {typ} {data}")
    return int(data[0])


def status_count(imap, mailbox):
    typ, data = imap.status(quoted(mailbox), "(MESSAGES)")
    if typ != "OK":
        raise SystemExit(f"STATUS {mailbox}: {typ} {data}")
    return int(re.search(rb"MESSAGES (\d+)", data[0]).group(1))


def subscribed(imap):
    typ, data = imap.lsub()
    if typ != "OK":
        raise SystemExit(f"LSUB: {typ} {data}")
    names = []
    for line in data:
        if line is None:
            continue
        match = re.match(rb'\(.*?\) (?:"[^"]*"|NIL) (.*)$', line)
        name = match.group(1).decode()
        names.append(name[1:-1] if name.startswith('"') else name)
    return names


def flags(imap, mailbox):
    if select_count(imap, mailbox) == 0:
        return []
    typ, data = imap.fetch("1:*", "(FLAGS)")
    if typ != "OK":
        raise SystemExit(f"FETCH: {typ} {data}")
    found = [re.search(rb"FLAGS \((.*?)\)", line).group(1).decode() for line in data if line]
    # \Recent only says which session saw the message first.
    return [" ".join(f for f in flags.split() if f != "\\Recent") for flags in found]


def store(imap, mailbox, seq, new_flags):
    select_count(imap, mailbox)
    typ, data = imap.store(seq, "+FLAGS", "(" + new_flags + ")")
    if typ != "OK":
        raise SystemExit(f"STORE: {typ} {data}")


def append(imap, mailbox, new_flags, path):
    imap.create(quoted(mailbox))
    with open(path, "rb") as message:
        typ, data = imap.append(quoted(mailbox), "(" + new_flags + ")", None, message.read())
    if typ != "OK":
        raise SystemExit(f"APPEND: {typ} {data}")


def idle(imap, mailbox, out_path, seconds):
    with open(out_path, "a") as out:
        out.write(f"* {select_count(imap, mailbox)} EXISTS\n")
    deadline = time.monotonic() + float(seconds)
    sock = imap.socket()
    sock.sendall(b"a1 IDLE\r\n")
    buffer = b""
    with open(out_path, "a", buffering=1) as out:
        while time.monotonic() < deadline:
            sock.settimeout(max(0.05, min(1.0, deadline - time.monotonic())))
            try:
                chunk = sock.recv(4096)
            except socket.timeout:
                continue
            if not chunk:
                break
            buffer += chunk
            while b"\r\n" in buffer:
                line, buffer = buffer.split(b"\r\n", 1)
                text = line.decode(errors="replace")
                if text.startswith("+"):
                    out.write("IDLING\n")
                else:
                    out.write(text + "\n")
        sock.sendall(b"DONE\r\n")


def main(argv):
    port, user, password, command, *args = argv
    imap = connect(port, user, password)
    try:
        if command == "count":
            print(select_count(imap, args[0]))
        elif command == "status":
            print(status_count(imap, args[0]))
        elif command == "lsub":
            print("\n".join(subscribed(imap)))
        elif command == "flags":
            print("\n".join(flags(imap, args[0])))
        elif command == "store":
            store(imap, *args)
        elif command == "append":
            append(imap, *args)
        elif command == "idle":
            idle(imap, *args)
        else:
            raise SystemExit(f"unknown command {command}")
    finally:
        try:
            imap.logout()
        except (imaplib.IMAP4.error, OSError):
            pass


if __name__ == "__main__":
    main(sys.argv[1:])
