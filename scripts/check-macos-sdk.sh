#!/usr/bin/env bash
# Checks the Apple SDK stand-in against a real macOS SDK:
#   scripts/check-macos-sdk.sh SDK_ROOT
# SDK_ROOT is laid out as usr/include and System/Library/Frameworks (an
# Xcode SDK, or a public copy of its headers). tests/macos_sdk/probe.mm
# turns each declaration of the stand-in into symbol names that encode its
# type or value; both compilations must give the same names. Not part of
# CI, which has no SDK.
set -euo pipefail
cd "$(dirname "$0")/.."
sdk_root=${1:?usage: scripts/check-macos-sdk.sh SDK_ROOT}
sdk=tests/macos_sdk
gcc_major=$(gcc -dumpversion | cut -d. -f1)
multiarch=$(gcc -dumpmachine)
common=(-target x86_64-apple-macos12 -std=c++20 -S -o - -x objective-c++ "$sdk/probe.mm")

symbols() { grep -o '__Z[0-9A-Za-z_]*' | sort -u; }

# libc++'s headers ahead of the C headers they wrap (#include_next), as
# Apple's clang orders them.
real=$(clang++ "${common[@]}" -isysroot "$sdk_root" -nostdinc++ \
  -isystem "$sdk_root/usr/include/c++/v1" -isystem "$sdk_root/usr/include" | symbols)
standin=$(clang++ "${common[@]}" -nostdinc -nostdinc++ -include "$sdk/darwin_prelude.h" \
  -iframework "$sdk/Frameworks" -isystem "$sdk/include" \
  -isystem "/usr/include/c++/$gcc_major" -isystem "/usr/include/$multiarch/c++/$gcc_major" \
  -isystem "$(clang++ -print-resource-dir)/include" \
  -isystem "/usr/include/$multiarch" -isystem /usr/include -U__nonnull -D_GNU_SOURCE | symbols)

if [[ $real != "$standin" ]]; then
  echo "the stand-in differs from the SDK (< SDK, > stand-in):" >&2
  diff <(echo "$real") <(echo "$standin") >&2 || true
  exit 1
fi
echo "stand-in matches the SDK: $(wc -l <<<"$real") declarations, values and layouts"
