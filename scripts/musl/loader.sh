#!/usr/bin/env bash
# Fetches musl's loader, which is musl's whole libc.so, from a newer Debian
# suite's musl package, keeps it in the cache under its version, and prints
# its path:
#
#   scripts/musl/loader.sh [SUITE] [DEBARCH]      (SUITE trixie, DEBARCH this machine's)
#
# Debian 12's musl is 1.2.3, whose loader ignores DT_RELR relocations; wheels
# built on current Alpine (numpy's bundled libraries, for one) carry them and
# crash under it. Trixie's musl is 1.2.5. The package comes through a private
# index (scripts/debian_index.sh); the machine's apt setup is untouched.
set -euo pipefail
here=$(dirname "$(realpath "$0")")/..
. "$here/cache.sh"
. "$here/debian_index.sh"
suite=${1:-trixie}
debarch=${2:-$(dpkg --print-architecture)}
debian_index "$suite" "$debarch"
version=$(debian_version "musl:$debarch")
[ -n "$version" ] || { echo "no musl package in $suite for $debarch" >&2; exit 1; }
entry=$(cache_entry musl-loader "musl_$version-$debarch" "$(cache_key "$0" "$suite" "$version")")
if ! cache_ready "$entry"; then
  scratch=$(cache_begin "$entry")
  (cd "$scratch" && apt-get "${apt_opts[@]}" -qq download "musl:$debarch" >&2)
  dpkg-deb -x "$scratch"/musl_*.deb "$scratch/tree"
  loader=$(find "$scratch/tree" -name 'ld-musl-*.so.1' | head -n1)
  cp "$(realpath "$loader")" "$scratch/$(basename "$loader")"
  rm -rf "$scratch/tree" "$scratch"/*.deb
  cache_commit "$scratch" "$entry"
fi
echo "$entry"/ld-musl-*.so.1
