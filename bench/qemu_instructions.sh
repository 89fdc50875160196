#!/usr/bin/env bash
# Instructions per read_lockfile and write_lockfile call on the lockfile of
# 10,000 skills (bench_lockfile.py's), and per extract_tarball of the
# 2,000-file package (bench_archive.py's) and of the 13 sdists of
# bench/fetch_sdists.sh (all of them: one call each), counted by qemu-user's
# instruction-count plugin, for each musl target of scripts/targets.txt; for
# aarch64 also with the portable scans in place of the NEON ones, and for a
# row that inflates with ISA-L also with zlib-ng alone:
#
#   bench/qemu_instructions.sh [ROUNDS]
#
# A count is exact and, with the interpreter's string hashing fixed, the same
# on every run: it compares builds for one processor to the instruction,
# processors only roughly (their instructions do different amounts of work),
# and says nothing of time. Each figure is the count of a process making
# 1 + ROUNDS calls (default 3) less that of one making 1, divided by ROUNDS,
# so start-up and the first call are left out.
#
# Each build is compiled and linked as scripts/compile_targets.sh does and runs
# in the musl CPython of its processor (scripts/musl/python.sh). The plugin is
# tests/plugin/insn.c of Debian's qemu sources (scripts/debian_source.sh),
# built here against Debian's qemu-user, whose emulators load plugins (the
# static ones of qemu-user-static cannot); qemu-user and libglib2.0-dev are
# installed if missing. Run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=${1:-3}
. scripts/targets.sh
work=$root/build/qemu-instructions
mkdir -p "$work"

need=()
command -v qemu-aarch64 >/dev/null || need+=(qemu-user)
pkg-config --exists glib-2.0 2>/dev/null || need+=(libglib2.0-dev)
[ ${#need[@]} -eq 0 ] || debian_install "${need[@]}"
qemu_source=$(scripts/debian_source.sh qemu)
# shellcheck disable=SC2046
gcc -O2 -shared -fPIC -I"$qemu_source/include/qemu" $(pkg-config --cflags glib-2.0) \
  "$qemu_source/tests/plugin/insn.c" -o "$work/libinsn.so" $(pkg-config --libs glib-2.0)

# Rows: label, triple, build folder. The portable build of a processor that
# has vector scans compiles them out by undefining the macro they test.
rows=()
for triple in $(targets | cut -d' ' -f1); do
  target "$triple"
  [ "$t_python" = musl-cpython ] || continue
  scripts/compile_targets.sh "$work/vector" "$triple" >/dev/null
  rows+=("$triple $triple $work/vector/$triple/build")
  if [[ $triple == aarch64-* ]]; then
    CXXFLAGS=-U__ARM_NEON scripts/compile_targets.sh "$work/portable" "$triple" >/dev/null
    rows+=("$triple,portable-scans $triple $work/portable/$triple/build")
  fi
  if [ "$t_inflater" = isa-l ]; then
    MORVANE_INFLATE=zlib-ng scripts/compile_targets.sh "$work/zlib-ng" "$triple" >/dev/null
    rows+=("$triple,zlib-ng $triple $work/zlib-ng/$triple/build")
  fi
done

# The lockfile and the package, made by this processor's build in its own
# interpreter; the sdists are fetched by pip.
read -r _ host_triple host_build <<<"${rows[0]}"
lock=$work/skills.lock
sdists=$(bench/fetch_sdists.sh)
"$(scripts/musl/python.sh "$host_triple")/bin/python3" - "$host_build" "$root/bench" "$lock" "$work/files.tgz" <<'PY'
import json, sys
sys.path[:0] = sys.argv[1:3]
import bench_archive, bench_lockfile, morvane_core
morvane_core.write_lockfile(sys.argv[3], json.dumps(bench_lockfile.generate(10_000)))
open(sys.argv[4], "wb").write(bench_archive.npm_like_package())
PY

# Each extraction goes into a fresh folder of a memory-backed file system;
# removing it is the interpreter's work, the same for every build.
CALLS='
import glob, shutil, sys, tempfile
sys.path.insert(0, sys.argv[1])
import morvane_core
call, n, lock, package, sdists = sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5], sys.argv[6]
text = open(lock).read()
archives = [open(p, "rb").read() for p in ([package] if call == "files" else sorted(glob.glob(sdists + "/*.tar.gz")))]
for _ in range(n):
    if call == "read":
        morvane_core.read_lockfile(lock)
    elif call == "write":
        morvane_core.write_lockfile(lock + ".out", text)
    else:
        for data in archives:
            dest = tempfile.mkdtemp(dir="/dev/shm")
            morvane_core.extract_tarball(data, dest + "/x")
            shutil.rmtree(dest)
'
# count QEMU PYTHON BUILD CALL N: the instructions of a process making N calls.
count() {
  PYTHONHASHSEED=0 "qemu-$1" -plugin "$work/libinsn.so" -d plugin -D "$work/count.log" "$2" -c "$CALLS" "$3" "$4" "$5" \
    "$lock" "$work/files.tgz" "$sdists"
  awk '/^total insns:/ { print $3 }' "$work/count.log"
}

printf '%-34s %16s %16s %20s %20s\n' build "read (insns)" "write (insns)" "2,000 files (insns)" "13 sdists (insns)"
for row in "${rows[@]}"; do
  read -r label triple build <<<"$row"
  cpu=$(processor_field "${triple%%-*}" qemu)
  python=$(scripts/musl/python.sh "$triple")/bin/python3
  per_call=()
  for call in read write files sdists; do
    one=$(count "$cpu" "$python" "$build" "$call" 1)
    more=$(count "$cpu" "$python" "$build" "$call" $((1 + rounds)))
    per_call+=($(((more - one) / rounds)))
  done
  printf '%-34s %16s %16s %20s %20s\n' "$label" "${per_call[@]}"
done
