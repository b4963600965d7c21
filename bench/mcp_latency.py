#!/usr/bin/env python3
"""Added latency of tarvix-mcp: tools/call read_file (4 KiB) through the
bridge against the same call straight to the daemon over HTTP.

    bench/mcp_latency.py [--build build/release] [--calls 3000]

Starts its own daemon on a free port. Both clients are minimal (prebuilt
request bytes, blocking reads, one call in flight), so the difference of
the two round trips is what the bridge adds: a pipe hop each way, JSON-RPC
decoding and encoding, the hand-off to a worker and the daemon client.
"""
import argparse
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

TOKEN = "bench-token-7d2e"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(port):
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.1).close()
            return
        except OSError:
            time.sleep(0.02)
    sys.exit(f"daemon did not listen on {port}")


class Direct:
    """One kept-alive HTTP connection to the daemon."""

    def __init__(self, port, path):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        body = json.dumps({"method": "read_file", "params": {"path": path}}).encode()
        self.request = (
            f"POST /rpc HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nAuthorization: Bearer {TOKEN}\r\n"
            f"Content-Type: application/json\r\nContent-Length: {len(body)}\r\n\r\n"
        ).encode() + body

    def call(self):
        self.sock.sendall(self.request)
        data = b""
        while b"\r\n\r\n" not in data:
            data += self.sock.recv(65536)
        head, _, body = data.partition(b"\r\n\r\n")
        length = int(head.lower().split(b"content-length: ")[1].split(b"\r\n")[0])
        while len(body) < length:
            body += self.sock.recv(65536)
        return body


class Bridge:
    """tarvix-mcp over its standard input and output."""

    def __init__(self, binary, port, path):
        env = dict(os.environ, TARVIX_AGENTD_TOKEN=TOKEN)
        self.proc = subprocess.Popen([binary, "--port", str(port)], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     env=env, bufsize=0)
        self.buffer = b""
        self.send({"jsonrpc": "2.0", "id": 0, "method": "initialize",
                   "params": {"protocolVersion": "2025-11-25", "capabilities": {},
                              "clientInfo": {"name": "bench", "version": "1"}}})
        self.line()
        self.send({"jsonrpc": "2.0", "method": "notifications/initialized"})
        self.request = (json.dumps({"jsonrpc": "2.0", "id": 1, "method": "tools/call",
                                    "params": {"name": "read_file",
                                               "arguments": {"path": path}}}) + "\n").encode()

    def send(self, message):
        self.proc.stdin.write((json.dumps(message) + "\n").encode())

    def line(self):
        while b"\n" not in self.buffer:
            self.buffer += os.read(self.proc.stdout.fileno(), 65536)
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line

    def call(self):
        self.proc.stdin.write(self.request)
        return self.line()

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)


def measure(client, calls):
    times = []
    for _ in range(calls):
        start = time.perf_counter_ns()
        client.call()
        times.append(time.perf_counter_ns() - start)
    return times


def summary(name, times):
    times = sorted(times)
    pick = lambda q: times[int(q * (len(times) - 1))] / 1000
    print(f"{name:8s} median {pick(0.5):7.1f} us   p90 {pick(0.9):7.1f} us   "
          f"p99 {pick(0.99):7.1f} us   ({len(times)} calls)")
    return statistics.median(times) / 1000


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--calls", type=int, default=3000)
    args = parser.parse_args()
    daemon_bin = os.path.join(args.build, "tarvix-agentd")
    bridge_bin = os.path.join(args.build, "tarvix-mcp")

    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "four-k.txt")
        with open(path, "w") as f:
            f.write(("tarvix " * 586)[:4096])
        port = free_port()
        daemon = subprocess.Popen([daemon_bin, "--port", str(port), "--audit",
                                   os.path.join(work, "audit.jsonl")],
                                  env=dict(os.environ, TARVIX_AGENTD_TOKEN=TOKEN),
                                  stderr=subprocess.DEVNULL)
        try:
            wait_for(port)
            direct, bridge = Direct(port, path), Bridge(bridge_bin, port, path)
            assert json.loads(direct.call())["result"]["bytes"] == 4096
            reply = json.loads(bridge.call())["result"]
            assert reply["structuredContent"]["bytes"] == 4096, reply
            measure(direct, 200), measure(bridge, 200)  # warm up
            # Alternate blocks so both paths see the same machine load.
            direct_times, bridge_times = [], []
            for _ in range(10):
                direct_times += measure(direct, args.calls // 10)
                bridge_times += measure(bridge, args.calls // 10)
            d = summary("direct", direct_times)
            b = summary("bridge", bridge_times)
            print(f"added by tarvix-mcp per call (median): {b - d:.1f} us (target < 500 us)")
            bridge.close()
        finally:
            daemon.terminate()
            daemon.wait()


if __name__ == "__main__":
    main()
