#!/usr/bin/env python3
"""A TCP forwarder on 127.0.0.1 that holds every chunk for a fixed time in each direction: a
link with a round trip of twice --delay in front of a loopback server, without root.

Usage: delay_forwarder.py --target PORT [--delay SECONDS]
Prints its own port as the first line on stdout; ends when stdin is closed.
"""

import argparse
import os
import queue
import socket
import sys
import threading
import time


def pump(source, target, delay):
    pending = queue.Queue()

    def read():
        try:
            while True:
                chunk = source.recv(65536)
                pending.put((time.monotonic() + delay, chunk))
                if not chunk:
                    return
        except OSError:
            pending.put((time.monotonic(), b""))

    def write():
        try:
            while True:
                due, chunk = pending.get()
                wait = due - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
                if not chunk:
                    target.shutdown(socket.SHUT_WR)
                    return
                target.sendall(chunk)
        except OSError:
            pass

    threading.Thread(target=read, daemon=True).start()
    threading.Thread(target=write, daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--delay", type=float, default=0.025)
    args = parser.parse_args()

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print(listener.getsockname()[1], flush=True)

    def end_when_stdin_closes():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)

    threading.Thread(target=end_when_stdin_closes, daemon=True).start()
    while True:
        client, _ = listener.accept()
        server = socket.create_connection(("127.0.0.1", args.target))
        for s in (client, server):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        pump(client, server, args.delay)
        pump(server, client, args.delay)


if __name__ == "__main__":
    main()
