#!/usr/bin/env bash
# Installs every Debian 12 package the daemon needs to build, run, test and
# benchmark. Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git curl ca-certificates
  libboost1.81-dev nlohmann-json3-dev libicu-dev libssl-dev libproc2-dev
  libxau-dev libxcb1-dev libxcb-shm0-dev libxcb-xtest0-dev libxcb-randr0-dev libxcb-res0-dev
  libxcb-xkb-dev libxcb-xfixes0-dev libxkbcommon-dev libxkbcommon-x11-dev libdeflate-dev
  zlib1g-dev libpixman-1-dev libturbojpeg0-dev libsystemd-dev
  libxcb-damage0-dev
  # Wayland sessions of wlroots compositors: the client library and
  # wayland-scanner, xdg-output's protocol file.
  libwayland-dev wayland-protocols
)
if [[ "${1:-}" == "--test" ]]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev procps)
  # A private X session for the desktop tests: server, window manager, a
  # GTK window that reports what it receives, and independent oracles.
  packages+=(xvfb openbox python3-gi python3-gi-cairo gir1.2-gtk-3.0 x11-utils x11-apps xdotool)
  # The other party of the clipboard tests.
  packages+=(xclip)
  # The keyboard map as xmodmap prints it, before and after the chord tests.
  packages+=(x11-xserver-utils)
  # Decodes the screenshots the tests take (called as /usr/bin/convert: a
  # stand-in of another name may come first on PATH).
  packages+=(imagemagick)
  # The package checks: the unit (systemd-analyze), the manual page (groff),
  # the launchd agent (python3's plistlib). dpkg-dev comes with build-essential.
  packages+=(systemd groff-base python3)
  # A private accessibility session: session bus, AT-SPI bus launcher and
  # registry, GTK's widget factory as a large real tree, pyatspi as the
  # independent node-by-node walk.
  packages+=(dbus-daemon dbus-bin at-spi2-core gtk-3-examples python3-pyatspi gir1.2-atspi-2.0)
  # Real applications nobody here wrote: a GTK 3 editor, a GTK 4 calculator,
  # GTK dialogs.
  packages+=(mousepad gnome-calculator zenity)
  # tarvix-mcp's test drives it with the official MCP SDK (npm); Debian's
  # Node.js only where no node is installed already.
  command -v node >/dev/null || packages+=(nodejs npm)
  # A headless sway session for the Wayland tests (swaybg draws the
  # backgrounds), grim as the independent screen capture, wl-clipboard as
  # the other party of the clipboard tests on it, XWayland for X
  # applications under sway.
  packages+=(sway swaybg grim wl-clipboard xwayland)
  # cage: a wlroots compositor other than sway, with no IPC.
  packages+=(cage)
fi
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(libbenchmark-dev wrk nginx-light procps)
  packages+=(xvfb openbox python3-gi python3-gi-cairo gir1.2-gtk-3.0 scrot imagemagick wmctrl xdotool)
  packages+=(xclip)
  # ui_tree against a pyatspi dump of the same applications.
  packages+=(dbus-daemon dbus-bin at-spi2-core gtk-3-examples python3-pyatspi gir1.2-atspi-2.0)
  # Real applications nobody here wrote: a GTK 3 editor, a GTK 4 calculator,
  # GTK dialogs.
  packages+=(mousepad gnome-calculator zenity)
  # Screenshots on headless sway against grim; typing against wtype and into
  # an X client through XWayland; the clipboard against wl-paste.
  packages+=(sway swaybg grim wtype wl-clipboard xwayland)
fi
if [[ "${1:-}" == "--macos-link" ]]; then
  # scripts/check-macos-link.sh: clang and lld's Mach-O linker, llvm's
  # Mach-O tools, and libc++'s headers for an SDK copy that lacks them.
  packages+=(clang-14 lld-14 llvm-14 libc++-14-dev)
fi

# One dpkg query for all of them: this runs on every start of scripts/run.sh.
declare -A installed=()
while read -r name status; do
  [[ $status == ii* ]] && installed[$name]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
  [[ -n ${installed[$p]:-} ]] || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >&2
  apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi
