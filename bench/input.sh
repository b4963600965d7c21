#!/usr/bin/env bash
# Input figures on a private X session (Xvfb, openbox, the GTK probe window
# of the integration tests): move + click round trip through the RPC against
# xdotool's whole process, typing 1,000 ASCII and 100 non-ASCII characters
# (timed and checked on arrival). Prints figures; asserts nothing on time.
#   bench/input.sh [build dir, default build/ci]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1920x1080x24 -noreset -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.05; done
export DISPLAY=:$(head -1 "$work/display")
export DBUS_SESSION_BUS_ADDRESS=disabled: NO_AT_BRIDGE=1
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
sleep 1

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
token=bench-token-0123456789
HOME=$work "$build/tarvix-agentd" --port "$port" --token "$token" --allow-exec 2>/dev/null &
pids+=($!)
sleep 0.3

/usr/bin/python3 bench/input_bench.py "$port" "$token" tests/integration/input_probe.py
