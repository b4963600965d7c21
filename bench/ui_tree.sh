#!/usr/bin/env bash
# ui_tree figures in a private accessibility session (Xvfb, openbox, a
# session bus, the AT-SPI bus launcher and registry): ms per ui_tree call
# through the RPC on gtk3-widget-factory, mousepad and the small test
# window, against a node-by-node pyatspi walk of the same window (role, name,
# states, extents, actions, text; tests/integration/atspi_walk.py) in the
# same run, where a widget-factory call spends processor time and what
# each kind of call costs the application (bench/atspi_call_costs.py); then
# what one call costs when the application in front is stopped, and the
# daemon's memory peak. Then ui_snapshot of every element of
# gtk3-widget-factory (hidden pages included), and of a window of 2,000
# elements (1,957 labels in 41 rows), each against a pyatspi walk of the
# same elements in the same run. Prints figures; asserts nothing on time.
#   bench/ui_tree.sh [build dir, default build/ci] [calls, default 100]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
calls=${2:-100}
source bench/session.sh
# The accessibility bus and its registry were started by the launcher.
bench_extra_cleanup() { [[ -n ${adopted:-} ]] && kill $adopted 2>/dev/null || true; }

export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work XDG_CACHE_HOME=$work XDG_DATA_HOME=$work
bench_x 1920x1080
dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" --print-address=1 \
  >"$work/bus.address" &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/bus.address ]] && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus.address")
bench_wm
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do
  AT_SPI_BUS_ADDRESS=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
    org.a11y.Bus.GetAddress 2>/dev/null | tr -d ' ') && [[ $AT_SPI_BUS_ADDRESS == unix:* ]] && break
  sleep 0.05
done
export AT_SPI_BUS_ADDRESS
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
  org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled variant:boolean:true \
  >/dev/null
dbus-send --bus="$AT_SPI_BUS_ADDRESS" --print-reply --dest=org.a11y.atspi.Registry \
  /org/a11y/atspi/accessible/root org.a11y.atspi.Accessible.GetChildren >/dev/null
adopted=$(for name in org.a11y.atspi.Registry org.freedesktop.DBus; do
  dbus-send --bus="$AT_SPI_BUS_ADDRESS" --print-reply=literal --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetConnectionUnixProcessID string:$name | awk '{print $2}'
done)

bench_daemon "$build/tarvix-agentd" --allow-exec  # the batch below acts

# ms per ui_tree call (after one warm call), the median and the fastest,
# and the count it reports.
ui_tree() {
  /usr/bin/python3 - "$port" "$token" "$calls" "$1" <<'PY'
import http.client, json, statistics, sys, time
port, token, calls, window = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
conn = http.client.HTTPConnection("127.0.0.1", port)
def call():
    conn.request("POST", "/rpc", '{"method":"ui_tree"}', {"authorization": "Bearer " + token})
    return json.loads(conn.getresponse().read())["result"]
deadline = time.monotonic() + 20
while call().get("window") != window and time.monotonic() < deadline:
    time.sleep(0.1)
result = call()
times = []
for _ in range(calls):
    start = time.monotonic()
    call()
    times.append((time.monotonic() - start) * 1000)
print("%.2f %.2f %s" % (statistics.median(times), min(times), result.get("count")))
PY
}

report() {  # label pid window
  read -r ours fastest count < <(ui_tree "$3")
  walk=$(/usr/bin/python3 tests/integration/atspi_walk.py "$2" --repeat 10 | awk '{print $2}')
  # And once more after pyatspi made the application's cache available.
  read -r cached _ _ < <(ui_tree "$3")
  printf '%-22s %4s elements  ui_tree median %7.2f ms, fastest %7.2f ms (median %7.2f ms with cache)  pyatspi walk %7.1f ms  ratio %5.2f  load %s\n' \
    "$1" "$count" "$ours" "$fastest" "$cached" "$walk" "$(echo "$cached / $walk" | bc -l)" \
    "$(cut -d' ' -f1 /proc/loadavg)"
}

/usr/bin/python3 tests/integration/gtk_window.py --title "Bench window" >"$work/window.out" 2>/dev/null &
pids+=($!)
window=$!
for _ in $(seq 200); do grep -q ready "$work/window.out" 2>/dev/null && break; sleep 0.05; done
report "test window" "$window" "Bench window"

