#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ (seed-* files).

The seeds are the shapes each target meets in real use and at its known edges; the fuzzer
mutates from there. Files not named seed-* (regression inputs from findings) are kept.
Run again after changing this script: python3 fuzz/seeds.py
"""
import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"
FOLDER = 0xFFFFFFFFFFFFFFFF
TEXT_MARKER = b"___VELTO___TEXT___"


def element(name, body=b"", size=None):
    """One element on the wire: the name, a 0 byte, the little-endian size, the body."""
    return name + b"\0" + struct.pack("<Q", len(body) if size is None else size) + body


def stream(*elements, total=None):
    """A transfer stream: the element count and total body size, then the elements."""
    bodies = sum(len(e) - e.index(b"\0") - 9 for e in elements)
    return struct.pack("<QQ", len(elements), bodies if total is None else total) + b"".join(elements)


def folder(name):
    return element(name, size=FOLDER)


def datagram_step(sender, data):
    """One step of the datagram target's script: a sender index, a length, the datagram."""
    return bytes([sender, len(data)]) + data


def answer_fetch(status_ok, body):
    return bytes([0xF3 if status_ok else 0xF1, len(body)]) + body


def unpack_case(fmt, data, utf8=False):
    return bytes([1 if utf8 else 0, len(fmt)]) + fmt + data


SEEDS = {
    "stream": {
        "empty-transfer": stream(),
        "text": stream(element(TEXT_MARKER, "Grüße ✓".encode())),
        "one-file": stream(element(b"photo.jpg", b"\xff\xd8\xff" + bytes(40))),
        "empty-file": stream(element(b"empty.dat")),
        "folder-tree": stream(folder(b"Album"), element(b"Album/a.jpg", b"aaaa"),
                              folder(b"Album/sub"), element(b"Album/sub/b.jpg", b"bb")),
        "two-files": stream(element(b"a.txt", b"A\n"), element(b"b.txt", b"B\n")),
        "marker-among-two": stream(element(TEXT_MARKER, b"x"), element(b"y", b"y")),
        "escaping-names": stream(element(b"../up.txt", b"1"), element(b"/etc/abs", b"2"),
                                 element(b"a/./../../b", b"3")),
        "unusable-names": stream(element(b"", b"1"), element(b"..", b"2")),
        "not-utf8-name": stream(element(b"\xc3\x28.txt", b"x")),
        "file-then-folder-below-it": stream(element(b"a", b"1"), element(b"a/b", b"2")),
        "repeated-name": stream(element(b"same", b"first"), element(b"same", b"2nd")),
        "text-with-folder-marker": stream(folder(TEXT_MARKER)),
        "more-than-announced": stream(element(b"big", b"12345678"), total=4),
        "huge-announcement": stream(element(b"x", b"x"), total=1 << 62),
        "cut-in-body": stream(element(b"cut.bin", bytes(100)))[:-50],
        "surplus-bytes": stream(element(b"s", b"s")) + b"trailing",
    },
    "datagram": {
        "hello-reply-goodbye": datagram_step(2, b"\x01Ann at Office [Velto] (Linux)")
        + datagram_step(2, b"\x02Ann at Attic [Velto] (Linux)")
        + datagram_step(2, b"\x03Bye Bye"),
        "ports": datagram_step(3, b"\x04\x88\x13Bo at Lab")
        + datagram_step(4, b"\x05\xff\xffEdge port")
        + datagram_step(3, b"\x01Back on 4644"),
        "own-and-loopback": datagram_step(0, b"\x01me") + datagram_step(1, b"\x01loop"),
        "malformed": datagram_step(2, b"")
        + datagram_step(2, b"\x00x")
        + datagram_step(2, b"\x06x")
        + datagram_step(3, b"\x04\x01")
        + datagram_step(4, b"\x02\xc3\x28")
        + datagram_step(4, b"\x03unknown goodbye"),
        "avatar-answers": datagram_step(2, b"\x01A")
        + datagram_step(3, b"\x01B")
        + answer_fetch(True, b"\x89PNG")
        + answer_fetch(False, b"not found"),
        "avatar-after-goodbye": datagram_step(2, b"\x01A")
        + datagram_step(2, b"\x03")
        + datagram_step(2, b"\x01A again")
        + answer_fetch(True, b"old")
        + answer_fetch(True, b"new"),
    },
    "metadata": {
        "avatar": b"\x01GET /velto/avatar HTTP/1.1\r\nHost: 10.77.0.12:4645\r\n\r\n",
        "no-picture": b"\x00GET /velto/avatar HTTP/1.1\r\n\r\n",
        "root": b"\x01GET / HTTP/1.0\r\n\r\n",
        "post-with-body": b"\x01POST /velto/avatar HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody",
        "query-and-escapes": b"\x01GET /velto%2Favatar?size=64 HTTP/1.1\r\n\r\n",
        "quoting": b'\x01GET /a"b\\c%0A%7F%C3%AB HTTP/1.1\r\n\r\n',
        "chunked": b"\x01GET /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
        "not-http": b"\x01\x16\x03\x01\x00\xa5\x01\x00\x00",
        "incomplete": b"\x01GET /velto/avatar HTTP/1.1\r\nHost: x",
    },
    "unpack": {
        "wire-formats": unpack_case(b"<QQ", struct.pack("<QQ", 2, 10)),
        "port": unpack_case(b"<H", b"\x24\x12"),
        "big-endian": unpack_case(b">H", b"\x00\x01"),
        "all-codes": unpack_case(b"=xcbB?hHiIlLqQfd", bytes(range(1, 54))),
        "texts": unpack_case(b"<4s2c", b"ab\0\0xy"),
        "utf8-text": unpack_case(b"!3s", "ë!".encode(), utf8=True),
        "pointer": unpack_case(b"<P", bytes(8)),
        "spaces-and-counts": unpack_case(b"<2s3H x", bytes(9)),
        "wrong-length": unpack_case(b"<Q", bytes(7)),
        "bad-order": unpack_case(b"@H", b"\x01\x00"),
    },
    "unhexlify": {
        "lower": b"000aff",
        "upper-with-spaces": b"00 0A FF",
        "empty": b"",
        "prefix": b"0x41",
        "odd": b"abc",
        "tab": b"00\t11",
    },
}


def main():
    for target, seeds in SEEDS.items():
        folder_path = CORPUS / target
        folder_path.mkdir(parents=True, exist_ok=True)
        for old in folder_path.glob("seed-*"):
            old.unlink()
        for name, data in seeds.items():
            (folder_path / f"seed-{name}").write_bytes(data)
        print(f"{target}: {len(seeds)} seeds")


if __name__ == "__main__":
    main()
