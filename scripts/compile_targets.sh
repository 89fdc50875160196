#!/usr/bin/env bash
# Compiles and links the module for every target of scripts/targets.txt (or
# those named) with the release toolchain, and checks each library
# (scripts/library_check.py): built for its processor, exporting
# PyInit_morvane_core alone. No wheel is made and nothing runs; CI's fast
# tier does this, so that a change that breaks a platform shows at once.
#
#   scripts/compile_targets.sh [OUT] [TRIPLE...]
#
# OUT receives a build folder per target (default build/targets), kept for
# the next run. MORVANE_INFLATE, where set, takes the place of the rows'
# inflater column (a benchmark's other build). The toolchain (zig, the
# libcrypto and headers of each target) comes from the cache
# (scripts/cache.sh) once made. The interpreter's symbols
# are left to be found when the module is loaded, as they are on every
# system: the macOS link says so (-undefined dynamic_lookup, which CMake's
# FindPython adds for a module on Apple's systems); ELF links allow it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-build/targets}")
shift $(($# < 1 ? $# : 1))
. scripts/targets.sh

tools=$(scripts/release_tools.sh)
export PATH="$tools/bin:$PATH"
zig=$tools/zig
zlib_ng=$(scripts/fetch_zlib_ng.sh "$root/build/deps")
isal=$(scripts/fetch_isal.sh "$root/build/deps")
[ $# -gt 0 ] || set -- $(targets | cut -d' ' -f1)

# What each target links against is made first, one target after another
# (the slow parts, a musl interpreter or a libcrypto, build on every
# processor already, and share cached sources); then the targets are compiled
# side by side.
debian_indexes
for triple; do
  echo "== toolchain for $triple"
  target_toolchain "$triple" "$out/$triple/deps"
done
compile() {
  local triple=$1 work=$out/$1
  echo "== $triple"
  target_compilers "$triple" "$work/deps"
  cmake -S "$root" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/scripts/zig/toolchain.cmake" -DPython_EXECUTABLE="$tools/bin/python" \
    -DMORVANE_STATIC_DEPS=ON -DMORVANE_ZLIB_NG_SOURCE="$zlib_ng" -DMORVANE_INFLATE="${MORVANE_INFLATE:-$t_inflater}" \
    -DMORVANE_ISAL_SOURCE="$isal" >"$work/configure.log" ||
    { cat "$work/configure.log"; exit 1; }
  cmake --build "$work/build"
  python3 scripts/library_check.py "$work/build/morvane_core.abi3.so" "$triple"
}
side_by_side compile "$@"
