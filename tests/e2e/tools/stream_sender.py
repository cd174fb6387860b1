#!/usr/bin/env python3
"""Transfer streams written on plain sockets, for load on an instance's TCP port 4644.

  sequence --target IP --count N --size B
      N transfers one after the other, each on a connection of its own and carrying one file
      fNNNNN.bin of B bytes; each is done when the receiver closes the connection. Prints one
      JSON line (transfers, seconds, slowest in ms); exits 1 when a receiver broke one off.

  verify --folder DIR --count N --size B
      Checks that DIR holds exactly those N files with their exact contents.

The stream is the protocol's: element count and total size ("<QQ"), then per element its name,
a 0 byte, its size ("<Q") and its body.
"""
import json
import os
import socket
import struct
import time

from toolmain import REQUIRED, run_commands

PORT = 4644


def name_of(index):
    return f"f{index:05d}.bin"


def content(index, size):
    line = f"{name_of(index)} {index}\n".encode()
    return (line * (size // len(line) + 1))[:size]


def stream(name, body):
    return (struct.pack("<QQ", 1, len(body)) + name.encode() + b"\0" +
            struct.pack("<Q", len(body)) + body)


def send_one(target, data, timeout):
    with socket.create_connection((target, PORT), timeout=timeout) as sock:
        sock.sendall(data)
        # The receiver closes the connection once it has stored everything.
        while sock.recv(4096):
            pass


def sequence(args):
    started = time.monotonic()
    slowest = 0.0
    for index in range(1, args.count + 1):
        begin = time.monotonic()
        try:
            send_one(args.target, stream(name_of(index), content(index, args.size)), 30)
        except OSError as error:
            print(json.dumps({"transfers": index - 1, "error": f"{name_of(index)}: {error}"}))
            return 1
        slowest = max(slowest, time.monotonic() - begin)
    seconds = time.monotonic() - started
    print(json.dumps({"transfers": args.count, "bytes_each": args.size,
                      "seconds": round(seconds, 2), "slowest_ms": round(slowest * 1000, 1),
                      "per_second": round(args.count / seconds, 1)}), flush=True)
    return 0


def verify(args):
    expected = {name_of(i) for i in range(1, args.count + 1)}
    present = set(os.listdir(args.folder))
    if present != expected:
        print(f"missing {sorted(expected - present)[:5]}, unexpected {sorted(present - expected)[:5]}")
        return 1
    for index in range(1, args.count + 1):
        with open(os.path.join(args.folder, name_of(index)), "rb") as f:
            if f.read() != content(index, args.size):
                print(f"{name_of(index)} differs")
                return 1
    print(f"all {args.count} files intact")
    return 0


if __name__ == "__main__":
    run_commands(__doc__.splitlines()[0], {
        "sequence": (sequence, {"--target": REQUIRED, "--count": 1000, "--size": 1024}),
        "verify": (verify, {"--folder": REQUIRED, "--count": 1000, "--size": 1024}),
    })
