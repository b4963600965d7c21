#!/usr/bin/env bash
# Screenshot and window list figures on a private 1920x1080 X session:
#   - screenshot through the RPC (warm daemon) against scrot and
#     `import -window root` (whole process each) on a UI scene (GTK windows
#     on a plain background) and a photo-like scene (a noisy full-screen
#     image), with ratios;
#   - PNG encoding alone, on one thread and on two (png_encode_bench);
#   - the window list (ui_tree's fallback) with 20 windows against
#     `wmctrl -l -G`;
#   - the daemon's resident memory after screenshots and once idle, and its
#     descriptors, threads, the server's clients and SysV segments before
#     and after 1,000 screenshots.
# Prints figures only; nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --bench >&2
scripts/build.sh release -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF -DTARVIX_BENCH=ON \
  -- tarvix-agentd png_encode_bench >&2
runs=${TARVIX_BENCH_RUNS:-30}
source bench/session.sh
bench_x 1920x1080
export DBUS_SESSION_BUS_ADDRESS=disabled: NO_AT_BRIDGE=1
bench_wm
xsetroot -solid '#5a6e82' 2>/dev/null || true
bench_daemon build/release/tarvix-agentd

ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }

scene() {
  local name=$1
  local ours scrot import
  ours=$(bench_rpc_ms screenshot)
  scrot=$(bench_process_ms scrot -o "$work/scrot.png")
  import=$(bench_process_ms import -window root "$work/import.png")
  printf '%-6s screenshot rpc %7s ms | scrot %7s ms (ratio %s) | import %7s ms (ratio %s)\n' \
    "$name" "$ours" "$scrot" "$(ratio "$ours" "$scrot")" "$import" "$(ratio "$ours" "$import")"
  build/release/png_encode_bench --benchmark_min_time=0.5 2>/dev/null |
    awk -v s="$name" '/BM_EncodeScreen/ {printf "%-6s encode %s threads: %s ms (%s)\n", s, substr($1, index($1, "/")+1, 1), $2, $NF}'
}

gtk=()
for i in 0 1 2 3; do
  /usr/bin/python3 tests/integration/gtk_window.py --title "Window $i" --size 700x500 \
    --pos "$((60 + 420 * i)),$((40 + 120 * i))" >/dev/null 2>&1 &
  gtk+=($!); pids+=($!)
done
sleep 3
scene ui
for pid in "${gtk[@]}"; do kill "$pid"; done

/usr/bin/convert -size 1920x1080 plasma:fractal -blur 0x2 -attenuate 0.25 +noise Gaussian "$work/photo.png"
/usr/bin/python3 tests/integration/gtk_window.py --title Photo --image "$work/photo.png" \
  >/dev/null 2>&1 &
photo=$!
pids+=($photo)
sleep 3
scene photo
kill "$photo"

windows=()
for i in $(seq 20); do
  /usr/bin/python3 tests/integration/gtk_window.py --title "List $i" --size 200x150 \
    --pos "$((40 * i)),$((30 * i))" --colour 808080 >/dev/null 2>&1 &
  windows+=($!); pids+=($!)
done
sleep 4
listed=$(python3 -c "
import http.client, json
c = http.client.HTTPConnection('127.0.0.1', $port)
c.request('POST', '/rpc', json.dumps({'method': 'ui_tree'}), {'authorization': 'Bearer $token'})
print(len(json.loads(c.getresponse().read())['result']['windows']))")
ours=$(bench_rpc_ms ui_tree)
wmctrl=$(bench_process_ms wmctrl -l -G)
printf 'window list (%s windows) rpc %s ms | wmctrl -l -G %s ms (ratio %s)\n' \
  "$listed" "$ours" "$wmctrl" "$(ratio "$ours" "$wmctrl")"
for pid in "${windows[@]}"; do kill "$pid"; done

# Clients of the X server (X-Resource), less the asking one.
x_clients() {
  python3 - <<'PY'
import ctypes
xcb = ctypes.CDLL("libxcb.so.1")
res = ctypes.CDLL("libxcb-res.so.0")
xcb.xcb_connect.restype = ctypes.c_void_p
xcb.xcb_connect.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
c = xcb.xcb_connect(None, None)
res.xcb_res_query_clients.argtypes = [ctypes.c_void_p]
res.xcb_res_query_clients.restype = ctypes.c_uint
res.xcb_res_query_clients_reply.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_void_p]
res.xcb_res_query_clients_reply.restype = ctypes.POINTER(ctypes.c_uint32)
reply = res.xcb_res_query_clients_reply(c, res.xcb_res_query_clients(c), None)
print(reply[2] - 1 if reply else -1)
PY
}
counts() {
  printf 'fds %s threads %s x-clients %s sysv-shm %s' "$(ls /proc/$daemon/fd | wc -l)" \
    "$(ls /proc/$daemon/task | wc -l)" \
    "$(x_clients)" \
    "$(ipcs -m | grep -c '^0x' || true)"
}
rss() { awk '/VmRSS/ {print $2 " kB"}' "/proc/$daemon/status"; }
sleep 4
echo "idle before 1000 screenshots: $(counts), rss $(rss)"
bench_rpc_ms screenshot "{}" 1000 >/dev/null
echo "right after 1000 screenshots:  rss $(rss)"
sleep 5
echo "idle after 1000 screenshots:  $(counts), rss $(rss)"
