#!/usr/bin/env python3
"""A crowd of computers on one test-LAN host: each address of a routed block announces itself
once, answers every announcement it hears, and serves a picture, slowly, on TCP 4645.

  crowd.py --count 1000 --block 10.77.4.0/22 --broadcast 10.77.0.255 --status FILE
           [--delay 0.1] [--seconds 120]

Run as root inside the host's network namespace. The whole block becomes local to the host (one
"local" route on lo), so every address in it is this host's without a thousand interfaces; the
other hosts reach it through a route via this host. The route goes when the tool ends (at the
time limit, on TERM or INT, on failure) and with the namespace in any case.

Prints, flushed, one line each: "ready", "hello-first T", "hello-last T", and for every
announcement answered "answered HOST FIRST LAST" (T: seconds since the epoch). FILE is rewritten
as JSON whenever a picture request opens or ends: per asking address the requests served, the
most open at once, and the time of the last one served.
"""
import argparse
import asyncio
import ipaddress
import json
import os
import signal
import socket
import struct
import subprocess
import sys
import time
import zlib

UDP_PORT = 4644
AVATAR_PORT = 4645
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)  # Linux's value, where Python does not name it
MAX_COUNT = 1022  # what a /22 holds


def one_pixel_png():
    """A 1x1 grey PNG: the smallest picture a viewer takes."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    header = struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(b"\x00\x80")) + chunk(b"IEND", b""))


PICTURE = one_pixel_png()


def say(line):
    print(line, flush=True)


class Crowd:
    def __init__(self, addresses, broadcast, status_path, delay):
        self.addresses = addresses
        self.broadcast = broadcast
        self.status_path = status_path
        self.delay = delay
        self.clients = {}  # asking address -> {"served", "open", "most_open", "last"}
        self.socket = None

    # --- discovery -----------------------------------------------------------------------

    def hello(self, index, kind):
        text = f"Crowd {index} at crowd-{index} [Velto] (Linux)".encode()
        return bytes([kind]) + text

    def send_from(self, source, data, destination, port):
        # The source address rides in IP_PKTINFO, so one socket speaks for every address.
        info = struct.pack("I4s4s", 0, socket.inet_aton(source), bytes(4))
        self.socket.sendmsg([data], [(socket.IPPROTO_IP, IP_PKTINFO, info)],
                           0, (destination, port))

    def send_all(self, kind, destination, port):
        first = time.time()
        for index, address in enumerate(self.addresses, 1):
            for attempt in range(100):
                try:
                    self.send_from(address, self.hello(index, kind), destination, port)
                    break
                except BlockingIOError:  # the socket's queue is full: let it drain
                    time.sleep(0.001)
        return first, time.time()

    def datagram(self, data, sender):
        host, _ = sender
        if not data or data[0] not in (1, 4) or ipaddress.ip_address(host) in self.block:
            return  # only announcements of others are answered
        port = UDP_PORT
        if data[0] == 4 and len(data) >= 3:
            port = data[1] | data[2] << 8
        first, last = self.send_all(2, host, port)
        say(f"answered {host} {first:.6f} {last:.6f}")

    # --- pictures ------------------------------------------------------------------------

    def client(self, host):
        return self.clients.setdefault(host, {"served": 0, "open": 0, "most_open": 0, "last": 0})

    def write_status(self):
        partial = self.status_path + ".new"
        with open(partial, "w") as out:
            json.dump(self.clients, out)
        os.replace(partial, self.status_path)

    async def picture(self, reader, writer):
        host = writer.get_extra_info("peername")[0]
        entry = self.client(host)
        entry["open"] += 1
        entry["most_open"] = max(entry["most_open"], entry["open"])
        self.write_status()
        try:
            await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), 10)
            await asyncio.sleep(self.delay)
            writer.write(b"HTTP/1.1 200 OK\r\nServer: Velto/1.0\r\nContent-Type: image/png\r\n"
                         b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(PICTURE)
                         + PICTURE)
            await writer.drain()
            entry["served"] += 1
            entry["last"] = time.time()
        except (OSError, asyncio.IncompleteReadError, asyncio.TimeoutError):
            pass
        finally:
            writer.close()
            entry["open"] -= 1
            self.write_status()

    async def run(self, seconds, block):
        self.block = block
        loop = asyncio.get_running_loop()
        stop = loop.create_future()
        for number in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(number, lambda: stop.done() or stop.set_result(None))
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.socket.bind(("0.0.0.0", UDP_PORT))
        self.socket.setblocking(False)
        crowd = self

        class Listener(asyncio.DatagramProtocol):
            def datagram_received(self, data, sender):
                crowd.datagram(data, sender)

        transport, _ = await loop.create_datagram_endpoint(Listener, sock=self.socket)
        server = await asyncio.start_server(self.picture, "0.0.0.0", AVATAR_PORT, backlog=2048)
        self.write_status()
        say("ready")
        first, last = self.send_all(1, self.broadcast, UDP_PORT)
        say(f"hello-first {first:.6f}")
        say(f"hello-last {last:.6f}")
        try:
            await asyncio.wait_for(stop, seconds)
        except asyncio.TimeoutError:
            print("crowd.py: time is up", file=sys.stderr)
        server.close()
        transport.close()


def route(action, block):
    subprocess.run(["ip", "route", action, "local", str(block), "dev", "lo"], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--block", default="10.77.4.0/22")
    parser.add_argument("--broadcast", required=True)
    parser.add_argument("--status", required=True)
    parser.add_argument("--delay", type=float, default=0.1)
    parser.add_argument("--seconds", type=float, default=120)
    args = parser.parse_args()
    block = ipaddress.ip_network(args.block)
    hosts = list(block.hosts())
    if not 1 <= args.count <= min(MAX_COUNT, len(hosts)):
        parser.error(f"--count takes 1 to {min(MAX_COUNT, len(hosts))} for {block}")
    if not 0 < args.seconds <= 600:
        parser.error("--seconds takes more than 0 and at most 600")
    addresses = [str(address) for address in hosts[:args.count]]
    route("add", block)
    try:
        crowd = Crowd(addresses, args.broadcast, args.status, args.delay)
        asyncio.run(crowd.run(args.seconds, block))
    finally:
        route("del", block)


if __name__ == "__main__":
    main()
