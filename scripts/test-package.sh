#!/usr/bin/env bash
# Builds the Debian package and checks it the way a user meets it:
#   - file name, dependencies (computed, none of them a -dev package), contents;
#   - installs it with dpkg -i (as root; otherwise, or with
#     TARVIX_PACKAGE_EXTRACT=1, unpacks it with dpkg -x into a temporary
#     directory), starts the installed binary with the token and options of an
#     env file as the user unit does, and pings it over HTTP;
#   - systemd-analyze --user verify on the unit, groff -ww on the manual
#     pages, plistlib on the launchd agent;
#   - removes what it installed.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
scripts/install-deps.sh --test

echo "== package: build"
rm -f build/package/tarvix-agentd_*.deb
scripts/build.sh package -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -- -j"$(nproc)"
(cd build/package && cpack -G DEB >cpack.log 2>&1) || { cat build/package/cpack.log; exit 1; }
debs=(build/package/tarvix-agentd_*.deb)
deb=${debs[0]}

fail() { echo "package test FAILED: $*" >&2; exit 1; }

work=$(mktemp -d)
daemon_pid=
installed_here=
cleanup() {
  if [[ -n $daemon_pid ]]; then kill "$daemon_pid" 2>/dev/null || true; wait "$daemon_pid" 2>/dev/null || true; fi
  if [[ -n $installed_here ]]; then dpkg -r tarvix-agentd >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
version=$(dpkg-deb -f "$deb" Version)
[[ $(basename "$deb") == "tarvix-agentd_${version}_$(dpkg --print-architecture).deb" ]] ||
  fail "unexpected file name $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ -n $depends ]] || fail "the package declares no dependencies"
dev=$(tr ',|' '\n' <<<"$depends" | awk '{print $1}' | grep -- '-dev$' || true)
[[ -z $dev ]] || fail "build-only packages among the dependencies: $dev"
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/tarvix-agentd ./usr/bin/tarvix-mcp ./usr/share/man/man1/tarvix-mcp.1.gz \
  ./usr/lib/systemd/user/tarvix-agentd.service \
  ./usr/share/man/man1/tarvix-agentd.1.gz ./usr/share/doc/tarvix-agentd/copyright \
  ./usr/share/doc/tarvix-agentd/LICENSE ./usr/share/doc/tarvix-agentd/README.md; do
  grep -qxF -- "$path" <<<"$contents" || fail "$path missing from the package"
done
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/tarvix-agentd/copyright |
  grep -q '^License: Expat' || fail "the copyright file names no licence"

if [[ $(id -u) == 0 && -z ${TARVIX_PACKAGE_EXTRACT:-} ]] &&
  ! dpkg-query -W -f='${db:Status-Abbrev}' tarvix-agentd 2>/dev/null | grep -q '^ii'; then
  echo "== package: dpkg -i"
  installed_here=1
  dpkg -i "$deb" >/dev/null
  root=
else
  # Not root, or a copy the machine's owner installed: leave it alone.
  echo "== package: dpkg -x (not installing here)"
  dpkg -x "$deb" "$work/root"
  root=$work/root
fi
binary=$root/usr/bin/tarvix-agentd
unit=$root/usr/lib/systemd/user/tarvix-agentd.service
[[ -x $binary ]] || fail "$binary is not executable"

echo "== package: the installed daemon answers with the env file's token"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
token=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
cat >"$work/env" <<EOF
TARVIX_AGENTD_TOKEN=$token
TARVIX_AGENTD_OPTIONS="--port $port --audit $work/audit.jsonl"
EOF
# As the unit does: the variables from the file (quoted values read the same
# way in systemd and the shell), the options split at spaces.
(
  set -a
  # shellcheck disable=SC1091
  . "$work/env"
  set +a
  # shellcheck disable=SC2086
  exec env HOME="$work" XDG_STATE_HOME="$work/state" "$binary" $TARVIX_AGENTD_OPTIONS
) 2>"$work/stderr" &
daemon_pid=$!
for _ in $(seq 100); do
  grep -q 'listening' "$work/stderr" && break
  kill -0 "$daemon_pid" 2>/dev/null || fail "the daemon exited: $(cat "$work/stderr")"
  sleep 0.05
done
grep -qF "tarvix-agentd listening on http://127.0.0.1:$port  (mode: read-only, audit: $work/audit.jsonl)" \
  "$work/stderr" || fail "unexpected start-up output: $(cat "$work/stderr")"
reply=$(curl -sS --max-time 5 -H "Authorization: Bearer $token" -d '{"method":"ping"}' \
  "http://127.0.0.1:$port/rpc")
expected='{"ok":true,"result":{"agent":"tarvix-agentd","mutating":false,"ok":true,"version":"'$version'"}}'
[[ $reply == "$expected" ]] || fail "ping answered: $reply"
status=$(curl -s --max-time 5 -o /dev/null -w '%{http_code}' -H "Authorization: Bearer x$token" \
  -d '{"method":"ping"}' "http://127.0.0.1:$port/rpc")
[[ $status == 401 ]] || fail "a wrong token got status $status"
grep -q '"method":"ping","ok":true' "$work/audit.jsonl" || fail "the ping is not in the audit log"
kill "$daemon_pid"; wait "$daemon_pid" 2>/dev/null || true; daemon_pid=

echo "== package: systemd-analyze --user verify"
if [[ -n $root ]]; then
  # The unpacked unit names /usr/bin; point it at the unpacked binary.
  sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$work/tarvix-agentd.service"
else
  cp "$unit" "$work/tarvix-agentd.service"
fi
mkdir -p "$work/runtime" "$work/broken"
# The manual page is checked below. Prints complaints about our unit (rc stays 0 for unknown keys, so the
# output is what counts); the broken copy shows the check can see them.
verify() {
  XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work/runtime} systemd-analyze --user verify --man=no "$1" 2>&1 ||
    true
}
sed 's/^NoNewPrivileges=/NoNewPrivilege=/' "$work/tarvix-agentd.service" \
  >"$work/broken/tarvix-agentd.service"
