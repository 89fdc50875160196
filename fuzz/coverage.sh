#!/usr/bin/env bash
# Line and branch coverage of the native sources reached by the fuzz corpora.
#
#   fuzz/coverage.sh [TARGET...]
#
# Builds the targets once more with clang's source-based coverage, runs each
# once over its grown corpus ($FUZZ_WORK/<target>/corpus, default
# build/fuzz-work) and its seeds, and prints llvm-cov's report for the
# sources that the target is about.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${FUZZ_COVERAGE_BUILD:-$root/build/fuzz-coverage}
work=${FUZZ_WORK:-$root/build/fuzz-work}
llvm_suffix=${LLVM_SUFFIX:--19}

# Built as fuzz/run_fuzzers.sh builds them, against zlib-ng: the inflate
# target exists only there. Only the C++ sources are measured.
zlib_ng=$("$root/scripts/fetch_zlib_ng.sh" "$root/build/deps")
flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="${CXX:-clang++-19}" -DCMAKE_C_COMPILER="${CC:-clang-19}" \
  -DMORVANE_FUZZ=ON -DMORVANE_ZLIB_NG_SOURCE="$zlib_ng" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" >/dev/null

if [ $# -eq 0 ]; then
  set -- $(cd "$build/fuzz" && ls -1 | grep '_fuzz$')
fi

# Per target: seed folder, then the sources it is about.
about() {
  case $1 in
    version_fuzz) echo "version src/version/semver.cpp src/version/resolve.cpp" ;;
    allow_list_fuzz) echo "allow_list src/permissions/allow_list.hpp" ;;
    lockfile_fuzz) echo "lockfile src/lockfile src/common/scan.hpp" ;;
    gzip_fuzz) echo "tgz src/archive/gzip_reader.cpp" ;;
    inflate_fuzz) echo "deflate src/archive/inflater.cpp" ;;
    tar_fuzz) echo "tar src/archive/tar_reader.cpp src/common/utf8.cpp" ;;
    extract_fuzz) echo "tgz src/archive" ;;
    *) echo "unknown fuzz target $1" >&2; return 1 ;;
  esac
}

# The extraction target writes files on every run; a memory-backed folder
# keeps that fast.
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
for target in "$@"; do
  line=$(about "$target")
  read -r seeds sources <<<"$line"
  profile=$build/$target.profraw
  dirs=("$root/fuzz/corpus/$seeds")
  [ -d "$work/$target/corpus" ] && dirs=("$work/$target/corpus" "${dirs[@]}")
  LLVM_PROFILE_FILE=$profile "$build/fuzz/$target" -runs=0 -rss_limit_mb=4096 "${dirs[@]}" >/dev/null 2>&1
  "llvm-profdata$llvm_suffix" merge -sparse "$profile" -o "$build/$target.profdata"
  echo "== $target"
  # shellcheck disable=SC2086
  (cd "$root" && "llvm-cov$llvm_suffix" report "$build/fuzz/$target" -instr-profile="$build/$target.profdata" \
    $sources)
done
