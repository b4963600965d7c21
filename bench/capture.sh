#!/usr/bin/env bash
# Capture figures on a private 1920x1080 X session showing a photo-like
# full-screen image:
#   - capture to max_width 1280 as JPEG quality 80 through the RPC (warm
#     daemon) against scrot piped through ImageMagick's convert -resize
#     1280x (whole processes), with the ratio;
#   - capture to max_width 1280 as PNG against the full-size screenshot;
#   - a 400x300 region, unscaled PNG.
# Prints figures only; nothing here passes or fails. Usage:
#   bench/capture.sh [daemon binary]   (default: a release build made here)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${TARVIX_BENCH_RUNS:-30}
source bench/session.sh
bench_binary "${1:-}"
bench_x 1920x1080
export DBUS_SESSION_BUS_ADDRESS=disabled: NO_AT_BRIDGE=1
bench_daemon "$binary"

/usr/bin/convert -size 1920x1080 plasma:fractal -blur 0x2 -attenuate 0.25 +noise Gaussian \
  "$work/photo.png"
/usr/bin/python3 tests/integration/gtk_window.py --title Photo --image "$work/photo.png" \
  --pos 0,0 >/dev/null 2>&1 &
pids+=($!)
sleep 3

# Median of `runs` RPC calls on one keep-alive connection after one warm-up
# call, in ms (a median: the machines are shared; the fastest call
# beside it), and the reply's size figures.
rpc() {
  python3 - "$port" "$token" "$runs" "$1" "$2" <<'PY'
import http.client, json, sys, time
port, token, runs, method, params = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]
c = http.client.HTTPConnection("127.0.0.1", int(port))
body = json.dumps({"method": method, "params": json.loads(params)})
head = {"authorization": "Bearer " + token, "content-type": "application/json"}
def call():
    c.request("POST", "/rpc", body, head)
    return c.getresponse().read()
reply = json.loads(call())
assert reply["ok"], reply
times = []
for _ in range(runs):
    t = time.perf_counter(); call(); times.append(time.perf_counter() - t)
r = reply["result"]
times.sort()
print("%.2f ms (min %.2f ms; %dx%d, %d bytes)" % (1000 * times[len(times) // 2], 1000 * times[0],
                                               r["width"], r["height"], r["bytes"]))
PY
}
ms() { echo "${1%% ms*}"; }
ratio() { python3 -c "print('%.3f' % ($1 / $2))"; }

jpeg=$(rpc capture '{"max_width":1280,"format":"jpeg","quality":80}')
scrot=$(bench_process_ms sh -c "scrot -o $work/scrot.png && /usr/bin/convert $work/scrot.png -resize 1280x -quality 80 jpg:- >/dev/null")
printf 'capture 1280 jpeg q80 rpc %s | scrot + convert -resize %s ms (ratio %s)\n' \
  "$jpeg" "$scrot" "$(ratio "$(ms "$jpeg")" "$scrot")"
png=$(rpc capture '{"max_width":1280}')
shot=$(rpc screenshot '{}')
printf 'capture 1280 png rpc %s | screenshot %s (ratio %s)\n' \
  "$png" "$shot" "$(ratio "$(ms "$png")" "$(ms "$shot")")"
printf 'capture region 400x300 png rpc %s\n' \
  "$(rpc capture '{"region":{"x":700,"y":400,"w":400,"h":300}}')"
