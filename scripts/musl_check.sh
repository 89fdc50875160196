#!/usr/bin/env bash
# The musllinux wheel where it runs: installed from the file alone into a
# virtual environment of the musl CPython that scripts/musl/python.sh builds
# from Debian's sources for its processor (on musl 1.2.5's loader; through
# qemu-user on another processor), with the test tools from a
# local wheelhouse (scripts/musl/venv.sh), then the whole test suite of this
# checkout with MORVANE_DIST set, so the tests of the artifacts run too.
#
#   scripts/musl_check.sh DIST TRIPLE [whole|smoke]
#
# DIST is the folder scripts/build_release.sh wrote; TRIPLE the musl target of
# scripts/targets.txt whose wheel is tested; "smoke" runs the table's smoke
# subset instead of the whole suite (the default). The tests that
# build native code (the fault probe's module, a preloaded stand-in) build it
# for musl with zig's clang, against the musl libcrypto and zlib, with this
# machine's cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
usage="usage: scripts/musl_check.sh DIST TRIPLE [whole|smoke]"
dist=$(realpath "${1:?$usage}")
. scripts/cache.sh
. scripts/targets.sh
target "${2:?$usage}"
wheel=$(target_wheel "$dist" "$t_triple")
read -r -a pytest_args <<<"$(suite_args "${3:-whole}")"

target_emulation
venv=$root/build/musl-venv-${t_triple%%-*}
python=$(scripts/musl/venv.sh "$venv" "$t_triple")
"$python" -m pip install -q --no-index --only-binary :all: "$wheel"

tools=$(scripts/release_tools.sh)
musl_python=$(scripts/musl/python.sh "$t_triple")
compilers=$(mktemp -d)
trap 'rm -rf "$compilers"' EXIT
ln -s "$root/scripts/zig/cc" "$compilers/cc"
ln -s "$root/scripts/zig/c++" "$compilers/c++"
# This machine's cmake and ninja: the musllinux wheels' programs run on the
# system's musl loader (/lib/ld-musl-CPU.so.1: Debian 12's musl 1.2.3, which
# cannot read their DT_RELR relocations and crashes; none for another processor).
ln -s "$tools/bin/cmake" "$tools/bin/ninja" "$compilers/"
export MORVANE_ZIG=$tools/zig MORVANE_ZIG_TARGET=$t_triple MORVANE_ZIG_CPU=$t_cpu CC=$compilers/cc CXX=$compilers/c++
OpenSSL_ROOT=$(scripts/zig_libcrypto.sh "$MORVANE_ZIG" "$t_triple" "${t_crypto#openssl:}")
export OpenSSL_ROOT ZLIB_ROOT=$musl_python/../deps

echo "== the musllinux wheel under $("$python" -c 'import sys; print(sys.version.split()[0], sys.implementation._multiarch)')"
PATH=$compilers:$venv/bin:$PATH MORVANE_DIST=$dist "$python" -m pytest -q -rs -p no:cacheprovider "${pytest_args[@]}"
