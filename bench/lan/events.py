#!/usr/bin/env python3
"""Waits for an event in a stamped "velto-cli receive --json" log (see stamp.py) and prints
its time.

  events.py FILE EVENT [--nth N] [--contains TEXT] [--timeout SECONDS]
  events.py FILE --line TEXT [--nth N] [--timeout SECONDS]

Prints the time of the N-th line (1-based, default 1) whose event is EVENT and whose data
contains TEXT, or, with --line, of the N-th stamped line containing TEXT; exits 1 when none
has come within the time-out (default 120 s).
"""
import argparse
import json
import sys
import time


def matches(path, event, contains, plain):
    found = []
    try:
        with open(path, encoding="utf-8", errors="replace") as log:
            for line in log:
                stamp, _, text = line.partition(" ")
                if plain is not None:
                    if plain in text and line.endswith("\n"):
                        found.append(stamp)
                    continue
                try:
                    record = json.loads(text)
                except ValueError:
                    continue  # a line still being written, or not an event
                if record.get("event") != event:
                    continue
                if contains and contains not in json.dumps(record.get("data")):
                    continue
                found.append(stamp)
    except FileNotFoundError:
        pass
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("event", nargs="?")
    parser.add_argument("--line")
    parser.add_argument("--nth", type=int, default=1)
    parser.add_argument("--contains", default="")
    parser.add_argument("--timeout", type=float, default=120)
    args = parser.parse_args()
    deadline = time.time() + args.timeout
    while True:
        found = matches(args.file, args.event, args.contains, args.line)
        if len(found) >= args.nth:
            print(found[args.nth - 1])
            return 0
        if time.time() > deadline:
            what = args.event or args.line
            print(f"events.py: no {what} #{args.nth} in {args.file}", file=sys.stderr)
            return 1
        time.sleep(0.01)


if __name__ == "__main__":
    sys.exit(main())
