#!/usr/bin/env python3
"""A discovery peer on plain sockets that checks velto-cli's datagrams byte for byte.

It listens on UDP 4644 (the standard port), 5000 (its own, announced in the port field) and
5002, prints "ready", and then expects, in this order:
  1. the hello broadcast of the instance at --velto:   0x01 + signature, to port 4644;
  2. after our type-4 announcement from port 5000:     0x05 0x24 0x12 + signature, to port 5000;
  3. after our type-1 announcement from port 4644:     0x02 + signature, to port 4644;
  4. no answer to replies (types 2 and 5) or to malformed datagrams: once the answer to a
     later type-4 announcement with port 5002 is in, nothing else has come to 4644 or 5000;
  5. the goodbye broadcast when the instance stops:    0x03 "Bye Bye", to port 4644;
  6. a unicast announcement (velto-cli hello) from the same host: 0x01 + signature, to port
     4644, which it answers with a reply (0x02 + its own signature), as any instance would.
The instance ends up with this peer on port 5002.
Exits 0 when all held, 1 with the first mismatch. Every wait is bounded.
"""
import argparse
import select
import socket
import sys
import time

OWN_PORT = 5000
LAST_PORT = 5002
STANDARD_PORT = 4644
WAIT = 10.0


def fail(message):
    print(f"FAIL: {message}", flush=True)
    sys.exit(1)


def bound(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind(("0.0.0.0", port))
    return s


def receive_from(sock, sender, what):
    """The next datagram on sock from sender (others, such as our own broadcasts, are skipped)."""
    deadline = time.monotonic() + WAIT
    while True:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([sock], [], [], left)[0]:
            fail(f"no {what} from {sender} on port {sock.getsockname()[1]}")
        data, (host, _) = sock.recvfrom(65535)
        if host == sender:
            return data


def expect(sock, sender, what, wanted):
    data = receive_from(sock, sender, what)
    if data != wanted:
        fail(f"{what}: got {data!r}, wanted {wanted!r}")
    print(f"ok: {what}: {data.hex(' ')}", flush=True)


def nothing_pending(sock, sender, what):
    while select.select([sock], [], [], 0)[0]:
        data, (host, _) = sock.recvfrom(65535)
        if host == sender:
            fail(f"unexpected datagram after {what}: {data!r}")
    print(f"ok: no answer to {what}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velto", required=True, help="address of the instance under test")
    parser.add_argument("--signature", required=True, help="its expected signature")
    parser.add_argument("--broadcast", required=True, help="broadcast address of the LAN")
    args = parser.parse_args()

    standard, own, last = bound(STANDARD_PORT), bound(OWN_PORT), bound(LAST_PORT)
    ours = "Plain Peer at socket-test [Velto] (Test)".encode()
    theirs = args.signature.encode()
    print("ready", flush=True)

    expect(standard, args.velto, "hello broadcast (type 1)", b"\x01" + theirs)

    own.sendto(b"\x04\x88\x13" + ours, (args.broadcast, STANDARD_PORT))
    expect(own, args.velto, "reply to type 4 (type 5, port 4644)", b"\x05\x24\x12" + theirs)

    standard.sendto(b"\x01" + ours, (args.velto, STANDARD_PORT))
    expect(standard, args.velto, "reply to type 1 (type 2)", b"\x02" + theirs)

    quiet = [b"\x02" + ours, b"\x05\x88\x13" + ours, b"", b"\x04\x88", b"\x01\xff\xfe", b"\x06?"]
    for datagram in quiet:
        own.sendto(datagram, (args.velto, STANDARD_PORT))
    # Answers go out in the order datagrams came in, so once this one is here, any answer to
    # the datagrams above would be here too.
    last.sendto(b"\x04\x8a\x13" + ours, (args.velto, STANDARD_PORT))
    expect(last, args.velto, "reply to type 4 with port 5002", b"\x05\x24\x12" + theirs)
    nothing_pending(standard, args.velto, "replies and malformed datagrams (port 4644)")
    nothing_pending(own, args.velto, "replies and malformed datagrams (port 5000)")

    expect(standard, args.velto, "goodbye broadcast (type 3)", b"\x03Bye Bye")
    expect(standard, args.velto, "unicast announcement (type 1)", b"\x01" + theirs)
    standard.sendto(b"\x02" + ours, (args.velto, STANDARD_PORT))
    return 0


if __name__ == "__main__":
    sys.exit(main())