# A form filled in one batch on the test window (focus the entry, set its
# text, press the button, wait for the text in the tree): the batch's round
# trip and the daemon's own time for its steps (the sum of their ms).
/usr/bin/python3 - "$port" "$token" <<'PY2'
import http.client, json, statistics, sys, time
port, token = int(sys.argv[1]), sys.argv[2]
conn = http.client.HTTPConnection("127.0.0.1", port)
def call(method, params):
    conn.request("POST", "/rpc", json.dumps({"method": method, "params": params}),
                 {"authorization": "Bearer " + token})
    reply = json.loads(conn.getresponse().read())
    assert reply["ok"], (method, reply)
    return reply["result"]
snapshot = call("ui_snapshot", {"interactive_only": True})
ref = {e["role"]: e["ref"] for e in snapshot["elements"]}
rounds, steps = [], []
for i in range(10):
    text = "Filled %d" % i
    batch = [{"method": "ui_action", "params": {"ref": ref["AXTextField"], "action": "focus"}},
             {"method": "ui_set_value", "params": {"ref": ref["AXTextField"], "value": text}},
             {"method": "ui_action", "params": {"ref": ref["AXButton"], "action": "press"}},
             {"method": "wait_for", "params": {"until": "element", "query": text,
                                               "role": "AXTextField"}}]
    start = time.perf_counter()
    result = call("batch", {"steps": batch})
    rounds.append((time.perf_counter() - start) * 1000)
    assert result["completed"] == 4, result
    steps.append(sum(r["ms"] for r in result["results"]))
print("form fill as one batch (4 steps): %.1f ms round trip, %.1f ms in the steps (medians of 10)"
      % (statistics.median(rounds), statistics.median(steps)))
PY2

gtk3-widget-factory >/dev/null 2>&1 &
pids+=($!)
factory=$!
report "gtk3-widget-factory" "$factory" "gtk3-widget-factory"

# Where one widget-factory ui_tree spends processor time: ms per call of
# each process taking part, from their user and system times.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
xvfb=${pids[0]}
bus_daemon=$(tail -1 <<<"$adopted")
parts=("$factory" "$bus_daemon" "$daemon" "$xvfb")
before=()
for p in "${parts[@]}"; do before+=("$(ticks "$p")"); done
ui_tree "gtk3-widget-factory" >/dev/null
hz=$(getconf CLK_TCK)
spent=()
for i in "${!parts[@]}"; do
  spent+=("$(echo "($(ticks "${parts[i]}") - ${before[i]}) * 1000 / $hz / ($calls + 1)" | bc -l)")
done
printf 'processor ms per ui_tree call: application %.1f, accessibility bus %.1f, daemon %.1f, Xvfb %.1f\n' \
  "${spent[@]}"
# What each kind of call the tree makes costs the application (through the
# bus daemon: the figures are the application's and Xvfb's own).
/usr/bin/python3 bench/atspi_call_costs.py "$factory" "$xvfb" 1000

# ui_snapshot of up to 2,000 elements of the application `pid` (its active
# window; hidden elements too unless visible only) against pyatspi reading
# the same elements one by one, and the processor time one snapshot costs
# the application, the daemon and Xvfb.
snapshot() {  # label pid visible_only
  /usr/bin/python3 - "$port" "$token" "$2" "$3" "$1" "$daemon" "${pids[0]}" <<'PY'
import http.client, json, os, sys, time
import pyatspi
port, token, pid, visible, label = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4] == "true", sys.argv[5]
daemon, xvfb = int(sys.argv[6]), int(sys.argv[7])
def ticks(p):
    fields = open("/proc/%d/stat" % p).read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])
conn = http.client.HTTPConnection("127.0.0.1", port)
params = {"scope": "app", "pid": pid, "max_elements": 2000, "visible_only": visible,
          "deadline_ms": 10000}
def snapshot():
    conn.request("POST", "/rpc", json.dumps({"method": "ui_snapshot", "params": params}),
                 {"authorization": "Bearer " + token})
    return json.loads(conn.getresponse().read()).get("result")
deadline = time.monotonic() + 20  # until the application has joined the bus
while not (snapshot() or {}).get("count") and time.monotonic() < deadline:
    time.sleep(0.1)
