#!/usr/bin/env bash
# Cross-compiles and links the module for macOS 11 and later, on arm64 and
# x86_64, with zig's clang and libc++, and reports what each library exports.
# No wheel is made: nothing built here can run here.
#
#   scripts/macos_cross.sh [SOURCE] [OUT]
#
# SOURCE is the source tree to build (default this checkout); OUT receives
# morvane_core-TARGET.abi3.so for each target (default build/macos). Each
# target gets libcrypto built with zig from Debian's OpenSSL sources
# (scripts/zig_libcrypto.sh, cached) and zlib-ng from its pinned sources, both
# with hidden visibility. The interpreter's headers are the Include/ folder of
# Debian's CPython 3.11 source package with the pyconfig.h of scripts/macos/,
# which the limited API needs alone (a build on a Mac uses the interpreter's
# own). The module links as macOS extension modules do, leaving the
# interpreter's symbols to be found when it is loaded (-undefined
# dynamic_lookup, which FindPython adds for a module on Apple's systems).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
src=$(realpath "${1:-.}")
out=$(realpath -m "${2:-build/macos}")
targets=(aarch64-macos.11.0 x86_64-macos.11.0)

tools=$(scripts/release_tools.sh)
export PATH="$tools/bin:$PATH"
zig=$tools/zig
zlib_ng=$(scripts/fetch_zlib_ng.sh "$root/build/deps")
python_src=$(scripts/debian_source.sh python3.11)

mkdir -p "$out"
for target in "${targets[@]}"; do
  echo "== $target"
  crypto=$(scripts/zig_libcrypto.sh "$zig" "$target")
  work=$out/$target
  rm -rf "$work"
  mkdir -p "$work/deps"
  ln -s "$crypto/include" "$crypto/lib" "$work/deps/"
  cp -r "$python_src/Include" "$work/deps/python"
  cp scripts/macos/pyconfig.h "$work/deps/python/pyconfig.h"
  export MORVANE_ZIG="$zig" MORVANE_ZIG_TARGET="$target" MORVANE_DEPS="$work/deps"
  cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/scripts/zig/toolchain.cmake" \
    -DPython_EXECUTABLE="$tools/bin/python" \
    -DMORVANE_STATIC_DEPS=ON -DMORVANE_ZLIB_NG_SOURCE="$zlib_ng" >"$work/configure.log" ||
    { cat "$work/configure.log"; exit 1; }
  cmake --build "$work/build"
  cp "$work/build/morvane_core.abi3.so" "$out/morvane_core-$target.abi3.so"
done
status=0
for target in "${targets[@]}"; do
  case "$target" in aarch64-*) cpu=arm64 ;; *) cpu=${target%%-*} ;; esac
  report=$(python3 scripts/macos/macho_exports.py "$out/morvane_core-$target.abi3.so" _PyInit_morvane_core) || status=1
  echo "$report"
  # What the library records of its build: its inflater and its system calls.
  LC_ALL=C grep -ao 'morvane_core [a-z ]*: [ -~]*' "$out/morvane_core-$target.abi3.so" | sort -u | sed 's/^/  /'
  if ! grep -q ": $cpu bundle, macOS ${target##*-macos.} or later," <<<"$report"; then
    echo "not a $cpu bundle for macOS ${target##*-macos.}" >&2
    status=1
  fi
done
exit $status
