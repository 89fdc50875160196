#!/usr/bin/env bash
# Instructions per read_lockfile and write_lockfile call on the lockfile of
# 10,000 skills (bench_lockfile.py's), counted by qemu-user's instruction-count
# plugin, for each musl target of scripts/targets.txt, and for aarch64 also
# with the portable scans in place of the NEON ones:
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
done

# The lockfile, made by this processor's build in its own interpreter.
read -r _ host_triple host_build <<<"${rows[0]}"
lock=$work/skills.lock
"$(scripts/musl/python.sh "$host_triple")/bin/python3" - "$host_build" "$root/bench" "$lock" <<'PY'
import json, sys
sys.path[:0] = sys.argv[1:3]
import bench_lockfile, morvane_core
morvane_core.write_lockfile(sys.argv[3], json.dumps(bench_lockfile.generate(10_000)))
PY

CALLS='
import sys
sys.path.insert(0, sys.argv[1])
import morvane_core
call, n, lock = sys.argv[2], int(sys.argv[3]), sys.argv[4]
text = open(lock).read()
for _ in range(n):
    morvane_core.read_lockfile(lock) if call == "read" else morvane_core.write_lockfile(lock + ".out", text)
'
# count QEMU PYTHON BUILD CALL N: the instructions of a process making N calls.
count() {
  PYTHONHASHSEED=0 "qemu-$1" -plugin "$work/libinsn.so" -d plugin -D "$work/count.log" "$2" -c "$CALLS" "$3" "$4" "$5" "$lock"
  awk '/^total insns:/ { print $3 }' "$work/count.log"
}

printf '%-34s %18s %18s\n' build "read (insns/call)" "write (insns/call)"
for row in "${rows[@]}"; do
  read -r label triple build <<<"$row"
  cpu=$(processor_field "${triple%%-*}" qemu)
  python=$(scripts/musl/python.sh "$triple")/bin/python3
  per_call=()
  for call in read write; do
    one=$(count "$cpu" "$python" "$build" "$call" 1)
    more=$(count "$cpu" "$python" "$build" "$call" $((1 + rounds)))
    per_call+=($(((more - one) / rounds)))
  done
  printf '%-34s %18s %18s\n' "$label" "${per_call[0]}" "${per_call[1]}"
done
