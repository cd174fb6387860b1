#!/usr/bin/env python3
"""Drives a running Velto page through the web engine's debugging port (Chrome DevTools protocol),
for end-to-end scenarios and screenshots. Runs in the same network namespace as the program,
which must have been started with QTWEBENGINE_REMOTE_DEBUGGING=<port>.

  pagectl.py PORT eval EXPRESSION      prints the expression's value (promises awaited) as JSON
  pagectl.py PORT wait EXPRESSION [S]  waits up to S seconds (default 60) until it is truthy
  pagectl.py PORT dark COMMAND...      runs COMMAND while the page is shown in its dark theme
"""
import base64
import json
import os
import socket
import struct
import subprocess
import sys
import time
import urllib.request


class DevTools:
    def __init__(self, port):
        deadline = time.time() + 60
        while True:
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/json", timeout=5) as answer:
                    targets = json.load(answer)
                page = next(t for t in targets if t.get("type") == "page" and "index.html" in t.get("url", ""))
                break
            except (OSError, StopIteration, ValueError):
                if time.time() > deadline:
                    raise SystemExit(f"pagectl: no Velto page on debugging port {port}")
                time.sleep(0.5)
        path = page["webSocketDebuggerUrl"].split(f":{port}", 1)[1]
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=120)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(
            (f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
             f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        response = b""
        while b"\r\n\r\n" not in response:
            response += self.sock.recv(1)
        if b" 101 " not in response.split(b"\r\n", 1)[0]:
            raise SystemExit("pagectl: the debugging port refused the connection")
        self.next_id = 1

    def _send(self, text):
        payload = text.encode()
        mask = os.urandom(4)
        header = bytes([0x81])
        if len(payload) < 126:
            header += bytes([0x80 | len(payload)])
        elif len(payload) < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", len(payload))
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", len(payload))
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(header + mask + masked)

    def _exact(self, count):
        data = b""
        while len(data) < count:
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                raise SystemExit("pagectl: connection closed")
            data += chunk
        return data

    def _receive(self):
        message = b""
        while True:
            first, second = self._exact(2)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack(">H", self._exact(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", self._exact(8))[0]
            message += self._exact(length)
            if first & 0x80:
                return message.decode()

    def call(self, method, params=None):
        call_id = self.next_id
        self.next_id += 1
        self._send(json.dumps({"id": call_id, "method": method, "params": params or {}}))
        while True:
            answer = json.loads(self._receive())
            if answer.get("id") == call_id:
                if "error" in answer:
                    raise SystemExit(f"pagectl: {method}: {answer['error']}")
                return answer["result"]

    def evaluate(self, expression, failure=None):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True})
        if "exceptionDetails" in result:
            if failure is not None:
                return failure  # a page still loading throws; waiting goes on
            raise SystemExit(f"pagectl: {result['exceptionDetails'].get('exception', {}).get('description')}")
        return result["result"].get("value")


def main(argv):
    if len(argv) < 4:
        raise SystemExit(__doc__)
    port, action = int(argv[1]), argv[2]
    tools = DevTools(port)
    if action == "eval":
        print(json.dumps(tools.evaluate(argv[3])))
    elif action == "wait":
        deadline = time.time() + (float(argv[4]) if len(argv) > 4 else 60)
        while not tools.evaluate(argv[3], failure=False):
            if time.time() > deadline:
                raise SystemExit(f"pagectl: still false: {argv[3]}")
            time.sleep(0.3)
    elif action == "dark":
        tools.call("Emulation.setEmulatedMedia",
                   {"features": [{"name": "prefers-color-scheme", "value": "dark"}]})
        time.sleep(1.0)  # let the page repaint
        return subprocess.call(argv[3:])
    else:
        raise SystemExit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