if ! command -v systemd-analyze >/dev/null; then
  echo "SKIPPED: systemd-analyze is not installed"
elif broken=$(verify "$work/broken/tarvix-agentd.service") && [[ $broken == *"Failed to initialize manager"* ]]; then
  echo "SKIPPED: systemd-analyze cannot start a user manager here: $broken"
else
  grep -q "Unknown key 'NoNewPrivilege'" <<<"$broken" || fail "systemd-analyze missed a broken setting: $broken"
  complaints=$(verify "$work/tarvix-agentd.service")
  ! grep -q 'tarvix-agentd' <<<"$complaints" || fail "systemd-analyze: $complaints"
  [[ -z $complaints ]] || echo "notes about other units: $complaints"
  echo "unit verified"
fi

echo "== package: manual pages (groff -ww)"
for page in man/*.1; do
  warnings=$(groff -ww -man -Tutf8 "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "groff warns about $page: $warnings"
  if command -v man >/dev/null; then
    name=$(basename "$page")
    if [[ -z $root ]] && ! man -w "${name%.1}" | grep -qxF "/usr/share/man/man1/$name.gz"; then
      fail "man does not find the installed $name"
    fi
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man warns about $page: $warnings"
  fi
done

echo "== package: launchd agent"
python3 - build/package/tarvix-agentd.plist <<'EOF'
import plistlib, sys
p = plistlib.load(open(sys.argv[1], "rb"))
assert p["ProgramArguments"][0] == "/usr/bin/tarvix-agentd", p["ProgramArguments"]
assert p["RunAtLoad"] is True
assert p["KeepAlive"] == {"SuccessfulExit": False}, p["KeepAlive"]
assert "TARVIX_AGENTD_TOKEN" in p["EnvironmentVariables"]
assert "--allow-exec" not in p["ProgramArguments"]
EOF

if [[ -n $installed_here ]]; then
  echo "== package: dpkg -r"
  dpkg -r tarvix-agentd >/dev/null
  installed_here=
  [[ ! -e /usr/bin/tarvix-agentd && ! -e /usr/lib/systemd/user/tarvix-agentd.service ]] ||
    fail "dpkg -r left files behind"
fi
echo "package checks passed in $((SECONDS - started)) s"
