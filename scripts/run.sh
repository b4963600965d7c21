#!/usr/bin/env bash
# Installs what the daemon needs, builds it and starts it in the foreground.
# Arguments are passed to tarvix-agentd, e.g.:  scripts/run.sh --allow-exec
# Without --token and without TARVIX_AGENTD_TOKEN a random token is made,
# handed to the daemon through the environment and printed with a curl line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
scripts/build.sh release -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF -- tarvix-agentd >&2

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
exec build/release/tarvix-agentd "$@"
