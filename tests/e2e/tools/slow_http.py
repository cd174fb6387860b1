#!/usr/bin/env python3
"""Slow clients of an instance's metadata server (TCP 4645), and a timed fetcher beside them.

  slow --target IP --writers N --readers M --seconds S
      N clients send a request for the picture one byte per second; M send it whole and then
      read the answer one byte per second through a small receive buffer. Prints one JSON line
      once all are connected. All stop after S seconds (a writer earlier, when the server
      closes on it). Then prints another JSON line: how many
      writers the server cut off, and after how long at most. (A reader cannot tell: bytes the
      server sent before closing still trickle in; the server's descriptors show it.)

  fetch --target IP --seconds S --interval I --limit L
      Asks for the picture every I seconds for S seconds; every answer must be a 200 with the
      whole body, within L seconds. Prints one JSON line (fetches, worst and median in ms);
      exits 1 when one failed or was late.
"""
import json
import select
import socket
import time

from toolmain import REQUIRED, run_commands, timing_summary

PORT = 4645
REQUEST = b"GET /velto/avatar HTTP/1.1\r\nHost: velto\r\nConnection: close\r\n\r\n"


def slow(args):
    clients = []  # [socket, kind, bytes of the request sent]
    for i in range(args.writers + args.readers):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        kind = "writer" if i < args.writers else "reader"
        if kind == "reader":
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 2048)
        sock.connect((args.target, PORT))
        if kind == "reader":
            sock.sendall(REQUEST)
        sock.setblocking(False)
        clients.append([sock, kind, 0])
    print(json.dumps({"connected": len(clients)}), flush=True)
    started = time.monotonic()
    cut = []
    while clients and time.monotonic() - started < args.seconds:
        tick = time.monotonic()
        for client in list(clients):
            sock, kind, sent = client
            try:
                if kind == "writer" and sent < len(REQUEST):
                    sock.send(REQUEST[sent:sent + 1])
                    client[2] += 1
                data = sock.recv(1)
                closed = data == b""
            except BlockingIOError:
                closed = False
            except OSError:
                closed = True
            if closed:
                if kind == "writer":
                    cut.append(time.monotonic() - started)
                clients.remove(client)
                sock.close()
        time.sleep(max(0.0, tick + 1.0 - time.monotonic()))
    for sock, _, _ in clients:
        sock.close()
    print(json.dumps({
        "slow_writers": args.writers, "slow_readers": args.readers, "writers_cut_off": len(cut),
        "writers_cut_after_s": round(max(cut), 1) if cut else None,
    }), flush=True)
    return 0


def fetch_once(target, limit):
    """The body of one 200 response, or None."""
    with socket.create_connection((target, PORT), timeout=limit) as sock:
        sock.settimeout(limit)
        sock.sendall(REQUEST)
        reply = b""
        while chunk := sock.recv(65536):
            reply += chunk
    head, _, body = reply.partition(b"\r\n\r\n")
    lines = head.split(b"\r\n")
    length = [int(l.split(b":")[1]) for l in lines[1:] if l.lower().startswith(b"content-length:")]
    if not lines[0].startswith(b"HTTP/1.1 200") or length != [len(body)]:
        return None
    return body


def fetch(args):
    times = []
    failures = 0
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        start = time.monotonic()
        try:
            ok = fetch_once(args.target, args.limit) is not None
        except OSError:
            ok = False
        elapsed = time.monotonic() - start
        if ok and elapsed <= args.limit:
            times.append(elapsed * 1000)
        else:
            failures += 1
        time.sleep(max(0.0, start + args.interval - time.monotonic()))
    print(json.dumps({
        "fetches": len(times) + failures, "failed_or_late": failures,
        **timing_summary(times),
    }), flush=True)
    return 0 if failures == 0 and times else 1


if __name__ == "__main__":
    run_commands(__doc__.splitlines()[0], {
        "slow": (slow, {"--target": REQUIRED, "--writers": 5, "--readers": 5, "--seconds": 15.0}),
        "fetch": (fetch, {"--target": REQUIRED, "--seconds": 10.0, "--interval": 0.5,
                          "--limit": 5.0}),
    })
