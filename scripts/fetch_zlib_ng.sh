#!/usr/bin/env bash
# Fetches the zlib-ng sources the faster inflater is built from, and prints
# the folder to hand to CMake:
#
#   src=$(scripts/fetch_zlib_ng.sh build/deps)
#   pip install -Ccmake.define.MORVANE_ZLIB_NG_SOURCE="$src" .
#
# The sources come from PyPI, the one registry the build machines reach: the
# sdist of the zlib-ng Python binding carries the library's whole tree. The
# sdist is pinned by its address and SHA-256; the library version it carries is
# checked too. A folder already fetched is kept.
set -euo pipefail
out=$(realpath -m "${1:?usage: scripts/fetch_zlib_ng.sh OUT}")

sdist=zlib_ng-1.1.0.tar.gz
url=https://files.pythonhosted.org/packages/25/c8/2914b13c7972dccf8774947ffe781b761b483aa190e55a4aa89886982daa/$sdist
sdist_sha256=08a3a8468d4f130e3dc80d28ec42fcc7a878a57dfed616233e791066327d78a3
library_version=2.3.3
src=$out/zlib-ng-$library_version

if [ ! -f "$src/.fetched" ]; then
  rm -rf "$src" "$out/download"
  mkdir -p "$out/download"
  python3 - "$url" "$out/download/$sdist" <<'PY' >&2
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=120) as response, open(sys.argv[2], "wb") as f:
    f.write(response.read())
PY
  echo "$sdist_sha256  $out/download/$sdist" | sha256sum -c --quiet - >&2
  mkdir -p "$out/unpack"
  tar -xzf "$out/download/$sdist" -C "$out/unpack" zlib_ng-1.1.0/src/zlib_ng/zlib-ng
  mv "$out/unpack/zlib_ng-1.1.0/src/zlib_ng/zlib-ng" "$src"
  rm -rf "$out/unpack" "$out/download"
  if ! grep -q "#define ZLIBNG_VERSION \"$library_version\"" "$src/zlib-ng.h.in"; then
    echo "$sdist does not carry zlib-ng $library_version" >&2
    exit 1
  fi
  touch "$src/.fetched"
fi
echo "$src"
