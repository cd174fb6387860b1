#!/usr/bin/env python3
"""Connections to an instance's TCP port 4644 that never finish a transfer.

  --target IP --stalled N --random M --limit S
      Opens N connections that send a valid stream header (one element) and then nothing, and
      M that send random bytes and then nothing, and prints one JSON line once all are open.
      Then waits until the receiver has closed every one, at most S seconds, and prints another
      (connections closed, the slowest close of each kind in seconds); exits 1 when a
      connection was still open at the limit.
"""
import argparse
import json
import random
import select
import socket
import struct
import sys
import time

PORT = 4644


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--target", required=True)
    parser.add_argument("--stalled", type=int, default=200)
    parser.add_argument("--random", type=int, default=50)
    parser.add_argument("--limit", type=float, default=90)
    args = parser.parse_args()

    rng = random.Random(4645)
    started = time.monotonic()
    opened = {}  # socket -> (kind, time its last byte went out)
    for i in range(args.stalled + args.random):
        sock = socket.create_connection((args.target, PORT), timeout=10)
        if i < args.stalled:
            kind, data = "stalled", struct.pack("<QQ", 1, 1000)
        else:
            kind, data = "random", rng.randbytes(rng.randrange(1, 4096))
        try:
            sock.sendall(data)
        except OSError:
            pass  # already refused: counts as closed below
        sock.setblocking(False)
        opened[sock] = (kind, time.monotonic())

    print(json.dumps({"opened": len(opened), "seconds": round(time.monotonic() - started, 2)}),
          flush=True)
    slowest = {"stalled": 0.0, "random": 0.0}
    closed = 0
    deadline = time.monotonic() + args.limit
    while opened and time.monotonic() < deadline:
        readable = select.select(list(opened), [], [], 0.2)[0]
        for sock in readable:
            try:
                data = sock.recv(4096)
            except OSError:
                data = b""  # reset: closed too
            if data:
                continue  # a receiver never writes, but reading on is harmless
            kind, sent = opened.pop(sock)
            slowest[kind] = max(slowest[kind], time.monotonic() - sent)
            sock.close()
            closed += 1
    print(json.dumps({"connections": args.stalled + args.random, "closed_by_receiver": closed,
                      "slowest_close_stalled_s": round(slowest["stalled"], 2),
                      "slowest_close_random_s": round(slowest["random"], 2),
                      "still_open": len(opened)}), flush=True)
    return 0 if not opened else 1


if __name__ == "__main__":
    sys.exit(main())
