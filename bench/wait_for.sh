#!/usr/bin/env bash
# wait_for figures on a private X session: what a settle costs past its
# stable_ms on a still screen (round trip through the RPC, median of 20),
# and how soon after a GTK spinner's last frame a settle answers, against
# the spinner's own report of when it stopped (same clock). Prints
# figures; asserts nothing on time.
#   bench/wait_for.sh [build dir, default build/ci]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
source bench/session.sh
bench_x 1280x800
export DBUS_SESSION_BUS_ADDRESS=disabled: NO_AT_BRIDGE=1
bench_wm
bench_daemon "$build/tarvix-agentd"

/usr/bin/python3 - "$port" "$token" <<'PY'
import http.client, json, statistics, subprocess, sys, time
port, token = int(sys.argv[1]), sys.argv[2]
conn = http.client.HTTPConnection("127.0.0.1", port)
headers = {"Authorization": "Bearer " + token}
def wait(params):
    conn.request("POST", "/rpc", json.dumps({"method": "wait_for", "params": params}), headers)
    return json.loads(conn.getresponse().read())["result"]
stable = 300
over = []
for _ in range(20):
    t = time.perf_counter()
    result = wait({"until": "settle", "stable_ms": stable})
    over.append((time.perf_counter() - t) * 1000 - stable)
    assert result["met"], result
print(f"settle on a still screen: median {statistics.median(over):.2f} ms past stable_ms "
      f"(max {max(over):.2f} ms)")
late = []
for run in range(5):
    spinner = subprocess.Popen(["/usr/bin/python3", "tests/integration/gtk_window.py", "--title",
                                f"Spinner {run}", "--spin", "800", "--size", "120x100"],
                               stdout=subprocess.PIPE, text=True)
    assert spinner.stdout.readline().startswith("ready")
    result = wait({"until": "settle", "stable_ms": stable, "timeout_ms": 10000})
    answered = time.monotonic()
    stopped = float(spinner.stdout.readline().split()[1])
    spinner.kill()
    spinner.wait()
    late.append((answered - stopped) * 1000 - stable)
    assert result["met"], result
    wait({"until": "settle", "stable_ms": 200})  # the closed window's redraw
print(f"settle after a spinner stops: median {statistics.median(late):.2f} ms past its last "
      f"frame + stable_ms (max {max(late):.2f} ms; includes its final redraws)")
PY
