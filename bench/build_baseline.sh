#!/usr/bin/env bash
# Builds the module as it stood at a commit, for timing beside the work tree:
#
#   bench/build_baseline.sh COMMIT
#   MORVANE_BASELINE=$(bench/build_baseline.sh HEAD~3) python bench/run.py
#
# The commit is checked out into a scratch work tree and built with the
# current environment's pip into build/baseline/<short hash>/; the path of the
# library is printed on the last line.
set -euo pipefail
cd "$(dirname "$0")/.."
commit=$(git rev-parse --short "${1:?usage: bench/build_baseline.sh COMMIT}")
out=$PWD/build/baseline/$commit
if [ ! -f "$out/morvane_core.abi3.so" ]; then
  tree=$(mktemp -d)
  trap 'git worktree remove --force "$tree" >/dev/null 2>&1 || rm -rf "$tree"' EXIT
  git worktree add --detach "$tree" "$commit" >/dev/null 2>&1
  python -m pip install -q --no-deps --target "$out" "$tree" >&2
fi
echo "$out/morvane_core.abi3.so"
