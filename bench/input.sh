#!/usr/bin/env bash
# Input figures on a private X session (Xvfb, openbox, the GTK probe window
# of the integration tests): move + click round trip through the RPC against
# xdotool's whole process, typing 1,000 ASCII and 100 non-ASCII characters
# (timed and checked on arrival). Prints figures; asserts nothing on time.
#   bench/input.sh [build dir, default build/ci]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
source bench/session.sh
bench_x 1920x1080
export DBUS_SESSION_BUS_ADDRESS=disabled: NO_AT_BRIDGE=1
bench_wm
bench_daemon "$build/tarvix-agentd" --allow-exec

/usr/bin/python3 bench/input_bench.py "$port" "$token" tests/integration/input_probe.py
