#!/usr/bin/env bash
# Installs what the tests need, builds with warnings as errors, and runs:
#   1. unit and integration tests (ctest),
#   2. the unit tests again under AddressSanitizer + UndefinedBehaviorSanitizer,
#   3. the libFuzzer intake target for a short, bounded time (clang),
#   4. the Debian package: built, installed, run, checked, removed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
jobs=$(nproc)

echo "== build (warnings are errors)"
scripts/build.sh ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIX_WERROR=ON -- -j"$jobs"
echo "== macOS files against the Apple SDK stand-in"
scripts/check-macos.sh
echo "== MCP SDK for the tarvix-mcp test (pinned by tests/mcp/sdk/package-lock.json)"
(cd tests/mcp/sdk && npm ci --no-audit --no-fund --ignore-scripts)
echo "== unit and integration tests"
ctest --test-dir build/ci --output-on-failure

echo "== unit tests under ASan + UBSan"
scripts/build.sh asan -DCMAKE_BUILD_TYPE=Debug -DTARVIX_WERROR=ON -DTARVIX_SANITIZE=ON \
  -- -j"$jobs" tarvix_unit_tests tarvix_macos_fake_tests
# libproc2 keeps per-thread buffers for the life of each thread (the
# daemon's threads never end, so that is bounded); tests whose threads end
# would otherwise report them.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  build/asan/tarvix_unit_tests --gtest_brief=1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build/asan/macos_fakes/tarvix_macos_fake_tests --gtest_brief=1

echo "== fuzzing the HTTP intake and the JSON layer (bounded)"
CXX=clang++ scripts/build.sh fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIX_FUZZ=ON \
  -DTARVIX_TESTS=OFF -DTARVIX_WERROR=ON -- -j"$jobs"
for fuzzer in build/fuzz/*_fuzzer; do
  corpus="build/fuzz/corpus-$(basename "$fuzzer")"
  mkdir -p "$corpus"
  echo "-- $(basename "$fuzzer")"
  "$fuzzer" -max_total_time="${TARVIX_FUZZ_SECONDS:-30}" -timeout=10 -rss_limit_mb=2048 \
    "$corpus" fuzz/seeds 2>&1 | tail -n 1
done
scripts/test-package.sh
echo "all test stages passed"
