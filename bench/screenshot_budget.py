#!/usr/bin/python3
"""Six screenshots at once of a huge screen of noise, and ping meanwhile.

Usage: bench/screenshot_budget.py [DAEMON ...]

Starts a private 8192x8192 Xvfb, covers it with a window of random pixels
(a PNG that cannot compress, shown by tests/integration/gtk_window.py), and
for each daemon binary given (default build/release/tarvix-agentd) starts a
fresh daemon, sends six screenshot calls at once while another connection
pings every 20 ms, and prints the wall time of the six, the daemon's peak
resident memory (VmHWM) and the ping latencies. Give an older build as well
to compare. Prints figures only; nothing here passes or fails.
"""
import http.client
import json
import os
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

SIZE = 8192
TOKEN = "bench-token-0123456789"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def noise_png(path):
    """A SIZE x SIZE RGB PNG of random bytes, stored without compression."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = bytearray()
    row = SIZE * 3
    block = os.urandom(row * 64)
    for y in range(SIZE):
        # Rows from a rotating window over fresh random bytes: every row
        # differs, and nothing repeats within deflate's reach.
        if y % 64 == 0:
            block = os.urandom(row * 64)
        rows += b"\0" + block[(y % 64) * row:(y % 64 + 1) * row]
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 0)))
        f.write(chunk(b"IEND", b""))


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def call(port, method, timeout=600):
    """One RPC; the reply's first bytes (the rest is read and dropped)."""
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    c.request("POST", "/rpc", json.dumps({"method": method, "params": {}}),
              {"authorization": "Bearer " + TOKEN, "content-type": "application/json"})
    reply = c.getresponse()
    head = reply.read(200)
    total = len(head)
    while True:
        piece = reply.read(1 << 20)
        if not piece:
            break
        total += len(piece)
    c.close()
    return head, total


def peak_rss_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def measure(binary, display):
    port = free_port()
    env = {"PATH": os.environ["PATH"], "HOME": tempfile.mkdtemp(), "DISPLAY": display}
    daemon = subprocess.Popen([binary, "--port", str(port), "--token", TOKEN], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(200):
            try:
                call(port, "ping", timeout=1)
                break
            except OSError:
                time.sleep(0.05)
        results = []
        pings = []
        done = threading.Event()

        def shoot():
            head, total = call(port, "screenshot")
            results.append((head.startswith(b'{"ok":true'), total if head.startswith(b'{"ok":true') else head))

        def ping():
            while not done.is_set():
                t = time.perf_counter()
                call(port, "ping", timeout=120)
                pings.append(1000 * (time.perf_counter() - t))
                done.wait(0.02)

        pinger = threading.Thread(target=ping)
        pinger.start()
        start = time.perf_counter()
        shots = [threading.Thread(target=shoot) for _ in range(6)]
        for s in shots:
            s.start()
        for s in shots:
            s.join()
        wall = time.perf_counter() - start
        done.set()
        pinger.join()
        for good, head in results:
            if not good:
                print("  failed: %s" % head[:200].decode(errors="replace"))
        ok = sum(1 for good, _ in results if good)
        reply_mib = max([t for good, t in results if good] or [0]) / (1 << 20)
        pings.sort()
        print("%s\n  six screenshots (%d ok, reply %.0f MiB each): %.1f s; peak RSS %.0f MiB; "
              "ping median %.1f ms, p95 %.1f ms, max %.1f ms (%d pings)" %
              (binary, ok, reply_mib, wall, peak_rss_mib(daemon.pid),
               statistics.median(pings), pings[int(0.95 * (len(pings) - 1))], pings[-1],
               len(pings)))
    finally:
        daemon.kill()
        daemon.wait()


def main():
    binaries = sys.argv[1:]
    if not binaries:
        subprocess.run([os.path.join(ROOT, "scripts/build.sh"), "release",
                        "-DCMAKE_BUILD_TYPE=Release", "-DTARVIX_TESTS=OFF", "--", "tarvix-agentd"],
                       check=True, stdout=sys.stderr)
        binaries = [os.path.join(ROOT, "build/release/tarvix-agentd")]
    work = tempfile.mkdtemp()
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                               "%dx%dx24" % (SIZE, SIZE), "-noreset", "-nolisten", "tcp"],
                              pass_fds=[write_fd], stderr=subprocess.DEVNULL)
    os.close(write_fd)
    display = ":" + os.read(read_fd, 32).decode().strip()
    os.close(read_fd)
    probe = None
    try:
        png = os.path.join(work, "noise.png")
        noise_png(png)
        probe = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(ROOT, "tests/integration/gtk_window.py"),
             "--title", "Noise", "--size", "%dx%d" % (SIZE, SIZE), "--pos", "0,0",
             "--image", png],
            env=dict(os.environ, DISPLAY=display, NO_AT_BRIDGE="1"),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        probe.stdout.readline()  # "ready ..." once drawn
        os.unlink(png)
        for binary in binaries:
            measure(binary, display)
    finally:
        if probe:
            probe.kill()
        server.kill()
        server.wait()


if __name__ == "__main__":
    main()
