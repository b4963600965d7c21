#!/usr/bin/env bash
# Prints the share of the macOS adapters' lines (src/platform/macos) that
# the fakes' tests execute: tests/macos_fakes built with clang's source
# coverage into build/macos-coverage, run once, counted by llvm-cov. The
# Objective-C++ files are not built there, so they are not counted.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/macos-coverage
CXX=clang++ cmake -S tests/macos_fakes -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DTARVIX_COVERAGE=ON >/dev/null
ninja -C "$out" >/dev/null
rm -f "$out"/*.profraw
LLVM_PROFILE_FILE="$PWD/$out/fakes-%p.profraw" "$out/tarvix_macos_fake_tests" --gtest_brief=1 \
  >/dev/null
llvm-profdata merge -sparse "$out"/fakes-*.profraw -o "$out/fakes.profdata"
# Columns of llvm-cov's report: file, regions (3), functions (3), lines
# (total, missed, cover), branches.
llvm-cov report "$out/tarvix_macos_fake_tests" -instr-profile="$out/fakes.profdata" |
  awk '$1 ~ /src\/platform\/macos\// {
         sub(/.*src\/platform\/macos\//, "", $1)
         printf "%-32s %5d lines %5d run  %s\n", $1, $8, $8 - $9, $10
         lines += $8; missed += $9
       }
       END { printf "macOS adapters: %d of %d lines executed (%.1f %%)\n",
             lines - missed, lines, 100 * (lines - missed) / lines }'
