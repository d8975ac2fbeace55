#!/usr/bin/env python3
"""A TCP proxy for the tests and benchmarks: what a network that is not loopback does to a mail
connection, between a client and a server on 127.0.0.1.

    tcp-proxy.py TARGET_PORT [--delay-ms MS] [--port-file FILE]

Listens on a free port of 127.0.0.1 (written to FILE, else printed on the first line) and
forwards every connection to 127.0.0.1:TARGET_PORT. --delay-ms MS holds each piece of data MS/2
milliseconds in each direction, so that a round trip takes MS more, in order, as a slow link
does. SIGUSR1 black-holes the connections open now, as a NAT that forgot them or a Wi-Fi that
changed does: nothing more passes either way and nothing is closed, so the client's socket stays
open and silent. SIGUSR2 black-holes every connection, present and future (a server gone out of
reach); SIGHUP lets new ones through again. SIGTERM ends it."""

import argparse
import asyncio
import os
import signal
import socket


class Proxy:
    def __init__(self, target, delay):
        self.target = target
        self.delay = delay
        self.states = {}  # each open connection's state, to black-hole it
        self.refuse_new = False

    async def pump(self, reader, writer, state):
        queue = asyncio.Queue()

        async def send():
            loop = asyncio.get_running_loop()
            while True:
                due, data = await queue.get()
                if data is None:
                    break
                wait = due - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                if state["dead"]:
                    continue
                writer.write(data)
                await writer.drain()
            if not state["dead"]:
                writer.close()

        sender = asyncio.create_task(send())
        loop = asyncio.get_running_loop()
        try:
            while True:
                data = await reader.read(65536)
                if state["dead"]:
                    # Black-holed: what arrives is swallowed and nothing is closed.
                    if not data:
                        await asyncio.Event().wait()
                    continue
                await queue.put((loop.time() + self.delay, data or None))
                if not data:
                    break
        except (ConnectionError, OSError):
            await queue.put((0, None))
        await sender

    async def handle(self, client_reader, client_writer):
        state = {"dead": self.refuse_new}
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", self.target)
        except OSError:
            client_writer.close()
            return
        for sock in (client_writer.get_extra_info("socket"), server_writer.get_extra_info("socket")):
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.states[id(state)] = state
        try:
            await asyncio.gather(self.pump(client_reader, server_writer, state),
                                 self.pump(server_reader, client_writer, state))
        except asyncio.CancelledError:
            pass  # the proxy is ending
        finally:
            self.states.pop(id(state), None)

    def black_hole(self, future_too):
        for state in self.states.values():
            state["dead"] = True
        if future_too:
            self.refuse_new = True


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("target", type=int)
    parser.add_argument("--delay-ms", type=float, default=0.0)
    parser.add_argument("--port-file")
    args = parser.parse_args()
    proxy = Proxy(args.target, args.delay_ms / 2000.0)
    server = await asyncio.start_server(proxy.handle, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as out:
            out.write(f"{port}\n")
        os.rename(args.port_file + ".tmp", args.port_file)
    else:
        print(port, flush=True)
    loop = asyncio.get_running_loop()
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGUSR1, proxy.black_hole, False)
    loop.add_signal_handler(signal.SIGUSR2, proxy.black_hole, True)
    loop.add_signal_handler(signal.SIGHUP, lambda: setattr(proxy, "refuse_new", False))
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGINT, stop.set)
    async with server:
        await stop.wait()


if __name__ == "__main__":
    asyncio.run(main())
