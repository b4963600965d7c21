#!/usr/bin/env bash
# Screenshot figures on a headless sway session with one 1920x1080 output:
# the screenshot through the RPC (warm daemon, wlroots screencopy) against
# grim (whole process, its default PNG level and -l 1) in the same run, on
# a plain background and on a photo-like one (seeded noise), with ratios;
# and how long sway took to come up. Then, with a second 1920x1080 output
# turned by 90 degrees below the first: a capture of that output and of a
# 1080x1080 area half on each output, against grim -l 1 of the same.
# Prints figures only; nothing here passes or fails.
#   bench/wayland_screenshot.sh [daemon binary]   (default: a release build made here)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${TARVIX_BENCH_RUNS:-30}
source bench/session.sh
bench_binary "${1:-}"
source bench/wayland_session.sh

ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }

/usr/bin/convert -size 1920x1080 xc: -seed 3 +noise Random "$work/noise.png"
chmod 644 "$work/noise.png"
# Waits until two grim images in a row agree: the background is drawn by
# swaybg a moment after sway is up.
still() {
  for _ in $(seq 200); do
    [[ $("${as_sway[@]}" grim -t ppm - | md5sum) == \
       $("${as_sway[@]}" grim -t ppm - | md5sum) ]] && break
  done
}
end_session() {
  for ((i = ${#pids[@]} - 1; i >= source_pids; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=("${pids[@]:0:source_pids}")
  rm -rf "$work/sway"
}

for scene in plain noise; do
  background='#5a6e82'
  [[ $scene == noise ]] && background=$work/noise.png
  source_pids=${#pids[@]}
  bench_sway 1920x1080 "$background"
  printf 'sway up (answered get_outputs) in %s ms\n' "$sway_start_ms"
  bench_daemon "$binary"
  still
  ours=$(bench_rpc_ms screenshot)
  grim_default=$(bench_process_ms "${as_sway[@]}" grim -t png "$XDG_RUNTIME_DIR/grim.png")
  grim_fast=$(bench_process_ms "${as_sway[@]}" grim -t png -l 1 "$XDG_RUNTIME_DIR/grim.png")
  printf '%-5s screenshot rpc %7s ms | grim %7s ms (ratio %s) | grim -l 1 %7s ms (ratio %s)\n' \
    "$scene" "$ours" "$grim_default" "$(ratio "$ours" "$grim_default")" "$grim_fast" \
    "$(ratio "$ours" "$grim_fast")"
  end_session
done

source_pids=${#pids[@]}
bench_sway 1920x1080 "$work/noise.png" 'output HEADLESS-2 mode 1920x1080 pos 0 1080 transform 90'
bench_daemon "$binary"
still
upright=$(bench_rpc_ms capture '{"display":1}')
turned=$(bench_rpc_ms capture '{"display":2}')
grim_turned=$(bench_process_ms "${as_sway[@]}" grim -t png -l 1 -o HEADLESS-2 \
  "$XDG_RUNTIME_DIR/grim.png")
printf 'turned output capture rpc %7s ms | grim -l 1 %7s ms (ratio %s) | upright output %7s ms\n' \
  "$turned" "$grim_turned" "$(ratio "$turned" "$grim_turned")" "$upright"
across=$(bench_rpc_ms capture '{"region":{"x":0,"y":540,"w":1080,"h":1080}}')
grim_across=$(bench_process_ms "${as_sway[@]}" grim -t png -l 1 -g '0,540 1080x1080' \
  "$XDG_RUNTIME_DIR/grim.png")
printf 'area across outputs rpc %7s ms | grim -l 1 %7s ms (ratio %s)\n' \
  "$across" "$grim_across" "$(ratio "$across" "$grim_across")"
end_session
