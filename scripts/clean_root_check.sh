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
# The Debian mirror debootstrap reads: the one this machine's apt is set up
# with, the site of its own release's main archive (not the updates or the
# security archive, which hold no whole release). DEBIAN_MIRROR overrides it.
# apt names the release as its sources do (RELEASE), and, once it has the
# archive's Release file, by its codename too (CODENAME), which matches where
# the sources say "stable"; without that file it lists the sources only with
# --no-release-info.
apt_mirror() {
  local codename format
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || true
  [ -n "$codename" ] && command -v apt-get >/dev/null || return 0
  # shellcheck disable=SC2016 # $(...) are apt's fields, not the shell's
  format='$(TARGET_OF)|$(RELEASE)|$(CODENAME)|$(SITE)'
  { apt-get indextargets --format "$format"; apt-get indextargets --no-release-info --format "$format"; } |
    awk -F '|' -v c="$codename" '$1 == "deb" && ($2 == c || $3 == c) && !m { m = $4 } END { print m }'
}
mirror=${DEBIAN_MIRROR:-$(apt_mirror)}
[ -n "$mirror" ] || { echo "found no Debian mirror in apt's setup: set DEBIAN_MIRROR to one" >&2; exit 1; }
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

# How this machine reaches the package index beyond that: pip's own settings
# of the index, extra indexes, trusted hosts and proxy (from its
# configuration files, then its environment), and the proxy variables, handed
# to the root's pip, which has no configuration of its own.
index_env=()
while IFS='=' read -r key value; do
  case ${key#*.} in
    index-url | extra-index-url | trusted-host | proxy)
      value=${value#\'} && value=${value%\'}
      index_env+=("PIP_$(tr 'a-z-' 'A-Z_' <<<"${key#*.}")=$value") ;;
  esac
done < <(python3 -m pip config list 2>/dev/null || true)
for name in PIP_INDEX_URL PIP_EXTRA_INDEX_URL PIP_TRUSTED_HOST PIP_PROXY http_proxy https_proxy no_proxy \
  HTTP_PROXY HTTPS_PROXY NO_PROXY; do
  [ -z "${!name:-}" ] || index_env+=("$name=${!name}")
done
# qemu-user reads the processor it is to be from each program's environment.
[ -z "${QEMU_CPU:-}" ] || index_env+=("QEMU_CPU=$QEMU_CPU")

rm -rf "$root/release"
mkdir -p "$root/release/dist"
# Every wheel goes along: the artifact tests look at each, while only the
# root's own is installed.
cp "$dist"/morvane_core-*.whl "${sdists[0]}" "$root/release/dist/"
cp "$host_ca" "$root/release/index-ca.crt"
tar -xzf "${sdists[0]}" -C "$root/release"
src=$(basename "${sdists[0]}" .tar.gz)

# The smoke subset needs no more than pytest and hypothesis; the whole suite
# takes the test extra's tools, as wheels. Where one has none for the root's
# processor (numpy has none for i686 or s390x, say), the others are installed
# one by one and that one is left out: the tests that need it skip, saying so.
test_tools="pytest hypothesis"
[ "$extent" = smoke ] || test_tools="\$(/release/venv/bin/python /release/test_tools.py)"

cat >"$root/release/test_tools.py" <<'EOF'
# The requirements of the installed module's test extra, without their markers.
import importlib.metadata

for requirement in importlib.metadata.requires("morvane_core"):
    name, _, marker = requirement.partition(";")
    if 'extra == "test"' in marker:
        print(name.replace(" ", ""))
EOF
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
if ! /release/venv/bin/python -m pip install -q --only-binary :all: $test_tools; then
  for tool in $test_tools; do
    /release/venv/bin/python -m pip install -q --only-binary :all: "\$tool" ||
      echo "no wheel of \$tool for \$(uname -m) (its tests skip)"
  done
fi
cd /release/$src
PATH=/release/venv/bin:\$PATH MORVANE_DIST=/release/dist python -m pytest -q -rs -p no:cacheprovider ${pytest_args[*]}
EOF

# The test suite needs /proc and /dev; /tmp is the root's own. The shared test
# corpora beside the checkout (MORVANE_CORPORA, by default ../shared/corpora)
# are lent read-only as /release/corpora, and their tests must then run.
corpora=$(realpath -m "${MORVANE_CORPORA:-$PWD/../shared/corpora}")
[ -d "$corpora" ] && mkdir -p "$root/release/corpora" || corpora=""
unshare --mount --propagation private -- "${t_runner[@]}" sh -c '
  root=$1 corpora=$2 &&
  shift 2 &&
  mount -t proc proc "$root/proc" &&
  mount --rbind /dev "$root/dev" &&
  corpora_env="" &&
  if [ -n "$corpora" ]; then
    mount --bind -o ro "$corpora" "$root/release/corpora" &&
    corpora_env="MORVANE_CORPORA=/release/corpora MORVANE_REQUIRE_CORPORA=1"
  fi &&
  exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TMPDIR=/tmp \
    PIP_CERT=/release/index-ca.crt "$@" $corpora_env sh /release/check.sh
' sh "$root" "$corpora" "${index_env[@]}"
