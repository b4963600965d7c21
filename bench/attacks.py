#!/usr/bin/python3
"""Hostile-client figures for the daemon: peak and idle resident memory after
each memory attack, and a real client's ping latency under a connection
flood. Prints figures only; nothing here is a pass/fail test.

    bench/attacks.py [path/to/tarvix-agentd]   (default build/release/tarvix-agentd)
"""
import json
import os
import resource
import socket
import subprocess
import sys
import tempfile
import threading
import time

BINARY = sys.argv[1] if len(sys.argv) > 1 else "build/release/tarvix-agentd"
TOKEN = "attack-token-%d" % os.getpid()
AUTH = ("Authorization: Bearer %s\r\n" % TOKEN).encode()


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def status(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) // 1024  # MiB
    return -1


def reset_peak(pid):
    with open("/proc/%d/clear_refs" % pid, "w") as f:
        f.write("5")


def post(port, body, timeout=60):
    """One request on a new connection that the client closes first, as curl
    does: the daemon then keeps no TIME_WAIT entry that a later connect from
    the same port would run into (a one-second SYN retransmit on loopback)."""
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    head = b"POST /rpc HTTP/1.1\r\nHost: x\r\n" + AUTH + b"Content-Length: %d\r\n\r\n" % len(body)
    s.sendall(head + body)
    out = b""
    while b"\r\n\r\n" not in out:
        d = s.recv(1 << 20)
        if not d:
            break
        out += d
    head_part, _, rest = out.partition(b"\r\n\r\n")
    length = 0
    for line in head_part.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    while len(rest) < length:
        d = s.recv(1 << 20)
        if not d:
            break
        rest += d
    s.close()
    return head_part + b"\r\n\r\n" + rest


def call(port, method, params):
    reply = post(port, json.dumps({"method": method, "params": params}).encode())
    return reply.split(b"\r\n\r\n", 1)[1]


def idle_after(pid):
    """Resident MiB one and a half seconds after the attack ended."""
    time.sleep(1.5)
    return status(pid, "VmRSS")


def report(name, pid, fn):
    reset_peak(pid)
    before = status(pid, "VmRSS")
    start = time.monotonic()
    note = fn()
    took = time.monotonic() - start
    peak = status(pid, "VmHWM")
    idle = idle_after(pid)
    print("%-46s before %4d MiB  peak %5d MiB  idle after %4d MiB  (%.1f s) %s"
          % (name, before, peak, idle, took, note or ""))


def main():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    work = tempfile.mkdtemp(prefix="tarvix-attacks-")
    port = free_port()
    env = {"PATH": os.environ["PATH"], "HOME": work, "TARVIX_AGENTD_TOKEN": TOKEN}
    daemon = subprocess.Popen([BINARY, "--port", str(port), "--allow-exec"], env=env,
                              stderr=subprocess.DEVNULL)
    pid = daemon.pid
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port)).close()
            break
        except OSError:
            time.sleep(0.05)
    try:
        print("idle at start: %d MiB" % status(pid, "VmRSS"))

        report("read_file /dev/zero, max_bytes 2^64-1", pid, lambda: call(
            port, "read_file", {"path": "/dev/zero", "max_bytes": 2**64 - 1})[:60].decode(errors="replace"))
        sparse = os.path.join(work, "sparse")
        with open(sparse, "wb") as f:
            f.truncate(256 << 20)
        report("read_file 256 MiB sparse, max_bytes 1 GiB", pid, lambda: call(
            port, "read_file", {"path": sparse, "max_bytes": 1 << 30})[:60].decode(errors="replace"))

        tiny = b"[" + b",".join([b"{}"] * ((64 << 20) // 3 - 1)) + b"]"
        def three_tiny():
            ts = [threading.Thread(target=post, args=(port, tiny)) for _ in range(3)]
            [t.start() for t in ts]
            [t.join() for t in ts]
        report("3 x 64 MiB body of tiny values at once", pid, three_tiny)

        def extension():
            s = socket.create_connection(("127.0.0.1", port))
            s.sendall(b"POST /rpc HTTP/1.1\r\n" + AUTH + b"Transfer-Encoding: chunked\r\n\r\n5;")
            sent = 0
            try:
                chunk = b"x" * (1 << 20)
                while sent < (1 << 30):
                    s.sendall(chunk)
                    sent += len(chunk)
            except OSError:
                pass
            s.close()
            return "closed after %d MiB of extension" % (sent >> 20)
        report("1 GiB chunk extension", pid, extension)

        body = b" " * ((64 << 20) - 20) + b'{"method":"ping"}'
        def thirty():
            ts = [threading.Thread(target=post, args=(port, body)) for _ in range(30)]
            [t.start() for t in ts]
            [t.join() for t in ts]
        report("30 x 64 MiB bodies at once", pid, thirty)

        big = os.path.join(work, "big")
        os.mkdir(big)
        for i in range(200000):
            open(os.path.join(big, "entry-%06d" % i), "w").close()
        def listings():
            ts = [threading.Thread(target=call, args=(port, "list_dir", {"path": big})) for _ in range(6)]
            [t.start() for t in ts]
            [t.join() for t in ts]
        report("6 x list_dir of 200,000 entries at once", pid, listings)
        report("run_command with 32 MiB of output", pid, lambda: len(call(
            port, "run_command", {"command": "head -c 40000000 /dev/zero | tr '\\\\0' a"})))

        def idle_connections():
            held = [socket.create_connection(("127.0.0.1", port)) for _ in range(9500)]
            time.sleep(1)
            [s.close() for s in held]
        report("9,500 idle connections, then closed", pid, idle_connections)

        # A legitimate client during a flood of 12,000 connections (cap 10,000).
        flood, latencies, stop = [], [], threading.Event()
        def flooder():
            while not stop.is_set() and len(flood) < 12000:
                try:
                    flood.append(socket.create_connection(("127.0.0.1", port), timeout=5))
                except OSError:
                    time.sleep(0.001)
        def client():
            while not stop.is_set():
                t = time.monotonic()
                ok = call(port, "ping", {}).startswith(b'{"ok":true')
                latencies.append((time.monotonic() - t) * 1000 if ok else float("inf"))
                time.sleep(0.01)
        reset_peak(pid)
        tf, tc = threading.Thread(target=flooder), threading.Thread(target=client)
        tf.start(); tc.start()
        tf.join(); time.sleep(0.5); stop.set(); tc.join()
        latencies.sort()
        print("ping during a 12,000-connection flood: %d pings, median %.1f ms, max %.1f ms, failed %d; peak %d MiB"
              % (len(latencies), latencies[len(latencies) // 2], latencies[-1],
                 sum(1 for x in latencies if x == float("inf")), status(pid, "VmHWM")))
        [s.close() for s in flood]
        print("idle after the flood: %d MiB" % idle_after(pid))
    finally:
        daemon.kill()
        subprocess.run(["rm", "-rf", work])


main()
