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

# bench_binary [PATH]: installs the bench packages; sets `binary` to PATH,
# else to a release build of the daemon made here.
bench_binary() {
  scripts/install-deps.sh --bench >&2
  binary=${1:-}
  if [[ -z $binary ]]; then
    scripts/build.sh release -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF -- tarvix-agentd >&2
    binary=build/release/tarvix-agentd
  fi
}

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

# Timing, in ms, as medians (the machines are shared), each after one
# warm-up run; `runs` (default 30) sets how many.
# bench_rpc_ms METHOD [PARAMS_JSON] [RUNS]: calls on one keep-alive
# connection to the daemon; each reply is checked, not parsed (decoding
# megabytes of JSON in Python would cost more than the call).
bench_rpc_ms() {
  /usr/bin/python3 - "$port" "$token" "$1" "${2:-{\}}" "${3:-${runs:-30}}" <<'PY'
import http.client, json, statistics, sys, time
port, token, method, params, runs = sys.argv[1:6]
c = http.client.HTTPConnection("127.0.0.1", int(port))
body = json.dumps({"method": method, "params": json.loads(params)})
head = {"authorization": "Bearer " + token, "content-type": "application/json"}
def call():
    c.request("POST", "/rpc", body, head)
    reply = c.getresponse().read()
    assert reply.startswith(b'{"ok":true'), reply[:200]
call()
times = []
for _ in range(int(runs)):
    t = time.perf_counter(); call(); times.append(time.perf_counter() - t)
print("%.2f" % (1000 * statistics.median(times)))
PY
}
# bench_process_ms COMMAND [ARGS...]: whole runs of a command.
bench_process_ms() {
  /usr/bin/python3 - "${runs:-30}" "$@" <<'PY'
import statistics, subprocess, sys, time
runs, cmd = int(sys.argv[1]), sys.argv[2:]
quiet = dict(check=True, stdout=subprocess.DEVNULL)
subprocess.run(cmd, **quiet)
times = []
for _ in range(runs):
    t = time.perf_counter(); subprocess.run(cmd, **quiet); times.append(time.perf_counter() - t)
print("%.2f" % (1000 * statistics.median(times)))
PY
}