times = []
parts = (pid, daemon, xvfb)
before = [ticks(p) for p in parts]
for _ in range(10):
    start = time.monotonic()
    result = snapshot()
    times.append((time.monotonic() - start) * 1000)
spent = [(ticks(p) - b) * 1000 / os.sysconf("SC_CLK_TCK") / len(times) for p, b in zip(parts, before)]
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == pid)
window = next(w for w in app if w and w.getState().contains(pyatspi.STATE_ACTIVE))
def walk(node, depth, out):
    if len(out) >= 2000 or depth > 22:
        return
    states = node.getState()
    if visible and depth > 0 and not states.contains(pyatspi.STATE_SHOWING):
        return
    out.append((node.getRoleName(), node.name, node.description, states.getStates()))
    try:
        node.queryComponent().getExtents(0)
    except NotImplementedError:
        pass
    try:
        action = node.queryAction()
        [action.getName(i) for i in range(action.nActions)]
    except NotImplementedError:
        pass
    try:
        node.queryText().getText(0, -1)
    except NotImplementedError:
        pass
    for child in node:
        if child is not None:
            walk(child, depth + 1, out)
walks = []
for _ in range(3):
    start = time.monotonic()
    out = []
    walk(window, 0, out)
    walks.append((time.monotonic() - start) * 1000)
ours, theirs = sorted(times)[len(times) // 2], sorted(walks)[1]
print("ui_snapshot %-20s %4d elements  %7.1f ms (median of 10, daemon's elapsed_ms %s)  "
      "pyatspi walk of %d  %7.1f ms  ratio %5.2fx" % (
          label, result["count"], ours, result["elapsed_ms"], len(out), theirs, ours / theirs))
print("  processor ms per snapshot: application %.1f, daemon %.1f, Xvfb %.1f" % tuple(spent))
PY
}
snapshot "widget factory, all" "$factory" false

fds=$(ls /proc/$daemon/fd | wc -l); threads=$(ls /proc/$daemon/task | wc -l)
calls=1000 ui_tree "gtk3-widget-factory" >/dev/null
echo "after 1,000 more calls: descriptors $fds -> $(ls /proc/$daemon/fd | wc -l)," \
  "threads $threads -> $(ls /proc/$daemon/task | wc -l)"

/usr/bin/python3 tests/integration/gtk_window.py --title "Labels" --size 1600x900 --labels 1957 \
  >"$work/labels.out" 2>/dev/null &
pids+=($!)
labels=$!
for _ in $(seq 200); do grep -q ready "$work/labels.out" 2>/dev/null && break; sleep 0.05; done
snapshot "2,000 elements" "$labels" true
# The same window searched: a query read of every element (its name and
# text) and the rest (bounds) of the one label it finds and its ancestors,
# then a role filter that needs no per-element read at all.
for filter in '"query":"L1956"' '"roles":["AXButton"]'; do
  printf 'ui_snapshot 2,000 elements, %-22s %s ms (median of 10)\n' "$filter" \
    "$(bench_rpc_ms ui_snapshot "{\"scope\":\"app\",\"pid\":$labels,\"max_elements\":2000,\"deadline_ms\":10000,$filter}" 10)"
done
kill $labels

mousepad --disable-server >/dev/null 2>&1 &
pids+=($!)
editor=$!
report "mousepad" "$editor" "Untitled 1 - Mousepad"

# The application in front stops answering: ms per ui_tree call (each
# call after the first finds the application as silent as the first).
kill -STOP "$editor"
/usr/bin/python3 - "$port" "$token" <<'PY'
import http.client, json, sys, time
port, token = int(sys.argv[1]), sys.argv[2]
times = []
for _ in range(3):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    start = time.monotonic()
    conn.request("POST", "/rpc", '{"method":"ui_tree"}', {"authorization": "Bearer " + token})
    result = json.loads(conn.getresponse().read())["result"]
    times.append((time.monotonic() - start) * 1000)
print("stopped application:   ui_tree %s ms (%s)" % (
    " / ".join("%.0f" % t for t in times), "window list" if "windows" in result else "tree"))
PY
kill -CONT "$editor"
echo "daemon memory peak: $(awk '/VmHWM/ {print $2, $3}' /proc/$daemon/status)"
