#!/usr/bin/env bash
# Fetches the zlib-ng sources the faster inflater is built from, and prints
# the folder to hand to CMake:
#
#   src=$(scripts/fetch_zlib_ng.sh build/deps)
#   pip install -Ccmake.define.MORVANE_ZLIB_NG_SOURCE="$src" .
#
# The pin (the address and SHA-256 of the PyPI sdist that carries them, and
# the library version) and the fetching are cmake/zlib_ng.cmake's, which a
# build from a checkout also runs at configure time. A folder already fetched
# is kept. Needs cmake 3.26 or newer.
set -euo pipefail
out=$(realpath -m "${1:?usage: scripts/fetch_zlib_ng.sh OUT}")
exec "${CMAKE:-cmake}" -DOUT="$out" -P "$(dirname "$(realpath "$0")")/../cmake/zlib_ng.cmake"
