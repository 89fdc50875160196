#!/usr/bin/env bash
# The musllinux wheel where it runs: installed from the file alone into a
# virtual environment of the musl CPython that scripts/musl/python.sh builds
# from Debian's sources (on musl 1.2.5's loader), with the test tools from a
# local wheelhouse (scripts/musl/venv.sh), then the whole test suite of this
# checkout with MORVANE_DIST set, so the tests of the artifacts run too.
#
#   scripts/musl_check.sh [DIST] [PYTEST ARGS...]
#
# DIST is the folder scripts/build_release.sh wrote (default dist/); PYTEST
# ARGS, if given, replace the whole suite with a subset. The tests that
# build native code (the fault probe's module, a preloaded stand-in) build it
# for musl with zig's clang, against the musl libcrypto and zlib, with this
# machine's cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dist=$(realpath "${1:-dist}")
shift $(($# < 1 ? $# : 1))
. scripts/cache.sh
arch=$(uname -m)
wheels=("$dist"/morvane_core-*-musllinux_*_"$arch".whl)
[ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] ||
  { echo "want one musllinux $arch wheel in $dist: run scripts/build_release.sh" >&2; exit 1; }

venv=$root/build/musl-venv
python=$(scripts/musl/venv.sh "$venv")
"$python" -m pip install -q --no-index --only-binary :all: "${wheels[0]}"

tools=$(scripts/release_tools.sh)
musl_python=$(scripts/musl/python.sh)
compilers=$(mktemp -d)
trap 'rm -rf "$compilers"' EXIT
ln -s "$root/scripts/zig/cc" "$compilers/cc"
ln -s "$root/scripts/zig/c++" "$compilers/c++"
# This machine's cmake: the musllinux cmake wheel's program runs on the
# system's musl loader (/lib/ld-musl-x86_64.so.1, Debian 12's musl 1.2.3),
# which cannot read its DT_RELR relocations and crashes.
ln -s "$tools/bin/cmake" "$compilers/cmake"
export MORVANE_ZIG=$tools/zig MORVANE_ZIG_TARGET=$arch-linux-musl CC=$compilers/cc CXX=$compilers/c++
OpenSSL_ROOT=$(scripts/zig_libcrypto.sh "$MORVANE_ZIG" "$arch-linux-musl")
export OpenSSL_ROOT ZLIB_ROOT=$musl_python/../deps

echo "== the musllinux wheel under $("$python" -c 'import sys; print(sys.version.split()[0], sys.implementation._multiarch)')"
# The whole suite runs on every processor.
[ $# -gt 0 ] || set -- -n auto --dist loadscope
PATH=$compilers:$venv/bin:$PATH MORVANE_DIST=$dist "$python" -m pytest -q -rs -p no:cacheprovider "$@"
