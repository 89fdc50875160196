# Sourced by the build scripts: a private index of Debian's packages, kept in
# the cache (scripts/cache.sh), so that packages of another architecture or
# suite, and source packages, can be fetched without touching the machine's
# apt setup. It reads the same archives as the machine's own list, with the
# machine's release replaced by the one asked for.
#
#   debian_index SUITE DEBARCH [TYPE]    TYPE deb (default) or deb-src
#
# sets apt_opts, the options that make apt-get and apt-cache use that index,
# and brings its lists up to date (see below).
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
  # The lists are brought up to date once per process, and not again within
  # ten minutes by any process (a build asks about one index many times), or
  # within MORVANE_APT_MAX_AGE minutes where a caller allows older lists (a
  # check that only compiles against the packages, not a release).
  # Where the mirror cannot give them whole, apt keeps what it had (nothing,
  # the first time, for the suite that failed) and the versions are the newest
  # it knows: the build goes on, saying so; what it took is recorded where it
  # is used (release_deps.sh's "packages").
  local updated_var
  updated_var=$(debian_index_var "$suite" "$debarch" "$type")
  if [ -z "${!updated_var:-}" ] && [ -z "$(find "$dir/updated" -mmin "-${MORVANE_APT_MAX_AGE:-10}" 2>/dev/null)" ]; then
    apt_update flock "$dir/parts/debian.sources" apt-get "${apt_opts[@]}" -qq >&2 ||
      echo "warning: Debian's $suite index for $debarch ($type) could not be brought up to date; going on with the lists apt has" >&2
    touch "$dir/updated"
  fi
  printf -v "$updated_var" 1
}

# debian_index_var SUITE DEBARCH TYPE : the variable that says the index's
# lists were brought up to date by this process (or, exported, by the one
# that started it).
debian_index_var() {
  local suite=$1 debarch=$2 type=$3
  echo "debian_index_updated_${suite//[^a-z0-9]/_}_${debarch}_${type//-/_}"
}

# apt_update COMMAND... : `COMMAND... update` (an apt-get with its options),
# tried twice more 20 seconds apart while it fails: a mirror in the middle of
# a sync serves index files that its Release file does not describe ("File
# has unexpected size ... Mirror sync in progress?").
apt_update() {
  local try
  for try in 1 2 3; do
    "$@" update && return 0
    [ "$try" -eq 3 ] || { echo "apt-get update failed; trying again in 20 s" >&2; sleep 20; }
  done
  return 1
}

# debian_version PACKAGE : the version the index offers of a binary package.
debian_version() {
  apt-cache "${apt_opts[@]}" show --no-all-versions "$1" | sed -n 's/^Version: //p' | head -n1
}
