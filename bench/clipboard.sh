#!/usr/bin/env bash
# Clipboard figures on a private X session (Xvfb): clipboard_read of 1 MB
# owned by xclip, through the RPC (keep-alive connection, median of 20),
# against xclip -o reading the same selection (whole process, median of 20),
# in the same run. Prints figures; asserts nothing on time.
#   bench/clipboard.sh [build dir, default build/ci]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
source bench/session.sh
bench_x 640x480
bench_daemon "$build/tarvix-agentd"

/usr/bin/python3 - "$port" "$token" "$work" <<'PY'
import http.client, json, os, statistics, subprocess, sys, time
port, token, work = int(sys.argv[1]), sys.argv[2], sys.argv[3]
text = ("clipboard bench é 日本語 " * 40000)[:1_000_000]
text = text.encode()[:1_000_000].decode("utf-8", "ignore")
path = os.path.join(work, "clip.in")
with open(path, "w", encoding="utf-8") as f:
    f.write(text)
owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-i", path],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
conn = None
for _ in range(100):
    try:
        conn = http.client.HTTPConnection("127.0.0.1", port)
        conn.connect()
        break
    except OSError:
        time.sleep(0.05)
body = json.dumps({"method": "clipboard_read", "params": {"max_bytes": 2_000_000}})
headers = {"Authorization": "Bearer " + token, "Content-Type": "application/json"}
def call():
    conn.request("POST", "/rpc", body, headers)
    return json.loads(conn.getresponse().read())
for _ in range(100):  # until xclip owns it
    reply = call()
    if reply.get("ok") and reply["result"]["text"] == text:
        break
    time.sleep(0.05)
else:
    sys.exit("xclip never owned the clipboard")
rpc, ext = [], []
for _ in range(20):
    t = time.perf_counter(); reply = call(); rpc.append(time.perf_counter() - t)
    assert reply["result"]["text"] == text
    t = time.perf_counter()
    out = subprocess.run(["xclip", "-selection", "clipboard", "-o"], capture_output=True).stdout
    ext.append(time.perf_counter() - t)
    assert out.decode() == text
owner.kill()
r, x = statistics.median(rpc) * 1000, statistics.median(ext) * 1000
print(f"clipboard_read 1 MB ({len(text.encode())} bytes) via RPC: median {r:.2f} ms, min {min(rpc)*1000:.2f} ms")
print(f"xclip -o same selection:               median {x:.2f} ms, min {min(ext)*1000:.2f} ms")
print(f"ratio rpc/xclip: {r / x:.2f}")
PY
