#!/usr/bin/env bash
# Fetches the zlib-ng sources the faster inflater is built from, and prints
# the folder to hand to CMake:
#
#   src=$(scripts/fetch_zlib_ng.sh build/deps)
#   pip install -Ccmake.define.MORVANE_ZLIB_NG_SOURCE="$src" .
#
# The pin (the name and SHA-256 of the sdist of the zlib-ng Python binding,
# which carries them, and the library version) and the fetching are
# cmake/zlib_ng.cmake's, which a build from a checkout also runs at configure
# time: pip downloads the sdist, as the machine has it set up (index, proxy,
# certificates), and the bytes are checked against the pin. The pip is
# PYTHON's where that is set and has one, else that of a python3 on the PATH.
# A folder already fetched is kept. Needs cmake 3.26 or newer.
set -euo pipefail
out=$(realpath -m "${1:?usage: scripts/fetch_zlib_ng.sh OUT}")
exec "${CMAKE:-cmake}" -DOUT="$out" ${PYTHON:+"-DPython_EXECUTABLE=$PYTHON"} -P "$(dirname "$(realpath "$0")")/../cmake/zlib_ng.cmake"
