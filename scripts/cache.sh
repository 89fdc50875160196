# Sourced by the build scripts: a cache outside the clone for what takes long
# to make and does not change from one run to the next (Debian's packages and
# source trees, the musl interpreter, libcrypto for each target, debootstrap
# roots). Each entry is a folder named after what it is and a key: a hash of
# everything that makes it (the scripts that build it, the versions of the
# packages it comes from, the target). A changed script or a new package
# version gives a new key, so a stale entry is never taken; old entries are
# only left behind (delete the folder to reclaim them).
#
#   MORVANE_CACHE   the cache's folder (default ~/.cache/morvane)

morvane_cache=${MORVANE_CACHE:-${HOME:-/root}/.cache/morvane}

# cache_key WORD... : a short hash of the words; a word naming a file stands
# for that file's content.
cache_key() {
  local word
  for word in "$@"; do
    if [ -f "$word" ]; then
      printf 'file %s\n' "$(sha256sum <"$word" | cut -c1-64)"
    else
      printf 'word %s\n' "$word"
    fi
  done | sha256sum | cut -c1-16
}

# cache_entry KIND NAME KEY : the folder of one entry (it may not exist yet).
cache_entry() {
  printf '%s/%s/%s-%s' "$morvane_cache" "$1" "$2" "$3"
}

# cache_ready ENTRY : whether the entry was completed by a run.
cache_ready() {
  [ -f "$1/.complete" ]
}

# cache_begin ENTRY : prints a fresh scratch folder beside the entry, into
# which the entry is built; cache_commit moves it into place.
cache_begin() {
  local entry=$1
  mkdir -p "$(dirname "$entry")"
  local scratch="$entry.partial.$$"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  printf '%s' "$scratch"
}

# cache_commit SCRATCH ENTRY : marks the scratch folder complete and renames it
# to the entry, so that a run stopped halfway leaves no entry that looks done.
# Folders that record their own path (an interpreter's prefix) are built in
# place instead: cache_commit ENTRY ENTRY marks it complete.
cache_commit() {
  local scratch=$1 entry=$2
  touch "$scratch/.complete"
  if [ "$scratch" != "$entry" ]; then
    rm -rf "$entry"
    mv "$scratch" "$entry"
  fi
}
