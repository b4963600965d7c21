# Sourced by the desktop bench scripts: a private X session and the daemon
# in it, torn down on exit. Sets `work` (a scratch directory), `pids`
# (killed last-started first), and after the calls below DISPLAY, `port`,
# `token` and `daemon`. A script that starts more than processes defines
# bench_extra_cleanup().
work=$(mktemp -d)
pids=()
bench_cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if declare -F bench_extra_cleanup >/dev/null; then bench_extra_cleanup; fi
  rm -rf "$work"
}
trap bench_cleanup EXIT

# bench_x WIDTHxHEIGHT: Xvfb on a free display number; exports DISPLAY.
bench_x() {
  Xvfb -displayfd 3 -screen 0 "${1}x24" -noreset -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do [[ -s $work/display ]] && break; sleep 0.05; done
  [[ -s $work/display ]] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$(head -1 "$work/display")
}

# bench_wm: openbox, waited for until it has announced itself on the root.
bench_wm() {
  openbox --sm-disable >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return
    sleep 0.05
  done
  echo "openbox did not start" >&2
  exit 1
}

# bench_daemon BINARY [daemon args...]: the daemon on a free port with a
# private HOME, waited for until it answers.
bench_daemon() {
  local binary=$1
  shift
  port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  token=bench-token-0123456789
  HOME=$work "$binary" --port "$port" --token "$token" "$@" 2>/dev/null &
  daemon=$!
  pids+=($daemon)
  for _ in $(seq 200); do
    /usr/bin/python3 - "$port" 2>/dev/null <<'PY' && return
import socket, sys
socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
PY
    sleep 0.05
  done
  echo "the daemon did not start" >&2
  exit 1
}
