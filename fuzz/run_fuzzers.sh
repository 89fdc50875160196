#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time.
#
#   fuzz/run_fuzzers.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 60); TARGET names such as version_fuzz (default:
# every target built). The checked-in seeds are never written to: each target
# grows its corpus in $FUZZ_WORK/<target>/corpus (default build/fuzz-work, kept
# between runs, so a longer campaign can be resumed), and a crashing input is
# saved as $FUZZ_WORK/<target>/crash-* (or leak-, timeout-, oom-). Each run's
# output goes to $FUZZ_WORK/<target>/log. Exits non-zero when any target
# reports a finding.
#
# FUZZ_BUILD  build directory (default build/fuzz)
# FUZZ_JOBS   targets run at the same time (default 1)
# CXX, CC     the clang to build with (default clang++-19, clang-19)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-60}
shift || true
build=$(realpath -m "${FUZZ_BUILD:-$root/build/fuzz}")
work=$(realpath -m "${FUZZ_WORK:-$root/build/fuzz-work}")
jobs=${FUZZ_JOBS:-1}
# The extraction target writes files on every run; a memory-backed folder
# keeps that fast.
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

# The targets run against the inflater a build here takes by default (ISA-L
# with zlib-ng behind it on x86_64, zlib-ng elsewhere); the
# inflate and gzip targets compare it with the system's zlib.
zlib_ng=$("$root/scripts/fetch_zlib_ng.sh" "$root/build/deps")
isal=$("$root/scripts/fetch_isal.sh" "$root/build/deps")
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="${CXX:-clang++-19}" -DCMAKE_C_COMPILER="${CC:-clang-19}" \
  -DMORVANE_FUZZ=ON -DMORVANE_ZLIB_NG_SOURCE="$zlib_ng" -DMORVANE_ISAL_SOURCE="$isal" >/dev/null
cmake --build "$build" >/dev/null

if [ $# -eq 0 ]; then
  set -- $(cd "$build/fuzz" && ls -1 | grep '_fuzz$')
fi

# Per target: seed corpus folder, largest input, dictionary and further options.
options_for() {
  case $1 in
    version_fuzz) echo "corpus=version max_len=512" ;;
    allow_list_fuzz) echo "corpus=allow_list max_len=512" ;;
    lockfile_fuzz) echo "corpus=lockfile max_len=8192 dict=lockfile.dict" ;;
    gzip_fuzz) echo "corpus=tgz max_len=16384" ;;
    inflate_fuzz) echo "corpus=deflate max_len=8192" ;;
    tar_fuzz) echo "corpus=tar max_len=16384 dict=tar.dict" ;;
    # Every run writes files, so memory and disk stay bounded by the input
    # size; the RSS limit catches a reader that buffers what it should stream.
    extract_fuzz) echo "corpus=tgz max_len=16384 rss=512 dict=tar.dict" ;;
    *) echo "unknown fuzz target $1" >&2; return 1 ;;
  esac
}

run_one() {
  local target=$1 corpus="" max_len=4096 dict="" rss=2048
  local kv
  for kv in $(options_for "$target"); do
    case $kv in
      corpus=*) corpus=${kv#corpus=} ;;
      max_len=*) max_len=${kv#max_len=} ;;
      dict=*) dict=${kv#dict=} ;;
      rss=*) rss=${kv#rss=} ;;
    esac
  done
  local dir=$work/$target
  mkdir -p "$dir/corpus"
  local args=(-max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb="$rss" -malloc_limit_mb="$rss"
              -timeout=10 -print_final_stats=1 -artifact_prefix="$dir/")
  [ -n "$dict" ] && args+=(-dict="$root/fuzz/$dict")
  local status=0
  # New inputs go to the first folder; the seeds are only read.
  "$build/fuzz/$target" "${args[@]}" "$dir/corpus" "$root/fuzz/corpus/$corpus" >"$dir/log" 2>&1 || status=$?
  local summary
  summary=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/log" | tail -n 1 || true)
  local execs
  execs=$(grep -E '^stat::number_of_executed_units' "$dir/log" | awk '{print $2}' || true)
  if [ "$status" -ne 0 ]; then
    echo "FAIL $target (exit $status): see $dir/log"
    grep -E 'ERROR|runtime error|invariant broken|Test unit written' "$dir/log" | head -n 20 || true
    return 1
  fi
  echo "ok   $target: ${execs:-?} runs in ${seconds}s, ${summary:-no summary}"
}

mkdir -p "$work"
failed=0
if [ "$jobs" -le 1 ]; then
  for t in "$@"; do run_one "$t" || failed=1; done
else
  for t in "$@"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    run_one "$t" >"$work/$t.result" 2>&1 &
  done
  wait
  for t in "$@"; do
    cat "$work/$t.result"
    grep -q '^ok ' "$work/$t.result" || failed=1
  done
fi
exit $failed
