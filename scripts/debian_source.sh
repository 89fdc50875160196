#!/usr/bin/env bash
# Fetches and unpacks Debian source packages of the machine's release (with
# Debian's patches applied), keeping each tree in the cache under its version,
# and prints the trees' folders, one a line, in the order asked:
#
#   scripts/debian_source.sh PACKAGE...    e.g. scripts/debian_source.sh python3.11 zlib libffi openssl
#
# The version is the release suite's own (PACKAGE/bookworm on Debian 12): the
# security archive has been seen serving a newer tarball without its .dsc and
# Debian's changes, so its versions cannot be unpacked. Needs
# dpkg-source (dpkg-dev) and root for the private index's lists.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
. "$here/cache.sh"
. "$here/debian_index.sh"
[ $# -gt 0 ] || { echo "usage: scripts/debian_source.sh PACKAGE..." >&2; exit 1; }
command -v dpkg-source >/dev/null || { echo "needs dpkg-source: apt-get install dpkg-dev" >&2; exit 1; }
debian_index "$debian_codename" "$(dpkg --print-architecture)" deb-src

for pkg in "$@"; do
  # "'URI' python3.11_3.11.2-6+deb12u6.dsc SIZE SHA256:..." names the version.
  dsc=$(apt-get "${apt_opts[@]}" -qq source --print-uris "$pkg/$debian_codename" | awk '$2 ~ /\.dsc$/ {print $2; exit}')
  [ -n "$dsc" ] || { echo "no source package $pkg in $debian_codename" >&2; exit 1; }
  # Keyed by the version alone: unpacking a source package is always the same.
  entry=$(cache_entry debian-src "${dsc%.dsc}" "$(cache_key "$dsc")")
  if ! cache_ready "$entry"; then
    echo "== fetching the source of ${dsc%.dsc}" >&2
    scratch=$(cache_begin "$entry")
    mkdir "$scratch/download"
    (cd "$scratch/download" && apt-get "${apt_opts[@]}" -qq source --download-only "$pkg/$debian_codename" >&2)
    dpkg-source --no-check -x "$scratch/download/$dsc" "$scratch/tree" >/dev/null
    rm -rf "$scratch/download"
    cache_commit "$scratch" "$entry"
  fi
  echo "$entry/tree"
done
