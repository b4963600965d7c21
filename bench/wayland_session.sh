# Sourced by the Wayland bench scripts after bench/session.sh: a headless
# sway session (WLR_BACKENDS=headless, pixman renderer, no input devices)
# with its own XDG_RUNTIME_DIR, run as an unprivileged user when we are
# root (sway refuses root). bench_sway exports XDG_RUNTIME_DIR,
# WAYLAND_DISPLAY and SWAYSOCK, and sets `sway_start_ms` (until sway
# answered get_outputs) and `as_sway`, the command prefix (an array) that
# runs a program as the session's user in the session.
sway_user=
as_sway=()

# bench_sway WIDTHxHEIGHT BACKGROUND [OUTPUT_LINES]: one output, HEADLESS-1;
# BACKGROUND is "#RRGGBB" or an image path readable by the session's user.
# OUTPUT_LINES, sway configuration lines "output HEADLESS-<n> ..." one per
# line, adds outputs 2, 3, ... as they say.
bench_sway() {
  local runtime=$work/sway
  mkdir -m 700 "$runtime"
  if ((EUID == 0)); then
    sway_user=tarvix-wayland-test
    id -u "$sway_user" >/dev/null 2>&1 ||
      useradd --system --no-create-home --shell /usr/sbin/nologin "$sway_user"
    chown "$sway_user" "$runtime"
    chmod 755 "$work"
  fi
  local fill=stretch
  [[ $2 == \#* ]] && fill=solid_color
  printf 'output * bg %s %s\noutput HEADLESS-1 mode %s\n%s\n' "$2" "$fill" "$1" "${3:-}" \
    >"$runtime/config"
  local outputs
  outputs=$(grep -oE '^output HEADLESS-[0-9]+' "$runtime/config" | sort -u | wc -l)
  local start=$EPOCHREALTIME
  local run=()
  [[ -n $sway_user ]] && run=(setpriv --reuid="$sway_user" --regid="$sway_user" --init-groups --)
  # setpriv ends in exec: $! is sway's pid.
  (exec env XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless WLR_RENDERER=pixman \
    WLR_HEADLESS_OUTPUTS="$outputs" \
    WLR_LIBINPUT_NO_DEVICES=1 "${run[@]}" sway -c "$runtime/config" >"$work/sway.log" 2>&1) &
  pids+=($!)
  export XDG_RUNTIME_DIR=$runtime
  local socket=
  for _ in $(seq 1000); do
    socket=$(cd "$runtime" && ls sway-ipc.*.sock 2>/dev/null || true)
    [[ -n $socket ]] && "${run[@]}" env XDG_RUNTIME_DIR="$runtime" SWAYSOCK="$runtime/$socket" \
      swaymsg -t get_outputs >/dev/null 2>&1 && break
    socket=
  done
  [[ -n $socket ]] || { echo "sway did not start" >&2; cat "$work/sway.log" >&2; exit 1; }
  sway_start_ms=$(python3 -c "print('%.0f' % (1000 * ($EPOCHREALTIME - $start)))")
  export SWAYSOCK=$runtime/$socket
  # sway picks its own socket name: read it back.
  WAYLAND_DISPLAY=$(cd "$runtime" && ls | grep -E '^wayland-[0-9]+$' | head -1)
  export WAYLAND_DISPLAY
  as_sway=("${run[@]}" env XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$WAYLAND_DISPLAY"
           SWAYSOCK="$SWAYSOCK")
}
