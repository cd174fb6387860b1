#!/usr/bin/env python3
"""Puts the wall-clock time of arrival in front of what comes in on standard input.

  stamp.py          each line as "<seconds since the epoch> <line>", flushed at once
  stamp.py --eof    reads bytes until the end and prints "<first byte> <end> <byte count>"

The benchmark compares these times with those taken on other test-LAN hosts: they are all one
machine, with one clock.
"""
import sys
import time


def lines():
    out = sys.stdout
    for line in sys.stdin.buffer:
        now = time.time()
        out.write(f"{now:.6f} {line.decode('utf-8', 'replace').rstrip()}\n")
        out.flush()


def until_end():
    source = sys.stdin.buffer.raw
    first = None
    count = 0
    while True:
        piece = source.read(1 << 20)
        if not piece:
            break
        if first is None:
            first = time.time()
        count += len(piece)
    end = time.time()
    print(f"{first or end:.6f} {end:.6f} {count}", flush=True)


if __name__ == "__main__":
    until_end() if sys.argv[1:] == ["--eof"] else lines()
