#!/usr/bin/env python3
"""A receiver on TCP 4644 that refuses every transfer, one connection after the other.

  closes --bind IP
      Accepts each connection and closes it at once, reading nothing.

  half --bind IP
      Reads the stream header and the first element's header, then half of that element's body
      (rounded down), and closes with the rest unread.

Prints one JSON line once it listens, then serves until it is killed.
"""
import json
import socket
import struct

from toolmain import REQUIRED, run_commands

PORT = 4644


def listen(address):
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((address, PORT))
    server.listen(64)
    print(json.dumps({"listening": address}), flush=True)
    return server


def take(conn, count):
    data = b""
    while len(data) < count:
        piece = conn.recv(count - len(data))
        if not piece:
            break
        data += piece
    return data


def read_half(conn):
    take(conn, 16)
    while take(conn, 1) not in (b"\0", b""):
        pass
    size = struct.unpack("<Q", take(conn, 8).ljust(8, b"\0"))[0]
    take(conn, size // 2)


def serve(args, handle):
    server = listen(args.bind)
    while True:
        conn, _ = server.accept()
        conn.settimeout(10)
        try:
            handle(conn)
        except OSError:
            pass
        conn.close()


if __name__ == "__main__":
    run_commands(__doc__.splitlines()[0], {
        "closes": (lambda args: serve(args, lambda conn: None), {"--bind": REQUIRED}),
        "half": (lambda args: serve(args, read_half), {"--bind": REQUIRED}),
    })
