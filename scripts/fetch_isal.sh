#!/usr/bin/env bash
# Fetches the ISA-L sources the inflater of x86_64 is built from,
# and prints the folder to hand to CMake:
#
#   src=$(scripts/fetch_isal.sh build/deps)
#   pip install -Ccmake.define.MORVANE_ISAL_SOURCE="$src" .
#
# The pin and the fetching are cmake/isal.cmake's (as scripts/fetch_zlib_ng.sh
# is for zlib-ng): pip downloads the sdist of the isal binding, which carries
# the library, as the machine has it set up, and the bytes are checked
# against the pin. A folder already fetched is kept.
set -euo pipefail
out=$(realpath -m "${1:?usage: scripts/fetch_isal.sh OUT}")
exec "${CMAKE:-cmake}" -DOUT="$out" ${PYTHON:+"-DPython_EXECUTABLE=$PYTHON"} -P "$(dirname "$(realpath "$0")")/../cmake/isal.cmake"
