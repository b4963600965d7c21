#!/usr/bin/env bash
# Installs what the daemon needs, builds it and starts it in the foreground.
# Arguments are passed to tarvix-agentd, e.g.:  scripts/run.sh --allow-exec
# Without --token and without TARVIX_AGENTD_TOKEN a random token is made,
# handed to the daemon through the environment and printed with a curl line.
#
# Only missing packages are installed and only what changed is rebuilt, so a
# second start is quick. The daemon runs in the caller's working directory:
# relative paths in calls (and a relative --audit) resolve there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
"$root/scripts/install-deps.sh" >&2
if [[ -f $build/build.ninja ]]; then
  # ninja re-runs cmake by itself when a CMakeLists.txt changed.
  ninja -C "$build" --quiet tarvix-agentd | grep -v '^ninja: no work to do\.$' >&2 || true
  [[ -x $build/tarvix-agentd ]] || { echo "run.sh: build failed" >&2; exit 1; }
else
  "$root/scripts/build.sh" release -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF \
    -- tarvix-agentd >&2
fi

port=8765
has_token=0
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    --token) has_token=1; ((i++)) || true ;;
    --port) port="${args[i + 1]:-$port}"; ((i++)) || true ;;
    --audit | --parent-pid) ((i++)) || true ;;
  esac
done
if ((!has_token)) && [[ -z "${TARVIX_AGENTD_TOKEN+set}" ]]; then
  TARVIX_AGENTD_TOKEN=$(od -An -tx1 -N24 /dev/urandom | tr -d ' \n')
  export TARVIX_AGENTD_TOKEN
  cat >&2 <<MSG
tarvix-agentd token (generated for this run): $TARVIX_AGENTD_TOKEN
try it:
  curl -s -H 'Authorization: Bearer $TARVIX_AGENTD_TOKEN' -d '{"method":"ping"}' http://127.0.0.1:$port/rpc
MSG
fi
if ((EUID == 0)); then
  echo "tarvix-agentd: running as root: the controlling program gets root's powers over this machine" >&2
fi
exec "$build/tarvix-agentd" "$@"
