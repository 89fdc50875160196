#!/usr/bin/env bash
# Shows that a release wheel needs nothing a build machine added: a minimal
# Debian root made by debootstrap, holding python3, python3-venv and
# python3-pip and no compiler and no -dev package, installs the wheel into a
# virtual environment and runs the test suite from the sdist.
#
#   scripts/clean_root_check.sh DIST SUITE TRIPLE [EXTENT]
#
# DIST is the folder scripts/build_release.sh wrote; SUITE the Debian release;
# TRIPLE the target of scripts/targets.txt whose wheel is tested, in a root of
# its Debian architecture (debarch). EXTENT is "whole" (the default) or
# "smoke", the table's smoke subset, for which the root gets pytest and
# hypothesis only, not the whole test extra (under qemu-user, installing mypy
# and numpy alone takes minutes).
#
# Run as root; needs debootstrap and unshare, and reaches Debian's archive and
# the package index. A root of another architecture runs through qemu-user
# (target_emulation of scripts/targets.sh). The root is kept in the cache
# outside the clone (scripts/cache.sh), keyed by what debootstrap is asked
# for, and reused by later runs (the wheel, the sdist and the virtual
# environment are replaced each time). It runs inside a mount namespace of its
# own, so nothing stays mounted when the script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: scripts/clean_root_check.sh DIST SUITE TRIPLE [whole|smoke]"
dist=$(realpath "${1:?$usage}")
suite=${2:?$usage}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
. scripts/cache.sh
. scripts/targets.sh
target "${3:?$usage}"
wheel=$(target_wheel "$dist" "$t_triple")
arch=$t_debarch
extent=${4:-whole}
read -r -a pytest_args <<<"$(suite_args "$extent")"
debootstrap_args=(--arch="$arch" --variant=minbase --include=python3,python3-venv,python3-pip "$suite")
root=$(cache_entry clean-root "$suite-$arch" "$(cache_key "${debootstrap_args[@]}" "$mirror")")/root
sdists=("$dist"/morvane_core-*.tar.gz)
[ ${#sdists[@]} -eq 1 ] && [ -f "${sdists[0]}" ] || { echo "want one sdist in $dist: run scripts/build_release.sh" >&2; exit 1; }

command -v debootstrap >/dev/null || debian_install debootstrap
target_emulation

if ! cache_ready "$(dirname "$root")"; then
  rm -rf "$(dirname "$root")"
  mkdir -p "$root"
  debootstrap "${debootstrap_args[@]}" "$root" "$mirror"
  cache_commit "$(dirname "$root")" "$(dirname "$root")"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The certificates this machine trusts for the package index (it may be reached
# through a proxy whose authority only this machine knows).
host_ca=${PIP_CERT:-/etc/ssl/certs/ca-certificates.crt}

rm -rf "$root/release"
mkdir -p "$root/release/dist"
# Every wheel goes along: the artifact tests look at each, while only the
# root's own is installed.
cp "$dist"/morvane_core-*.whl "${sdists[0]}" "$root/release/dist/"
cp "$host_ca" "$root/release/index-ca.crt"
tar -xzf "${sdists[0]}" -C "$root/release"
src=$(basename "${sdists[0]}" .tar.gz)

# The smoke subset needs no more than pytest and hypothesis.
test_tools="pytest hypothesis"
[ "$extent" = smoke ] || test_tools="/release/dist/$(basename "$wheel")[test]"

cat >"$root/release/check.sh" <<EOF
set -eu
echo "== inside the clean root: \$(. /etc/os-release; echo \$PRETTY_NAME), \$(uname -m), \$(python3 --version)"
for tool in cc gcc g++ c++ clang clang++ ld as make cmake nm readelf; do
  if command -v \$tool >/dev/null; then echo "unexpected tool in the clean root: \$tool" >&2; exit 1; fi
done
dev=\$(dpkg-query -W -f '\${Package}\n' | grep -E -- '-dev(:|\$)' || true)
if [ -n "\$dev" ]; then echo "unexpected -dev packages: \$dev" >&2; exit 1; fi
echo "no compiler, linker, binutils or -dev package; \$(dpkg-query -W | wc -l) Debian packages"
python3 -m venv /release/venv
/release/venv/bin/python -m pip install -q --no-index --only-binary :all: /release/dist/$(basename "$wheel")
/release/venv/bin/python -m pip install -q --only-binary :all: $test_tools
cd /release/$src
PATH=/release/venv/bin:\$PATH MORVANE_DIST=/release/dist python -m pytest -q -rs -p no:cacheprovider ${pytest_args[*]}
EOF

# The test suite needs /proc and /dev; /tmp is the root's own. The shared test
# corpora beside the checkout (MORVANE_CORPORA, by default ../shared/corpora)
# are lent read-only as /release/corpora, and their tests must then run.
corpora=$(realpath -m "${MORVANE_CORPORA:-$PWD/../shared/corpora}")
[ -d "$corpora" ] && mkdir -p "$root/release/corpora" || corpora=""
unshare --mount --propagation private -- sh -c '
  mount -t proc proc "$1/proc" &&
  mount --rbind /dev "$1/dev" &&
  corpora_env="" &&
  if [ -n "$2" ]; then
    mount --bind -o ro "$2" "$1/release/corpora" &&
    corpora_env="MORVANE_CORPORA=/release/corpora MORVANE_REQUIRE_CORPORA=1"
  fi &&
  exec chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TMPDIR=/tmp \
    PIP_CERT=/release/index-ca.crt $corpora_env sh /release/check.sh
' sh "$root" "$corpora"
