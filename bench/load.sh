#!/usr/bin/env bash
# Load benchmark: the daemon against nginx (one process) serving the same
# JSON reply for POST /rpc, both loaded by wrk on loopback in the same run.
# Prints requests/s, p50/p99 latency, the ratio to nginx, server CPU time per
# request, the daemon's resident memory idle and under load, a 7th client's
# ping latency while 6 clients hold idle keep-alive connections, and tool
# calls through the daemon (read_file 64 KiB, list_dir 1,000 entries).
#   bench/load.sh [seconds per run, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-5}
scripts/install-deps.sh --bench >&2
scripts/build.sh release -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF -- tarvix-agentd >&2

work=$(mktemp -d /tmp/tarvix-bench-XXXXXX)
token=bench-token-$RANDOM$RANDOM
daemon_port=$((20000 + RANDOM % 10000))
nginx_port=$((daemon_port + 1))
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

ping_reply='{"ok":true,"result":{"agent":"tarvix-agentd","mutating":false,"ok":true,"version":"0.1.0"}}'
mkdir -p "$work/nginx" "$work/home"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
master_process off;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx;
  server {
    listen 127.0.0.1:$nginx_port;
    location = /rpc { default_type application/json; return 200 '$ping_reply'; }
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)
nginx_pid=$!
HOME=$work/home build/release/tarvix-agentd --port "$daemon_port" --token "$token" 2>"$work/daemon.err" &
pids+=($!)
daemon_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$daemon_port/" && curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && break
  sleep 0.05
done

lua() {  # lua <file> <json body>
  cat >"$1" <<LUA
wrk.method = "POST"
wrk.body = '$2'
wrk.headers["Authorization"] = "Bearer $token"
wrk.headers["Content-Type"] = "application/json"
LUA
}
lua "$work/ping.lua" '{"method":"ping"}'

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
hz=$(getconf CLK_TCK)

# run <name> <pid> <port> <connections> <lua> -> "rps p50 p99 cpu_us_per_req"
run() {
  local pid=$2 port=$3 conns=$4 script=$5 threads=1
  ((conns > 1)) && threads=2
  local before after out rps p50 p99 total
  before=$(cpu_ticks "$pid")
  out=$(wrk -t"$threads" -c"$conns" -d"${secs}s" --latency -s "$script" "http://127.0.0.1:$port/rpc")
  after=$(cpu_ticks "$pid")
  rps=$(awk '/^Requests\/sec/ {print $2}' <<<"$out")
  total=$(awk '/requests in/ {print $1}' <<<"$out")
  p50=$(awk '$1 == "50%" {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
  local cpu_us
  cpu_us=$(awk -v t=$((after - before)) -v hz="$hz" -v n="$total" 'BEGIN {printf "%.1f", t / hz * 1e6 / n}')
  echo "$rps $p50 $p99 $cpu_us"
}

idle_rss=$(rss_kib "$daemon_pid")
curl -s -H "Authorization: Bearer $token" -d '{"method":"ping"}' "http://127.0.0.1:$daemon_port/rpc" >/dev/null
printf '%-28s %12s %9s %9s %8s %12s\n' "ping, keep-alive" "req/s" "p50" "p99" "x nginx" "cpu us/req"
peak_rss=$idle_rss
for conns in 1 6 64; do
  read -r n_rps n_p50 n_p99 n_cpu < <(run nginx "$nginx_pid" "$nginx_port" "$conns" "$work/ping.lua")
  ( sleep $((secs / 2 + 1)); rss_kib "$daemon_pid" >"$work/rss" ) &
  sampler=$!
  read -r d_rps d_p50 d_p99 d_cpu < <(run daemon "$daemon_pid" "$daemon_port" "$conns" "$work/ping.lua")
  wait "$sampler"
  r=$(cat "$work/rss"); ((r > peak_rss)) && peak_rss=$r
  ratio=$(awk -v a="$d_rps" -v b="$n_rps" 'BEGIN {printf "%.2f", a / b}')
  printf '%-28s %12s %9s %9s %8s %12s\n' "nginx, $conns conn" "$n_rps" "$n_p50" "$n_p99" "1.00" "$n_cpu"
  printf '%-28s %12s %9s %9s %8s %12s\n' "tarvix-agentd, $conns conn" "$d_rps" "$d_p50" "$d_p99" "$ratio" "$d_cpu"
done
after_rss=$(rss_kib "$daemon_pid")
echo "daemon resident memory: idle ${idle_rss} KiB, under load ${peak_rss} KiB, after load ${after_rss} KiB"

# A 7th client while six others hold idle keep-alive connections.
for i in 1 2 3 4 5 6; do
  exec {fd}<>"/dev/tcp/127.0.0.1/$daemon_port"
  printf 'POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer %s\r\nContent-Length: 17\r\n\r\n{"method":"ping"}' "$token" >&$fd
  eval "held_$i=$fd"
done
sleep 0.2
times=()
for _ in $(seq 20); do
  times+=("$(curl -s -o /dev/null -w '%{time_total}' -H "Authorization: Bearer $token" -d '{"method":"ping"}' "http://127.0.0.1:$daemon_port/rpc")")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {printf "7th client ping with 6 idle keep-alive clients: median %.2f ms, max %.2f ms (curl, new connection each)\n", a[int((NR + 1) / 2)] * 1000, a[NR] * 1000}'
for i in 1 2 3 4 5 6; do eval "exec {held_$i}>&-"; done

# Tool calls through the daemon at 6 connections.
head -c 49152 /dev/urandom | base64 -w 100 >"$work/home/file64k.txt"
truncate -s 65536 "$work/home/file64k.txt"
mkdir -p "$work/home/dir1000"
for i in $(seq 1000); do : >"$work/home/dir1000/entry-$i"; done
lua "$work/read.lua" "{\"method\":\"read_file\",\"params\":{\"path\":\"$work/home/file64k.txt\"}}"
lua "$work/list.lua" "{\"method\":\"list_dir\",\"params\":{\"path\":\"$work/home/dir1000\"}}"
printf '%-28s %12s %9s %9s %8s %12s\n' "tool call, 6 conn" "calls/s" "p50" "p99" "" "cpu us/call"
read -r rps p50 p99 cpu < <(run daemon "$daemon_pid" "$daemon_port" 6 "$work/read.lua")
printf '%-28s %12s %9s %9s %8s %12s\n' "read_file 64 KiB" "$rps" "$p50" "$p99" "" "$cpu"
read -r rps p50 p99 cpu < <(run daemon "$daemon_pid" "$daemon_port" 6 "$work/list.lua")
printf '%-28s %12s %9s %9s %8s %12s\n' "list_dir 1,000 entries" "$rps" "$p50" "$p99" "" "$cpu"
