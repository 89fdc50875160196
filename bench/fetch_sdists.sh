#!/usr/bin/env bash
# Fetches the sdists of 13 popular packages of PyPI, the extraction
# benchmarks' sample of real packages, with pip as the machine has it set up,
# into a folder kept between runs (not part of the project), and prints it:
#
#   bench/fetch_sdists.sh [FOLDER]      (default build/bench-sdists)
#
# pip prepares each sdist's metadata after downloading it, building its build
# backend from source too (--no-binary :all:): the first fetch takes minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/bench-sdists}")
packages=(requests flask click jinja2 urllib3 attrs pyyaml certifi six idna markupsafe rich httpx)
if [ "$(find "$out" -name '*.tar.gz' 2>/dev/null | wc -l)" -lt ${#packages[@]} ]; then
  mkdir -p "$out"
  "${PYTHON:-python3}" -m pip download -q --no-binary :all: --no-deps -d "$out" "${packages[@]}" >&2
fi
echo "$out"
