#!/usr/bin/env bash
# Window figures on a headless sway session with one 1920x1080 output and
# three native GTK 3 windows: list_windows through the RPC (warm daemon,
# sway IPC) against `swaymsg -t get_tree` (whole process) in the same run,
# and window_action "activate" alternating between two windows (the
# command plus its effect read back from sway's tree); clipboard_read of
# 1 MB owned by wl-copy (data control) against wl-paste (whole process) in
# the same run; what wait_for's screen watch costs the daemon and sway
# while a GTK spinner draws.
# Prints figures only; nothing here passes or fails.
#   bench/wayland_windows.sh [daemon binary]   (default: a release build made here)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${TARVIX_BENCH_RUNS:-30}
source bench/session.sh
bench_binary "${1:-}"
source bench/wayland_session.sh

bench_sway 1920x1080 '#5a6e82'
for title in One Two Three; do
  "${as_sway[@]}" HOME="$XDG_RUNTIME_DIR" GDK_BACKEND=wayland NO_AT_BRIDGE=1 /usr/bin/python3 \
    tests/integration/gtk_window.py --title "$title" >"$work/$title.log" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 400); do grep -q ready "$work/$title.log" && break; sleep 0.05; done
done
bench_daemon "$binary" --allow-exec

ours=$(bench_rpc_ms list_windows)
theirs=$(bench_process_ms "${as_sway[@]}" swaymsg -t get_tree -r)
printf 'list_windows (3 windows) rpc %7s ms | swaymsg -t get_tree %7s ms (ratio %s)\n' "$ours" \
  "$theirs" "$(python3 -c "print('%.2f' % ($ours / $theirs))")"

/usr/bin/python3 - "$port" "$token" "$runs" <<'PY'
import http.client, json, statistics, sys, time
port, token, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
c = http.client.HTTPConnection("127.0.0.1", int(port))
head = {"authorization": "Bearer " + token, "content-type": "application/json"}
def call(method, params):
    c.request("POST", "/rpc", json.dumps({"method": method, "params": params}), head)
    return json.loads(c.getresponse().read())
ids = [w["id"] for w in call("list_windows", {})["result"]["windows"]][:2]
times = []
for i in range(runs + 1):
    t = time.perf_counter()
    reply = call("window_action", {"window": ids[i % 2], "action": "activate"})
    assert reply["result"]["verified"] is True, reply
    times.append(time.perf_counter() - t)
print("window_action activate, verified from the tree: %.2f ms" % (1000 * statistics.median(times[1:])))
PY

# The clipboard: 1 MB of mixed-script text owned by wl-copy.
/usr/bin/python3 -c "
t = ('clipboard bench é 日本語 ' * 40000).encode()[:1_000_000].decode('utf-8', 'ignore')
open('$work/clip.in', 'w', encoding='utf-8').write(t)"
chmod 644 "$work/clip.in"
"${as_sway[@]}" wl-copy --foreground --type 'text/plain;charset=utf-8' <"$work/clip.in" &
pids+=($!)
for _ in $(seq 200); do
  cmp -s <("${as_sway[@]}" wl-paste --no-newline) "$work/clip.in" && break
  sleep 0.05
done
ours=$(bench_rpc_ms clipboard_read '{"max_bytes": 2000000}')
theirs=$(bench_process_ms "${as_sway[@]}" wl-paste --no-newline)
printf 'clipboard_read 1 MB rpc %7s ms | wl-paste %7s ms (ratio %s)\n' "$ours" "$theirs" \
  "$(python3 -c "print('%.2f' % ($ours / $theirs))")"

# wait_for's screen watch: processor time of the daemon and of sway (the
# first process started) over 5 s with a spinner drawing, first without a
# watch, then during a settle that cannot be met.
"${as_sway[@]}" HOME="$XDG_RUNTIME_DIR" GDK_BACKEND=wayland NO_AT_BRIDGE=1 /usr/bin/python3 \
  tests/integration/gtk_window.py --title Spinner --spin 0 >"$work/spinner.log" 2>/dev/null &
pids+=($!)
for _ in $(seq 400); do grep -q ready "$work/spinner.log" && break; sleep 0.05; done
cpu_ms() { awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) * 1000 / hz}' "/proc/$1/stat"; }
watch_cost() {
  local sway0 ours0
  sway0=$(cpu_ms "${pids[0]}") ours0=$(cpu_ms "$daemon")
  "$@"
  printf '%s ms, daemon %s ms' "$(($(cpu_ms "${pids[0]}") - sway0))" "$(($(cpu_ms "$daemon") - ours0))"
}
idle=$(watch_cost sleep 5)
watched=$(watch_cost /usr/bin/python3 - "$port" "$token" <<'PY'
import http.client, json, sys
c = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]))
c.request("POST", "/rpc", json.dumps({"method": "wait_for", "params": {
    "until": "settle", "timeout_ms": 5000, "stable_ms": 10000}}),
    {"authorization": "Bearer " + sys.argv[2], "content-type": "application/json"})
assert json.loads(c.getresponse().read())["result"]["met"] is False
PY
)
printf 'processor time over 5 s with a spinner: sway %s without a watch | sway %s during wait_for\n' \
  "$idle" "$watched"
