#!/usr/bin/env bash
# Lays out what a release wheel links against, for one target architecture:
# Debian's static libcrypto and the interpreter's headers, in a folder
# of their own so that the build sees these and nothing else of /usr/include.
#
#   scripts/release_deps.sh ARCH OUT [PYTHON_MINOR]
#
# ARCH is x86_64 or aarch64; PYTHON_MINOR (default 3.11) picks Debian's
# libpython3.N-dev for the headers. OUT receives
#   include/   openssl/ (with the architecture's configuration.h)
#   python/    the interpreter's headers, pyconfig.h being the architecture's own
#   lib/       libcrypto.a
#   packages   the Debian packages and versions they came from
# The packages are fetched with apt-get download through a private package
# index (its own lists and cache, under OUT), so the machine's apt setup and
# its list of architectures stay as they are. An OUT that is complete is kept.
set -euo pipefail
arch=${1:?usage: scripts/release_deps.sh ARCH OUT [PYTHON_MINOR]}
out=$(realpath -m "${2:?usage: scripts/release_deps.sh ARCH OUT [PYTHON_MINOR]}")
py=${3:-3.11}
case "$arch" in
  x86_64) debarch=amd64 ;;
  aarch64) debarch=arm64 ;;
  *) echo "unknown architecture '$arch' (x86_64 or aarch64)" >&2; exit 1 ;;
esac
triple=$arch-linux-gnu
packages=("libssl-dev:$debarch" "libpython$py-dev:$debarch")

if [ -f "$out/packages" ] && [ "$(head -n1 "$out/packages")" = "# ${packages[*]}" ]; then
  exit 0
fi
rm -rf "$out"
apt_dir=$out/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/debs" "$apt_dir/tree"
apt_opts=(
  -o "APT::Architecture=$debarch" -o "APT::Architectures::=$debarch"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
  -o "Dir::State::status=/dev/null" -o "APT::Sandbox::User=root"
)
apt-get "${apt_opts[@]}" -q update >&2
(cd "$apt_dir/debs" && apt-get "${apt_opts[@]}" -q download "${packages[@]}" >&2)
for deb in "$apt_dir"/debs/*.deb; do
  dpkg-deb -x "$deb" "$apt_dir/tree"
done
tree=$apt_dir/tree/usr

mkdir -p "$out/include" "$out/python" "$out/lib"
cp -r "$tree/include/openssl" "$out/include/"
cp "$tree/include/$triple/openssl/"*.h "$out/include/openssl/"
cp -r "$tree/include/python$py/." "$out/python/"
# Debian's pyconfig.h only chooses between the architectures' own.
cp "$tree/include/$triple/python$py/pyconfig.h" "$out/python/pyconfig.h"
cp "$tree/lib/$triple/libcrypto.a" "$out/lib/"

{
  echo "# ${packages[*]}"
  for deb in "$apt_dir"/debs/*.deb; do
    dpkg-deb -f "$deb" Package Architecture Version | paste -sd' '
  done
} >"$out/packages"
rm -rf "$apt_dir"
cat "$out/packages" >&2
