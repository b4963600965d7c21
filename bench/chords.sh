#!/usr/bin/env bash
# Chord and drag figures on a private X session (Xvfb, openbox, the GTK
# probe of the chord tests): key_combo "ctrl+s" round trip through the RPC
# (keep-alive connection; each checked on arrival as the probe's
# accelerator, then unchecked calls), and a 10-point drag at duration 0
# (median of 50) against xdotool's whole process doing the same chord.
# Prints figures; asserts nothing on time.
#   bench/chords.sh [build dir, default build/ci]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
source bench/session.sh
bench_x 1280x800
bench_wm
bench_daemon "$build/tarvix-agentd" --allow-exec

/usr/bin/python3 - "$port" "$token" tests/integration/chord_probe.py <<'PY'
import http.client, json, os, select, statistics, subprocess, sys, time
port, token, probe_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
probe = subprocess.Popen(["/usr/bin/python3", probe_path], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
pending = b""
def report(member, timeout=5.0):
    # Lines are split here: a buffered readline would keep a second line
    # that came with the first where select cannot see it.
    global pending
    end = time.monotonic() + timeout
    while True:
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            message = json.loads(line)
            if member in message:
                return message
        left = end - time.monotonic()
        if left <= 0 or not select.select([probe.stdout], [], [], left)[0]:
            return None
        chunk = os.read(probe.stdout.fileno(), 65536)
        if not chunk:
            return None
        pending += chunk
ready = report("ready", 10)
conn = http.client.HTTPConnection("127.0.0.1", port)
headers = {"Authorization": "Bearer " + token, "Content-Type": "application/json"}
def call(method, params):
    body = json.dumps({"method": method, "params": params})
    start = time.perf_counter()
    conn.request("POST", "/rpc", body, headers)
    reply = json.loads(conn.getresponse().read())
    elapsed = (time.perf_counter() - start) * 1000
    if not reply.get("ok"):
        sys.exit("failed: %s" % reply)
    return elapsed
def median_ms(samples):
    return "%.2f ms" % statistics.median(samples)

# The probe takes chords once the window manager has focused it.
for _ in range(100):
    call("key_combo", {"keys": "ctrl+s"})
    if report("accel", 0.2) == {"accel": "save"}:
        break
arrived = 0
checked = []
for _ in range(20):
    checked.append(call("key_combo", {"keys": "ctrl+s"}))
    arrived += report("accel") == {"accel": "save"}
plain = [call("key_combo", {"keys": "ctrl+s"}) for _ in range(100)]
print("key_combo ctrl+s round trip: median %s (100 calls), %s with arrival checked "
      "(%d of 20 fired the accelerator)" % (median_ms(plain), median_ms(checked), arrived))
xdotool = []
xdotool_arrived = 0
for _ in range(20):
    start = time.perf_counter()
    subprocess.run(["xdotool", "key", "ctrl+s"], check=True)
    xdotool.append((time.perf_counter() - start) * 1000)
    xdotool_arrived += report("accel") == {"accel": "save"}
print("xdotool key ctrl+s: %d of 20 fired the accelerator" % xdotool_arrived)
print("xdotool key ctrl+s (whole process): median %s; ratio %.2f" %
      (median_ms(xdotool), statistics.median(plain) / statistics.median(xdotool)))

left, top, width, height = ready["scale"]
path = [[left + 4 + i * (width - 8) // 9, top + height // 2] for i in range(10)]
drags = [call("drag", {"path": path, "duration_ms": 0}) for _ in range(50)]
print("drag of 10 points (90 moves) at duration 0: median %s (50 calls)" % median_ms(drags))
probe.kill()
PY
