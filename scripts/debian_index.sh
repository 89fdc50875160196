# Sourced by the build scripts: a private index of Debian's packages, kept in
# the cache (scripts/cache.sh), so that packages of another architecture or
# suite, and source packages, can be fetched without touching the machine's
# apt setup. It reads the same archives as the machine's own list, with the
# machine's release replaced by the one asked for.
#
#   debian_index SUITE DEBARCH [TYPE]    TYPE deb (default) or deb-src
#
# sets apt_opts, the options that make apt-get and apt-cache use that index,
# and brings its lists up to date (once per process and index).
debian_codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

debian_index() {
  local suite=$1 debarch=$2 type=${3:-deb}
  local base=/etc/apt/sources.list.d/debian.sources
  [ -f "$base" ] || { echo "no $base to read the archives from" >&2; return 1; }
  local dir=$morvane_cache/apt/$suite-$debarch-$type
  mkdir -p "$dir/parts" "$dir/lists/partial" "$dir/cache/archives/partial"
  sed -e "s/^Types: .*/Types: $type/" -e "/^Suites:/s/\\b$debian_codename\\b/$suite/g" "$base" >"$dir/parts/debian.sources"
  apt_opts=(
    -o "APT::Architecture=$debarch" -o "APT::Architectures::=$debarch"
    -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$dir/parts"
    -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache"
    -o "Dir::State::status=/dev/null" -o "APT::Sandbox::User=root"
  )
  local updated_var="debian_index_updated_${suite//[^a-z0-9]/_}_${debarch}_${type//-/_}"
  if [ -z "${!updated_var:-}" ]; then
    flock "$dir/parts/debian.sources" apt-get "${apt_opts[@]}" -qq update >&2
    printf -v "$updated_var" 1
  fi
}

# debian_version PACKAGE : the version the index offers of a binary package.
debian_version() {
  apt-cache "${apt_opts[@]}" show --no-all-versions "$1" | sed -n 's/^Version: //p' | head -n1
}
