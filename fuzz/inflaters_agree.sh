#!/usr/bin/env bash
# Reads every gzip stream of the archive tests with both inflaters, the
# build's (ISA-L with zlib-ng behind it, or zlib-ng alone) and the system's
# zlib, and fails if they differ on any:
#
#   fuzz/inflaters_agree.sh [FOLDER]
#
# FOLDER holds the streams (default fuzz/corpus/archive_tests: each stream the
# archive tests extract, as fuzz/record_gzip_streams.py wrote them). Each
# stream goes through two fuzz targets once: gzip_fuzz (the gzip reader
# against zlib's own gzip decoding) and inflate_fuzz, given the deflate data
# after the first member's header, fed as the reader feeds it and again in
# one-byte pieces. Both abort on the first difference. Needs the fuzz build of
# fuzz/run_fuzzers.sh (FUZZ_BUILD, default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${FUZZ_BUILD:-$root/build/fuzz}")
streams=$(realpath "${1:-fuzz/corpus/archive_tests}")
for target in gzip_fuzz inflate_fuzz; do
  if [ ! -x "$build/fuzz/$target" ]; then
    echo "$build/fuzz/$target is missing: run fuzz/run_fuzzers.sh first" >&2
    exit 1
  fi
done

cases=$(mktemp -d)
trap 'rm -rf "$cases"' EXIT
mkdir "$cases/deflate"
ln -s "$streams" "$cases/gzip"

python3 - "$cases/gzip" "$cases/deflate" <<'EOF'
import os
import sys

source, out = sys.argv[1:]


def deflate_start(data):
    """Where the deflate data of the first member begins, or None if its
    header is not whole and well formed."""
    if len(data) < 10 or data[:3] != b"\x1f\x8b\x08" or data[3] & 0xE0:
        return None
    flags, pos = data[3], 10
    if flags & 0x04:
        if len(data) < pos + 2:
            return None
        pos += 2 + int.from_bytes(data[pos:pos + 2], "little")
    for bit in (0x08, 0x10):
        if flags & bit:
            end = data.find(b"\0", pos)
            if end < 0:
                return None
            pos = end + 1
    if flags & 0x02:
        pos += 2
    return pos if pos <= len(data) else None


# The read sizes: 0x2D is the reader's (4 KiB pieces through a 32 KiB
# window), 0x40 one byte of input at a time into pieces growing from one byte.
for name in sorted(os.listdir(source)):
    with open(os.path.join(source, name), "rb") as f:
        data = f.read()
    start = deflate_start(data)
    if start is None:
        continue
    for sizes in (0x2D, 0x40):
        with open(os.path.join(out, f"{name}.{sizes:02x}"), "wb") as f:
            f.write(bytes([sizes]) + data[start:])
EOF

status=0
for pair in "gzip_fuzz gzip" "inflate_fuzz deflate"; do
  set -- $pair
  count=$(find -L "$cases/$2" -type f | wc -l)
  if find -L "$cases/$2" -type f -print0 | xargs -0 -r "$build/fuzz/$1" -rss_limit_mb=4096 >"$cases/$1.log" 2>&1; then
    echo "ok   $1 ($(basename "$build")): the two inflaters agree on $count streams of the archive tests"
  else
    echo "FAIL $1:"; grep -E 'disagree|invariant broken|ERROR|Running' "$cases/$1.log" | tail -n 5
    status=1
  fi
done
exit $status
