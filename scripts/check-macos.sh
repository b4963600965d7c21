#!/usr/bin/env bash
# Compiles every macOS file (syntax only) for x86_64-apple-macos12 against
# the declarations-only stand-in of the Apple SDK in tests/macos_sdk, so a
# call that would not compile on a Mac fails here. The C and C++ standard
# libraries come from the host; a macOS file may include, besides C++
# standard headers and the project's own, only headers the stand-in holds
# or the POSIX headers below, which Darwin has with the same interface.
set -euo pipefail
cd "$(dirname "$0")/.."
sdk=tests/macos_sdk
shared_posix=(errno.h poll.h signal.h spawn.h stddef.h stdint.h stdlib.h string.h
  sys/resource.h sys/socket.h sys/time.h sys/types.h sys/wait.h time.h)

gcc_major=$(gcc -dumpversion | cut -d. -f1)
multiarch=$(gcc -dumpmachine)
flags=(-target x86_64-apple-macos12 -std=c++20 -fsyntax-only -Wall -Wextra -Werror
  -nostdinc -nostdinc++
  -include "$sdk/darwin_prelude.h" -iframework "$sdk/Frameworks" -isystem "$sdk/include"
  -isystem "/usr/include/c++/$gcc_major" -isystem "/usr/include/$multiarch/c++/$gcc_major"
  -isystem "$(clang++ -print-resource-dir)/include"
  -isystem "/usr/include/$multiarch" -isystem /usr/include
  # The host's C library under an Apple target: clang makes __nonnull a
  # nullability keyword there, and glibc shows its full API only this way.
  -U__nonnull -D_GNU_SOURCE
  -Isrc)

# The system headers `file` includes, and the project headers it reaches.
failed=0
check_includes() {
  local file=$1 header
  while read -r header; do
    case $header in
      */*.h|*.h) ;;
      *) continue ;;  # C++ standard library
    esac
    if [[ -f $sdk/include/$header || -f $sdk/Frameworks/${header%%/*}.framework/Headers/${header#*/} ]]; then
      continue
    fi
    [[ " ${shared_posix[*]} " == *" $header "* ]] && continue
    echo "$file: <$header> is neither in the macOS stand-in nor a shared POSIX header" >&2
    failed=1
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*\(include\|import\)[[:space:]]*<\([^>]*\)>.*/\2/p' "$file")
  while read -r header; do
    [[ -f src/$header ]] && check_includes "src/$header"
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
}

files=(src/platform/macos/*.cpp src/platform/macos/*.mm src/platform/*.cpp)
for file in "${files[@]}"; do
  check_includes "$file"
  language=c++
  [[ $file == *.mm ]] && language=objective-c++
  if ! clang++ "${flags[@]}" -x "$language" "$file"; then
    echo "$file: does not compile for macOS" >&2
    failed=1
  fi
done
((failed == 0)) && echo "macOS files: ${#files[@]} compiled against the stand-in"
exit "$failed"
