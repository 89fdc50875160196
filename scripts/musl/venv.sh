#!/usr/bin/env bash
# A virtual environment of the musl CPython (scripts/musl/python.sh) with the
# project's test tools, fresh each time:
#
#   scripts/musl/venv.sh VENV [TRIPLE]
#
# TRIPLE is the musl target whose interpreter it is (default: this machine's
# processor); on another processor the interpreter runs through qemu-user,
# which must be enabled (target_emulation of scripts/targets.sh).
#
# That interpreter has no ssl module, so the tools' wheels (the test extra of
# pyproject.toml, for musllinux) are fetched by this machine's pip into a
# wheelhouse kept in the cache, and installed from there alone (--no-index),
# as on a machine without a network. Prints the environment's python.
set -euo pipefail
here=$(dirname "$(realpath "$0")")/..
. "$here/cache.sh"
venv=$(realpath -m "${1:?usage: scripts/musl/venv.sh VENV [TRIPLE]}")
prefix=$("$here/musl/python.sh" "${@:2}")
py=$prefix/bin/python3
pyver=$("$py" -c 'import sys; print("%d%d" % sys.version_info[:2])')
arch=$("$py" -c 'import platform; print(platform.machine())')
mapfile -t tools < <(python3 - "$here/../pyproject.toml" <<'PY'
import sys, tomllib
with open(sys.argv[1], "rb") as f:
    print("\n".join(tomllib.load(f)["project"]["optional-dependencies"]["test"]))
PY
)
wheels=$morvane_cache/musl-wheels/cp$pyver-$arch
mkdir -p "$wheels"
python3 -m pip download -q --only-binary :all: -d "$wheels" \
  --platform "musllinux_1_2_$arch" --platform "musllinux_1_1_$arch" --platform any \
  --implementation cp --python-version "$pyver" pip "${tools[@]}" >&2
rm -rf "$venv"
"$py" -m venv "$venv"
"$venv/bin/python" -m pip install -q --no-index --find-links "$wheels" --upgrade pip >&2
"$venv/bin/python" -m pip install -q --no-index --find-links "$wheels" "${tools[@]}" >&2
echo "$venv/bin/python"
