#!/usr/bin/env bash
# Lays out what a target of the "debian" libcrypto and headers links against
# (scripts/targets.txt): Debian's static libcrypto and the interpreter's
# headers for one architecture, in a folder of their own so that the build
# sees these and nothing else of /usr/include. The folder is kept in the cache
# (scripts/cache.sh), keyed by this script and the versions of the packages;
# its path is printed.
#
#   deps=$(scripts/release_deps.sh DEBARCH [PYTHON_MINOR])
#
# DEBARCH is Debian's name of the architecture (the table's debarch column);
# PYTHON_MINOR (default 3.11) picks Debian's libpython3.N-dev for the headers.
# The folder holds
#   include/   openssl/ (with the architecture's configuration.h)
#   python/    the interpreter's headers, pyconfig.h being the architecture's own
#   lib/       libcrypto.a
#   packages   the Debian packages and versions they came from
# The packages are fetched with apt-get download through a private package
# index (scripts/debian_index.sh), so the machine's apt setup and its list of
# architectures stay as they are.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
. "$here/cache.sh"
. "$here/debian_index.sh"
debarch=${1:?usage: scripts/release_deps.sh DEBARCH [PYTHON_MINOR]}
py=${2:-3.11}
# Debian's folder of the architecture's own headers and libraries.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH -a "$debarch" 2>/dev/null)
packages=("libssl-dev:$debarch" "libpython$py-dev:$debarch")

# Sets versions and entry from the index's lists; prints the entry and ends
# the script where it is made already.
take_cached() {
  debian_index "$debian_codename" "$debarch"
  versions=()
  for pkg in "${packages[@]}"; do
    v=$(debian_version "$pkg")
    [ -n "$v" ] || { echo "no package $pkg in $debian_codename" >&2; exit 1; }
    versions+=("$pkg=$v")
  done
  entry=$(cache_entry release-deps "$multiarch-python$py" "$(cache_key "$0" "${versions[@]}")")
  if cache_ready "$entry"; then
    echo "$entry"
    exit 0
  fi
}
take_cached
# Lists older than ten minutes may name versions the mirror no longer has:
# what is fetched is named by fresh ones.
if [ "${MORVANE_APT_MAX_AGE:-10}" -gt 10 ]; then
  unset "$(debian_index_var "$debian_codename" "$debarch" deb)"
  MORVANE_APT_MAX_AGE=10 take_cached
fi

out=$(cache_begin "$entry")
mkdir -p "$out/debs" "$out/tree"
(cd "$out/debs" && apt-get "${apt_opts[@]}" -q download "${versions[@]}" >&2)
for deb in "$out"/debs/*.deb; do
  dpkg-deb -x "$deb" "$out/tree"
done
tree=$out/tree/usr

mkdir -p "$out/include" "$out/python" "$out/lib"
cp -r "$tree/include/openssl" "$out/include/"
cp "$tree/include/$multiarch/openssl/"*.h "$out/include/openssl/"
cp -r "$tree/include/python$py/." "$out/python/"
# Debian's pyconfig.h only chooses between the architectures' own.
cp "$tree/include/$multiarch/python$py/pyconfig.h" "$out/python/pyconfig.h"
cp "$tree/lib/$multiarch/libcrypto.a" "$out/lib/"

for deb in "$out"/debs/*.deb; do
  dpkg-deb -f "$deb" Package Architecture Version | paste -sd' '
done >"$out/packages"
rm -rf "$out/debs" "$out/tree"
cat "$out/packages" >&2
cache_commit "$out" "$entry"
echo "$entry"
