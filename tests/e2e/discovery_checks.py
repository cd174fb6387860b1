#!/usr/bin/env python3
"""Checks for the discovery scenarios on the test LAN.

  discovery_checks.py png FILE
      writes a small valid PNG picture to FILE (a user's ~/.face)
  discovery_checks.py peers FILE [KEY PORT SIGNATURE PICTURE]...
      FILE holds `velto-cli peers --json` output; it must list exactly the given peers, each as
      {"key", "ip", "port", "systemSignature"} plus "avatar" = the data URL of PICTURE (a file
      with the PNG the peer serves) when PICTURE is not "-"
  discovery_checks.py http FILE STATUS [PATH-SHOWN]
      FILE holds a raw HTTP response (curl -i --raw); STATUS is 200, 404 or 400. For 200 the
      body is written to FILE.body; for 400 PATH-SHOWN is the quoted path the text must name
Several checks can go in one call, separated by "+".
"""
import base64
import json
import struct
import sys
import zlib


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def write_png(path):
    def chunk(kind, data):
        crc = zlib.crc32(kind + data) & 0xFFFFFFFF
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)

    width = height = 8
    rows = b"".join(b"\x00" + b"\x20\x80\xe0" * width for _ in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                  chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def check_peers(path, expected):
    with open(path, encoding="utf-8") as f:
        listed = json.load(f)
    wanted = {}
    for key, port, signature, picture in zip(*[iter(expected)] * 4):
        peer = {"key": key, "ip": key, "port": int(port), "systemSignature": signature}
        if picture != "-":
            with open(picture, "rb") as f:
                peer["avatar"] = "data:image/png;base64," + base64.b64encode(f.read()).decode()
        wanted[key] = peer
    if sorted(listed) != sorted(wanted):
        fail(f"{path}: lists {sorted(listed)}, wanted {sorted(wanted)}")
    for key, peer in wanted.items():
        if listed[key] != peer:
            shown = {k: (v[:40] + "...") if k == "avatar" else v for k, v in listed[key].items()}
            fail(f"{path}: peer {key} is {shown}")
    print(f"ok: {path} lists {', '.join(sorted(wanted)) or 'nobody'}")


def check_http(path, status, shown_path=None):
    with open(path, "rb") as f:
        raw = f.read()
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    if status == "200":
        want = ["HTTP/1.1 200 OK", "Server: Velto/1.0", "Content-Type: image/png",
                f"Content-Length: {len(body)}"]
        if lines != want or not body.startswith(b"\x89PNG\r\n\x1a\n"):
            fail(f"{path}: {lines} with a body of {len(body)} bytes")
        with open(path + ".body", "wb") as out:
            out.write(body)
    elif status == "404":
        if lines != ["HTTP/1.1 404 Not Found", "Server: Velto/1.0"] or \
                body != b"Avatar is unavailable.":
            fail(f"{path}: {raw!r}")
    elif status == "400":
        text = "This is a Velto metadata server. There is nothing implemented for "
        if lines != ["HTTP/1.1 400 Bad Request", "Server: Velto/1.0"] or \
                body != (text + shown_path + ".").encode():
            fail(f"{path}: {raw!r}")
    else:
        fail(f"no check for status {status}")
    print(f"ok: {path}: {lines[0]}")


def run(argv):
    if len(argv) >= 2 and argv[0] == "png":
        write_png(argv[1])
    elif len(argv) >= 2 and argv[0] == "peers" and (len(argv) - 2) % 4 == 0:
        check_peers(argv[1], argv[2:])
    elif len(argv) in (3, 4) and argv[0] == "http":
        check_http(*argv[1:])
    else:
        fail(f"usage: see {__file__}")


def main(argv):
    check = []
    for word in argv + ["+"]:
        if word == "+":
            run(check)
            check = []
        else:
            check.append(word)


if __name__ == "__main__":
    main(sys.argv[1:])
