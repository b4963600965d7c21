#!/usr/bin/env bash
# Input figures on a headless sway session with one 1920x1080 output and a
# native GTK 3 window (tests/integration/input_probe.py) holding the
# keyboard focus: typing through the RPC (warm daemon, its persistent
# virtual keyboard) against wtype (whole process) with the same text in the
# same run, with ratios: the 69-character mixed-script text, 1,000 ASCII
# characters and 100 non-ASCII ones; and a click's round trip. Then the
# mixed text into the same probe as an X client through XWayland
# (GDK_BACKEND=x11), against the native window's figure.
# Prints figures only; nothing here passes or fails.
#   bench/wayland_input.sh [daemon binary]   (default: a release build made here)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${TARVIX_BENCH_RUNS:-20}
source bench/session.sh
bench_binary "${1:-}"
source bench/wayland_session.sh

ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }

bench_sway 1920x1080 '#5a6e82'
printf 'sway up (answered get_outputs) in %s ms\n' "$sway_start_ms"
cp tests/integration/input_probe.py "$work/input_probe.py"
chmod 644 "$work/input_probe.py"
"${as_sway[@]}" GDK_BACKEND=wayland NO_AT_BRIDGE=1 /usr/bin/python3 "$work/input_probe.py" \
  >"$work/probe.log" 2>/dev/null &
pids+=($!)
for _ in $(seq 200); do grep -q '"ready"' "$work/probe.log" 2>/dev/null && break; sleep 0.05; done
# sway names XWayland's display only to what it starts; the daemon (run as
# root here) is let in by the session's user.
"${as_sway[@]}" swaymsg exec "printenv DISPLAY >$XDG_RUNTIME_DIR/x-display.new && mv $XDG_RUNTIME_DIR/x-display.new $XDG_RUNTIME_DIR/x-display" >/dev/null
for _ in $(seq 200); do [[ -s $XDG_RUNTIME_DIR/x-display ]] && break; sleep 0.05; done
DISPLAY=$(cat "$XDG_RUNTIME_DIR/x-display")
export DISPLAY
"${as_sway[@]}" DISPLAY="$DISPLAY" xhost +SI:localuser:root >/dev/null
bench_daemon "$binary" --allow-exec

mixed=$'Gr\u00fc\u00dfe aus K\u00f6ln, \u65e5\u672c\u8a9e \U0001F600 cafe\u0301 \u05e9\u05dc\u05d5\u05dd \u00c4\u00d6\u00dc \u20ac4 Tab\there\nnew line ~!@#$%^&*()'
ascii=$(python3 -c "print(('The quick brown fox jumps over the lazy dog. ' * 30)[:1000], end='')")
non_ascii=$(python3 -c "print(''.join(chr(0x4e00 + i * 7) for i in range(100)), end='')")
mixed_params=$(python3 -c 'import json, sys; print(json.dumps({"action": "type", "text": sys.argv[1]}))' "$mixed")
for name in mixed ascii non_ascii; do
  text=${!name}
  params=$(python3 -c 'import json, sys; print(json.dumps({"action": "type", "text": sys.argv[1]}))' "$text")
  ours=$(bench_rpc_ms input "$params")
  # Escape empties the window's text between runs of both.
  theirs=$(bench_process_ms "${as_sway[@]}" wtype -- "$text")
  printf '%-9s %4d chars: type rpc %8s ms | wtype %8s ms (ratio %s)\n' "$name" \
    "$(python3 -c 'import sys; print(len(sys.argv[1]))' "$text")" "$ours" "$theirs" \
    "$(ratio "$ours" "$theirs")"
  bench_rpc_ms input '{"action":"key","name":"Escape"}' 1 >/dev/null
done
# Clicks at three points far apart in turn (clicks near the last two are
# paced apart by the double-click time, as toolkits count triple clicks).
clicks=$(/usr/bin/python3 - "$port" "$token" "$runs" <<'PY'
import http.client, json, statistics, sys, time
port, token, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
c = http.client.HTTPConnection("127.0.0.1", int(port))
head = {"authorization": "Bearer " + token, "content-type": "application/json"}
times = []
for i in range(runs + 1):
    body = json.dumps({"method": "input", "params": {"action": "click", "x": 200 + 300 * (i % 3), "y": 100}})
    t = time.perf_counter()
    c.request("POST", "/rpc", body, head)
    assert c.getresponse().read().startswith(b'{"ok":true')
    if i: times.append(time.perf_counter() - t)
print("%.2f" % (1000 * statistics.median(times)))
PY
)
printf 'click rpc (moving between three points) %s ms | move rpc %s ms\n' "$clicks" \
  "$(bench_rpc_ms input '{"action":"move","x":300,"y":200}')"

native=$(bench_rpc_ms input "$mixed_params")
bench_rpc_ms input '{"action":"key","name":"Escape"}' 1 >/dev/null
# The X client takes the focus as the newest window.
"${as_sway[@]}" DISPLAY="$DISPLAY" GDK_BACKEND=x11 NO_AT_BRIDGE=1 /usr/bin/python3 \
  "$work/input_probe.py" >"$work/x-probe.log" 2>/dev/null &
pids+=($!)
for _ in $(seq 200); do grep -q '"ready"' "$work/x-probe.log" 2>/dev/null && break; sleep 0.05; done
x_client=$(bench_rpc_ms input "$mixed_params")
printf 'mixed     %4d chars into XWayland: type rpc %8s ms | into the native window %8s ms (ratio %s)\n' \
  "$(python3 -c 'import sys; print(len(sys.argv[1]))' "$mixed")" "$x_client" "$native" \
  "$(ratio "$x_client" "$native")"
