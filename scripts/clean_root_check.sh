#!/usr/bin/env bash
# Shows that the release wheel needs nothing a build machine added: a minimal
# Debian root made by debootstrap, holding python3, python3-venv and
# python3-pip and no compiler and no -dev package, installs the wheel into a
# virtual environment and runs the whole test suite from the sdist.
#
#   scripts/clean_root_check.sh [DIST] [SUITE]
#
# DIST is the folder scripts/build_release.sh wrote (default dist/); SUITE the
# Debian release (default bookworm). Run as root; needs debootstrap and
# unshare, and reaches Debian's archive and the package index. The root is
# kept in build/clean-root/SUITE and reused by later runs (the wheel, the sdist
# and the virtual environment are replaced each time). It runs inside a mount
# namespace of its own, so nothing stays mounted when the script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
dist=$(realpath "${1:-dist}")
suite=${2:-bookworm}
root=$PWD/build/clean-root/$suite
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

wheels=("$dist"/morvane_core-*.whl)
sdists=("$dist"/morvane_core-*.tar.gz)
[ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] && [ ${#sdists[@]} -eq 1 ] && [ -f "${sdists[0]}" ] ||
  { echo "want one wheel and one sdist in $dist: run scripts/build_release.sh" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "debootstrap is not installed (apt-get install debootstrap)" >&2; exit 1; }

if [ ! -x "$root/usr/bin/python3" ]; then
  rm -rf "$root"
  mkdir -p "$root"
  debootstrap --variant=minbase --include=python3,python3-venv,python3-pip "$suite" "$root" "$mirror"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The certificates this machine trusts for the package index (it may be reached
# through a proxy whose authority only this machine knows).
host_ca=${PIP_CERT:-/etc/ssl/certs/ca-certificates.crt}

rm -rf "$root/release"
mkdir -p "$root/release/dist"
cp "${wheels[0]}" "${sdists[0]}" "$root/release/dist/"
cp "$host_ca" "$root/release/index-ca.crt"
tar -xzf "${sdists[0]}" -C "$root/release"
src=$(basename "${sdists[0]}" .tar.gz)

cat >"$root/release/check.sh" <<EOF
set -eu
echo "== inside the clean root: \$(. /etc/os-release; echo \$PRETTY_NAME), \$(python3 --version)"
for tool in cc gcc g++ c++ clang clang++ ld as make cmake nm readelf; do
  if command -v \$tool >/dev/null; then echo "unexpected tool in the clean root: \$tool" >&2; exit 1; fi
done
dev=\$(dpkg-query -W -f '\${Package}\n' | grep -E -- '-dev(:|\$)' || true)
if [ -n "\$dev" ]; then echo "unexpected -dev packages: \$dev" >&2; exit 1; fi
echo "no compiler, linker, binutils or -dev package; \$(dpkg-query -W | wc -l) Debian packages"
python3 -m venv /release/venv
/release/venv/bin/python -m pip install -q --no-index --only-binary :all: /release/dist/$(basename "${wheels[0]}")
/release/venv/bin/python -m pip install -q --only-binary :all: "/release/dist/$(basename "${wheels[0]}")[test]"
cd /release/$src
PATH=/release/venv/bin:\$PATH MORVANE_DIST=/release/dist python -m pytest -q -rs -p no:cacheprovider
EOF

# The test suite needs /proc and /dev; /tmp is the root's own. Test corpora
# kept on this machine outside the repository are lent read-only.
corpora=/work/shared/corpora
[ -d "$corpora" ] && mkdir -p "$root$corpora" || corpora=""
unshare --mount --propagation private -- sh -c '
  mount -t proc proc "$1/proc" &&
  mount --rbind /dev "$1/dev" &&
  if [ -n "$2" ]; then mount --bind -o ro "$2" "$1$2"; fi &&
  exec chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TMPDIR=/tmp \
    PIP_CERT=/release/index-ca.crt sh /release/check.sh
' sh "$root" "$corpora"
