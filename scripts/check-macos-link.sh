#!/usr/bin/env bash
# Cross-compiles the daemon and tarvix-mcp for macOS and links them with
# lld's Mach-O linker against a macOS SDK's .tbd stubs:
#   scripts/check-macos-link.sh SDK_ROOT [ARCH...]
# ARCH defaults to x86_64 and arm64 (each for macOS 12). Output and objects
# go to build/macos-link/ARCH; JOBS (default 2) compiles run at once.
#
# SDK_ROOT is either a full SDK (Xcode's MacOSX.sdk: usr/include,
# usr/include/c++/v1, usr/lib/libSystem.B.tbd and libc++.tbd,
# System/Library/Frameworks) or a frameworks-only copy of its public parts
# laid out as the hexops/xcode-frameworks mirror (Frameworks/, include/,
# lib/libobjc.tbd, no libSystem or libc++ stubs).
#
# What it does, as CMake and Apple's toolchain would on a Mac:
# - compiles every source of both targets (the core library's portable
#   folders, src/platform/macos, src/mcp and the two mains) with clang for
#   <arch>-apple-macos12, -O2, warnings as errors, the SDK's C headers and
#   frameworks, the SDK's libc++ headers;
# - links every object (not an archive: an object no main reaches is still
#   checked) with ld64.lld against the frameworks the build names
#   (ApplicationServices, Carbon, AppKit, CoreFoundation) and, with
#   a full SDK, exactly libc++ and libSystem (libobjc comes re-exported by
#   CoreFoundation, as on a Mac);
# - lists every symbol left undefined, by the library that resolves it, and
#   fails on any symbol none of the rules below accounts for;
# - prints the Mach-O load commands: the dylibs linked and the minimum OS.
#
# ICU and OpenSSL are not part of macOS (the build takes Homebrew's); here
# their headers come from Debian's /usr/include, their symbols stay
# undefined and must be exactly the sets listed below (by name, without
# ICU's version suffix): a new call into either library updates the list,
# any other undefined symbol fails. Boost and nlohmann_json are header-only
# and also come from /usr/include. OpenSSL's configuration header is the
# host's (x86_64); on 64-bit little-endian targets it says the same.
#
# How this differs from Apple's toolchain: clang 14 and lld 14 from Debian
# instead of Apple clang and ld64; the objects link directly instead of
# through libtarvix_core.a; without the SDK's libc++ headers (an SDK root
# lacking include/c++/v1) Debian's libc++ 14 headers (libc++-14-dev) stand
# in, installed here if missing, while the link still names the SDK's
# libc++.
#
# With the frameworks-only mirror the C library's and the C++ runtime's
# symbols cannot be resolved (no libSystem.tbd, no libc++.tbd): they stay
# undefined and are accepted by rule, not by a stub:
# - C++ runtime: names that demangle into namespace std (libc++ and
#   libc++abi) but mention none of the project's own types, operator
#   new/delete, the type_info of fundamental types (__ZTIv), and the
#   unmangled ___cxa_*, ___gxx_*, __Unwind_* entries;
# - C library: names declared in the SDK's include/ headers (a heuristic:
#   the name, less Darwin's $-suffix, appears there as an identifier
#   followed by "(", ";" or "["), plus the few entries compilers and
#   linkers call on their own (stack protector, ___chkstk_darwin, ___bzero
#   for zeroed memory, dyld_stub_binder).
# So the mirror cannot check that libc++'s dylib exports a template
# instantiation the headers declare extern, nor that a C function declared
# in the headers is exported for the target OS. Every framework symbol, in
# both cases, must be resolved by its framework's .tbd: a missing
# framework or a symbol the SDK does not export fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:?usage: scripts/check-macos-link.sh SDK_ROOT [ARCH...]}
root=$(cd "$root" && pwd)
shift
archs=("$@")
((${#archs[@]})) || archs=(x86_64 arm64)
min_os=12.0
jobs=${JOBS:-2}
frameworks=(ApplicationServices Carbon AppKit CoreFoundation)
project_namespace=tarvix

# Symbols of the two libraries the macOS build takes from Homebrew.
openssl_symbols=(CRYPTO_memcmp EVP_EncodeBlock)
icu_symbols=('icu::CaseMap::utf8ToLower(char const*, unsigned int, icu::StringPiece, icu::ByteSink&, icu::Edits*, UErrorCode&)'
  'icu::UMemory::operator delete(void*)'
  'icu::ByteSink::~ByteSink()'
  'icu::ByteSink::GetAppendBuffer(int, int, char*, int, int*)'
  'icu::ByteSink::Flush()'
  'typeinfo for icu::ByteSink')

for tool in clang++-14 ld64.lld-14 llvm-nm-14 llvm-cxxfilt-14 llvm-objdump-14; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (clang-14, lld-14, llvm-14)" >&2; exit 2; }
done

# The SDK's layout.
if [[ -d $root/System/Library/Frameworks ]]; then
  framework_dir=$root/System/Library/Frameworks c_include=$root/usr/include lib_dir=$root/usr/lib
else
  framework_dir=$root/Frameworks c_include=$root/include lib_dir=$root/lib
fi
[[ -d $framework_dir/CoreFoundation.framework && -d $c_include ]] ||
  { echo "$root: neither an SDK nor a frameworks mirror" >&2; exit 2; }
full_sdk=0
[[ -f $lib_dir/libSystem.B.tbd || -f $lib_dir/libSystem.tbd ]] && [[ -f $lib_dir/libc++.tbd ]] && full_sdk=1
if [[ -f $root/SDKSettings.json ]]; then
  sdk_version=$(sed -n 's/.*"Version"[[:space:]]*:[[:space:]]*"\([0-9.]*\)".*/\1/p' "$root/SDKSettings.json" | head -1)
else
  sdk_version=$(sed -n 's/^#define __MAC_\([0-9]*\)_\([0-9]*\) .*/\1.\2/p' "$c_include/AvailabilityVersions.h" |
    sort -t. -k1,1n -k2,2n | tail -1)
fi

work=build/macos-link
mkdir -p "$work"
work=$(cd "$work" && pwd)

# The C++ standard library's headers.
cxx_include=$c_include/c++/v1
if [[ ! -d $cxx_include ]]; then
  cxx_include=/usr/lib/llvm-14/include/c++/v1
  if [[ ! -d $cxx_include ]]; then
    echo "the SDK has no libc++ headers: installing Debian's (libc++-14-dev)" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends libc++-14-dev >&2 ||
      { apt-get update -q >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends libc++-14-dev >&2; }
  fi
fi

# Homebrew's stand-in: only the header-only libraries and the headers of
# ICU and OpenSSL, not the rest of the host's /usr/include.
deps=$work/include
rm -rf "$deps" && mkdir -p "$deps/openssl"
for dir in boost nlohmann unicode; do ln -s "/usr/include/$dir" "$deps/$dir"; done
ln -s /usr/include/openssl/*.h "$deps/openssl/"
ln -sf "/usr/include/$(gcc -dumpmachine)"/openssl/*.h "$deps/openssl/"

# The linker finds a library that a .tbd re-exports by its install name
# under the system root. A full SDK is laid out that way; for the mirror a
# root of links is made from each stub's install names.
if ((full_sdk)); then
  sysroot=$root
else
  sysroot=$work/sysroot
  rm -rf "$sysroot"
  while IFS= read -r tbd; do
    while read -r name; do
      mkdir -p "$sysroot$(dirname "$name")"
      ln -sfn "$tbd" "$sysroot$name.tbd"
    done < <(sed -n "s/^install-name:[[:space:]]*'\{0,1\}\([^']*\)'\{0,1\}[[:space:]]*$/\1/p" "$tbd")
  done < <(find "$framework_dir" "$lib_dir" -name '*.tbd')
  for fw in "$framework_dir"/*.framework; do
    name=$(basename "$fw" .framework)
    [[ -f $fw/$name.tbd ]] || continue
    mkdir -p "$sysroot/System/Library/Frameworks/$name.framework"
    ln -sfn "$fw/$name.tbd" "$sysroot/System/Library/Frameworks/$name.framework/$name.tbd"
  done
  mkdir -p "$sysroot/usr/lib"
  for tbd in "$lib_dir"/*.tbd; do ln -sfn "$tbd" "$sysroot/usr/lib/$(basename "$tbd")"; done
fi

version=$(sed -n 's/^project(tarvix_agentd VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
core_sources=(src/base/*.cpp src/json/*.cpp src/daemon/*.cpp src/rpc/*.cpp
  src/tools/host/*.cpp src/tools/desktop/*.cpp src/platform/*.cpp src/platform/posix/*.cpp
  src/platform/macos/*.cpp src/platform/macos/*.mm)
mcp_sources=(src/mcp/*.cpp)

compiler=(clang++-14)
command -v ccache >/dev/null && compiler=(ccache clang++-14)

# The C library's declared names, for the mirror's C library rule.
declared_c_names() {
  grep -rhoE --include='*.h' --exclude-dir=c++ '[A-Za-z_][A-Za-z0-9_]*[[:space:]]*[(;[]' "$c_include" |
    sed 's/[[:space:]]*[(;[]$//' | sort -u
}

failed=0
for arch in "${archs[@]}"; do
  out=$work/$arch
  mkdir -p "$out"
  flags=(-target "$arch-apple-macos$min_os" -std=c++20 -O2 -DNDEBUG -Wall -Wextra -Werror
    -nostdinc++ -isysroot "$root" -isystem "$deps" -isystem "$cxx_include" -isystem "$c_include"
    -iframework "$framework_dir" -DBOOST_ASIO_NO_DEPRECATED -Isrc)

  # One object per source, JOBS at a time; a failure stops nothing, so
  # every file that does not compile is listed.
  objects=()
  for src in "${core_sources[@]}" "${mcp_sources[@]}" src/main.cpp src/mcp_main.cpp; do
    objects+=("$out/obj/${src%.*}.o")
  done
  export compile_flags="${flags[*]@Q}" compiler_cmd="${compiler[*]}" version out
  printf '%s\n' "${core_sources[@]}" "${mcp_sources[@]}" src/main.cpp src/mcp_main.cpp |
    xargs -P "$jobs" -I{} bash -c '
      src={}; obj=$out/obj/${src%.*}.o; mkdir -p "$(dirname "$obj")"
      eval "flags=($compile_flags)"
      extra=(); [[ $src == src/mcp_main.cpp ]] && extra=("-DTARVIX_VERSION=\"$version\"")
      $compiler_cmd "${flags[@]}" "${extra[@]}" -c "$src" -o "$obj" ||
        { echo "$src: does not compile for macOS ('"$arch"')" >&2; exit 1; }' ||
    { echo "$arch: compile failed" >&2; failed=1; continue; }

  core_objects=() mcp_objects=()
  for src in "${core_sources[@]}"; do core_objects+=("$out/obj/${src%.*}.o"); done
  for src in "${mcp_sources[@]}"; do mcp_objects+=("$out/obj/${src%.*}.o"); done
  link=(ld64.lld-14 -arch "$arch" -platform_version macos "$min_os" "$sdk_version"
    -syslibroot "$sysroot" -undefined dynamic_lookup)
  for fw in "${frameworks[@]}"; do link+=(-framework "$fw"); done
  ((full_sdk)) && link+=(-lc++ -lSystem)
  "${link[@]}" -o "$out/tarvix-agentd" "$out/obj/src/main.o" "${core_objects[@]}" ||
    { echo "$arch: tarvix-agentd does not link" >&2; failed=1; continue; }
  "${link[@]}" -o "$out/tarvix-mcp" "$out/obj/src/mcp_main.o" "${mcp_objects[@]}" "${core_objects[@]}" ||
    { echo "$arch: tarvix-mcp does not link" >&2; failed=1; continue; }

  ((full_sdk)) || c_names=$(declared_c_names)
  for binary in tarvix-agentd tarvix-mcp; do
    echo "== $arch $binary"
    llvm-objdump-14 --macho --private-headers "$out/$binary" |
      awk '/cmd LC_(LOAD|LOAD_WEAK|REEXPORT)_DYLIB$/ {dylib = 1; next}
           /cmd LC_BUILD_VERSION$/ {build = 1; next}
           /^Load command/ {dylib = build = 0}
           dylib && $1 == "name" {print "  links " $2}
           build && ($1 == "platform" || $1 == "minos" || $1 == "sdk") {print "  " $1 " " $2}'

    # Each undefined symbol: resolved by a library, or looked up at run
    # time and then accounted for by one of the rules above.
    declare -A by_library=()
    unresolved=()
    while IFS= read -r line; do
      symbol=$(sed 's/.* external \([^ ]*\).*/\1/' <<<"$line")
      if [[ $line =~ \(from\ ([^\)]*)\) ]]; then
        by_library[${BASH_REMATCH[1]}]+="$symbol "
      else
        unresolved+=("$symbol")
      fi
    done < <(llvm-nm-14 -m -u "$out/$binary")
    for library in "${!by_library[@]}"; do
      echo "resolved by $library: $(wc -w <<<"${by_library[$library]}") symbols"
    done | sort

    openssl=() icu=() cxx=() libc=() other=()
    for symbol in "${unresolved[@]}"; do
      plain=${symbol#_}
      demangled=$(llvm-cxxfilt-14 -n "$plain")
      if [[ $plain =~ ^(CRYPTO|EVP|ERR|RAND|OPENSSL|BIO|OSSL)_ ]]; then
        openssl+=("$plain")
      elif [[ $plain =~ ^(u|ucol|ucasemap|ubrk|uloc|ustr|utf8)_.*_[0-9]+$ || $demangled =~ icu_[0-9]+:: ]]; then
        icu+=("$(sed -E 's/icu_[0-9]+::/icu::/g; s/_[0-9]+$//' <<<"$demangled")")
      elif ((!full_sdk)) && [[ $demangled != *"$project_namespace::"* ]] &&
        [[ $demangled =~ ^((vtable|typeinfo|typeinfo\ name|VTT)\ for\ )?(std|__cxxabiv1):: ||
           $demangled =~ ^operator\ (new|delete) || $plain =~ ^(__cxa_|__gxx_|_Unwind_) ||
           $plain =~ ^_ZT[IS](P|PK)?[a-z]$ ]]; then
        cxx+=("$plain")
      elif ((!full_sdk)) && { [[ $plain =~ ^(__stack_chk_fail|__stack_chk_guard|__chkstk_darwin|__bzero|dyld_stub_binder)$ ]] ||
        grep -qxF -- "${plain%%\$*}" <<<"$c_names"; }; then
        libc+=("$plain")
      else
        other+=("$plain")
      fi
    done
    echo "looked up at run time: ${#openssl[@]} OpenSSL, ${#icu[@]} ICU, ${#cxx[@]} C++ runtime, ${#libc[@]} C library"
    ((${#openssl[@]})) && printf '  OpenSSL %s\n' "${openssl[@]}"
    ((${#icu[@]})) && printf '  ICU %s\n' "${icu[@]}"
    ((${#libc[@]})) && echo "  C library: ${libc[*]}"

    # ICU and OpenSSL: exactly the listed calls (tarvix-mcp shares the core).
    if [[ $(printf '%s\n' "${openssl[@]}" | sort -u) != "$(printf '%s\n' "${openssl_symbols[@]}" | sort -u)" ]]; then
      echo "$arch $binary: OpenSSL symbols differ from the list in this script" >&2
      failed=1
    fi
    if [[ $(printf '%s\n' "${icu[@]}" | sort -u) != "$(printf '%s\n' "${icu_symbols[@]}" | sort -u)" ]]; then
      echo "$arch $binary: ICU symbols differ from the list in this script" >&2
      failed=1
    fi
    if ((${#other[@]})); then
      echo "$arch $binary: undefined symbols no library resolves:" >&2
      for symbol in "${other[@]}"; do echo "  $symbol ($(llvm-cxxfilt-14 -n "$symbol"))" >&2; done
      failed=1
    fi
    unset by_library
  done
done
((failed == 0)) && echo "macOS link: ${archs[*]} linked against $( ((full_sdk)) && echo "the full SDK" || echo "the frameworks mirror") $sdk_version"
exit "$failed"
