#!/usr/bin/env bash
# Configures and builds one flavour of the tree into build/<name>.
#   scripts/build.sh <name> [cmake options...] -- [ninja targets...]
set -euo pipefail
cd "$(dirname "$0")/.."
name=$1; shift
cmake_args=(); targets=()
while (($#)); do
  if [[ $1 == -- ]]; then shift; targets=("$@"); break; fi
  cmake_args+=("$1"); shift
done
cmake -S . -B "build/$name" -G Ninja "${cmake_args[@]}" >/dev/null
ninja -C "build/$name" "${targets[@]}"
