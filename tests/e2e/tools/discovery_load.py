#!/usr/bin/env python3
"""Load for an instance's discovery port (UDP 4644) on the test LAN.

  flood --target IP --sources A.B.C.D-E --count N --seconds S
      Sends N datagrams that every instance must drop (unknown types, port fields cut short,
      texts that are not UTF-8, empty and oversized datagrams), from the given source
      addresses, with one valid type-1 hello from each source mixed in. Then, until each source
      has had its reply (type 2, proof that its record exists), it repeats that source's hello
      twice a second. Stops after S seconds in any case. Prints one JSON line of figures (among
      them refusable_sent: the datagrams sent that the instance refuses with a diagnostic line);
      exits 1 when a source got no reply.

  probe --target IP --seconds S --interval I
      Announces itself every I seconds for S seconds and times each reply; prints one JSON line
      (sent, answered, worst and median reply time in ms). Exits 1 when none was answered.

Every socket binds an address of the test LAN; nothing else is sent anywhere.
"""
import json
import random
import select
import socket
import time

from toolmain import REQUIRED, run_commands, timing_summary

PORT = 4644


def addresses(spec):
    """'10.77.0.30-229' -> ['10.77.0.30', ..., '10.77.0.229']."""
    prefix, _, span = spec.rpartition(".")
    first, _, last = span.partition("-")
    return [f"{prefix}.{n}" for n in range(int(first), int(last or first) + 1)]


def bound(address):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((address, PORT))
    s.setblocking(False)
    return s


def malformed(rng):
    """A datagram that no instance may turn into a peer record or an answer, and whether the
    instance refuses it with a diagnostic line (types outside 1..5 go without a word)."""
    kind = rng.randrange(8)
    if kind == 0:  # a port-field type cut short
        return bytes([rng.choice([4, 5])]) + rng.randbytes(rng.randrange(2)), True
    if kind == 1:  # a hello whose text is not UTF-8 (0xFF never occurs in UTF-8)
        kind = rng.choice([1, 2, 4, 5])
        # Types 4 and 5 carry a two-byte port first: the 0xFF must come after it, or a single
        # byte before it would make a valid port field and an empty (valid) text.
        port = rng.randbytes(2) if kind in (4, 5) else b""
        return bytes([kind]) + port + rng.randbytes(rng.randrange(40)) + b"\xff", True
    if kind == 2:
        return b"", True
    if kind == 3:  # large, of an unknown type
        return b"\x07" + rng.randbytes(rng.randrange(1000, 8000)), False
    # a type outside 1..5 with anything after it
    return bytes([rng.choice([0] + list(range(6, 256)))]) + rng.randbytes(rng.randrange(64)), False


def hello(source):
    return b"\x01" + f"Load peer {source} [Velto] (Linux)".encode()


def send(sock, data, target):
    try:
        sock.sendto(data, (target, PORT))
        return True
    except (BlockingIOError, OSError):
        return False  # a full send queue drops, as the network may


def collect_replies(sockets, target, answered):
    readable = select.select(list(sockets), [], [], 0)[0]
    for sock in readable:
        while True:
            try:
                data, (host, _) = sock.recvfrom(65535)
            except BlockingIOError:
                break
            if host == target and data[:1] == b"\x02":
                answered.add(sockets[sock])


def flood(args):
    rng = random.Random(4644)
    sources = addresses(args.sources)
    sockets = {bound(address): address for address in sources}
    by_address = {address: sock for sock, address in sockets.items()}
    started = time.monotonic()
    deadline = started + args.seconds
    answered = set()
    sent = dropped = refusable = 0
    every = max(1, args.count // len(sources))
    for i in range(args.count):
        if time.monotonic() > deadline:
            break
        sock = by_address[sources[i % len(sources)]]
        data, refused_aloud = malformed(rng)
        if send(sock, data, args.target):
            refusable += refused_aloud
        else:
            dropped += 1
            time.sleep(0.001)
        sent += 1
        if i % every == 0 and i // every < len(sources):
            source = sources[i // every]
            send(by_address[source], hello(source), args.target)
        if i % 1000 == 0:
            collect_replies(sockets, args.target, answered)
    flood_seconds = time.monotonic() - started
    repeats = 0
    while len(answered) < len(sources) and time.monotonic() < deadline:
        for source in sources:
            if source not in answered:
                send(by_address[source], hello(source), args.target)
                repeats += 1
        wait_until = time.monotonic() + 0.5
        while time.monotonic() < wait_until:
            select.select(list(sockets), [], [], 0.05)
            collect_replies(sockets, args.target, answered)
    print(json.dumps({
        "malformed_sent": sent, "send_queue_full": dropped, "refusable_sent": refusable,
        "sources": len(sources),
        "answered": len(answered), "hello_repeats": repeats,
        "flood_seconds": round(flood_seconds, 2),
        "datagrams_per_second": round(sent / flood_seconds) if flood_seconds else None,
    }), flush=True)
    return 0 if len(answered) == len(sources) else 1


def probe(args):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("0.0.0.0", PORT))
    times = []
    sent = 0
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        start = time.monotonic()
        sock.sendto(b"\x01Probe [Velto] (Linux)", (args.target, PORT))
        sent += 1
        while True:
            left = start + args.interval - time.monotonic()
            if left <= 0 or not select.select([sock], [], [], left)[0]:
                break
            data, (host, _) = sock.recvfrom(65535)
            if host == args.target and data[:1] == b"\x02":
                times.append((time.monotonic() - start) * 1000)
                break
        time.sleep(max(0.0, start + args.interval - time.monotonic()))
    print(json.dumps({
        "probes": sent, "answered": len(times),
        **timing_summary(times),
    }), flush=True)
    return 0 if times else 1


if __name__ == "__main__":
    run_commands(__doc__.splitlines()[0], {
        "flood": (flood, {"--target": REQUIRED, "--sources": REQUIRED, "--count": 100_000,
                          "--seconds": 60.0}),
        "probe": (probe, {"--target": REQUIRED, "--seconds": 10.0, "--interval": 0.5}),
    })
