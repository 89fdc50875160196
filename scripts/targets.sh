# Sourced by the build scripts: the release targets of scripts/targets.txt,
# and what building for one of them takes.
#
#   targets                   the target rows, one a line, single spaces between
#                             the columns: triple wheel platform check debarch
#                             crypto inflater python libc_file loader tested
#   targets_line KEY          the words of the table's "KEY:" line
#   target TRIPLE             sets t_triple, t_wheel, t_platform, t_check,
#                             t_debarch, t_crypto, t_inflater, t_python,
#                             t_libc_file, t_loader and t_tested from the
#                             target's row, and t_machine, t_qemu, t_qemu_cpu,
#                             t_native_on and t_cpu from its processor's line
#   target_wheel DIST TRIPLE  the target's wheel in DIST (there must be one)
#   suite_args EXTENT         pytest's arguments for an extent of the tested column
#   target_emulation          lets this machine run programs of the target last
#                             named by `target`: on another processor, through
#                             qemu-user, installed and enabled here if need be;
#                             sets t_runner to what a program of the target is
#                             run under here (setarch, where this machine's
#                             processor runs it as another it can be), and
#                             exports QEMU_CPU for qemu-user
#   debian_install PACKAGE... installs Debian packages
#   target_toolchain TRIPLE DEPS
#                             lays out in the folder DEPS what the zig toolchain
#                             (scripts/zig/toolchain.cmake) links the target
#                             against, and exports MORVANE_ZIG, MORVANE_ZIG_TARGET,
#                             MORVANE_ZIG_CPU and MORVANE_DEPS for it; needs $zig
#                             (scripts/release_tools.sh). What takes long to
#                             make is cached (scripts/cache.sh).
#   target_compilers TRIPLE DEPS
#                             exports those four and what ccache needs, for a
#                             DEPS that target_toolchain has laid out
#   side_by_side COMMAND ITEM...
#                             runs COMMAND ITEM for each item, as many at once
#                             as this machine has processors
#   debian_indexes            brings the Debian lists of every row's
#                             architecture up to date, all at once
scripts_dir=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
. "$scripts_dir/cache.sh"
. "$scripts_dir/debian_index.sh"
targets_file=$scripts_dir/targets.txt

targets() {
  awk '!/^#/ && NF && $1 !~ /:$/ { $1 = $1; print }' "$targets_file"
}

# processor_field PROCESSOR KEY : one field of a "processor:" line.
processor_field() {
  awk -v p="$1" -v k="$2" '$1 == "processor:" && $2 == p {
    for (i = 3; i <= NF; i++) if (index($i, k "=") == 1) { print substr($i, length(k) + 2); exit }
  }' "$targets_file"
}

targets_line() {
  awk -v key="$1:" '$1 == key { $1 = ""; sub(/^ /, ""); print }' "$targets_file"
}

target() {
  local row
  row=$(targets | awk -v t="$1" '$1 == t')
  [ -n "$row" ] || { echo "no target '$1' in $targets_file" >&2; return 1; }
  read -r t_triple t_wheel t_platform t_check t_debarch t_crypto t_inflater t_python t_libc_file t_loader t_tested <<<"$row"
  local cpu=${t_triple%%-*}
  t_machine=$(processor_field "$cpu" machine)
  t_qemu=$(processor_field "$cpu" qemu)
  t_native_on=$(processor_field "$cpu" native-on)
  t_cpu=$(processor_field "$cpu" cpu)
  t_qemu_cpu=$(processor_field "$cpu" qemu-cpu)
  [ -n "$t_machine" ] && [ -n "$t_qemu" ] || { echo "no processor line for '$cpu' in $targets_file" >&2; return 1; }
}

target_wheel() {
  target "$2" || return 1
  local wheels=("$1"/morvane_core-*[-.]"$t_wheel".whl)
  [ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] ||
    { echo "want one $t_wheel wheel in $1: run scripts/build_release.sh" >&2; return 1; }
  echo "${wheels[0]}"
}

target_toolchain() {
  target "$1" || return 1
  local deps=$2 crypto python
  case $t_crypto in
    debian) crypto=$("$scripts_dir/release_deps.sh" "$t_debarch") ;;
    openssl:*) crypto=$("$scripts_dir/zig_libcrypto.sh" "$zig" "$t_triple" "${t_crypto#openssl:}") ;;
    system) crypto="" ;;
    *) echo "unknown libcrypto '$t_crypto' of $t_triple" >&2; return 1 ;;
  esac || return 1
  rm -rf "$deps"
  mkdir -p "$deps"
  [ -z "$crypto" ] || ln -s "$crypto/include" "$crypto/lib" "$deps/"
  # Each maker's failure is the toolchain's: a link is made only to what was made.
  case $t_python in
    debian) python=$("$scripts_dir/release_deps.sh" "$t_debarch") && ln -s "$python/python" "$deps/python" ;;
    musl-cpython)
      python=$("$scripts_dir/musl/python.sh" "$t_triple") && ln -s "$python/include/python3.11" "$deps/python" ;;
    # The limited API needs nothing of pyconfig.h but what scripts/macos/ gives.
    debian-source)
      cp -r "$("$scripts_dir/debian_source.sh" python3.11)/Include" "$deps/python" &&
        cp "$scripts_dir/macos/pyconfig.h" "$deps/python/" ;;
    *) echo "unknown interpreter headers '$t_python' of $t_triple" >&2; return 1 ;;
  esac || return 1
  target_compilers "$1" "$deps"
}

target_compilers() {
  local deps=$2
  target "$1" || return 1
  export MORVANE_ZIG=$zig MORVANE_ZIG_TARGET=$t_triple MORVANE_ZIG_CPU=$t_cpu MORVANE_DEPS=$deps
  # The compilers are scripts whose target lies in the environment: what
  # ccache, where it is used, takes for the compiler names the target.
  CCACHE_COMPILERCHECK="string:$t_triple $t_cpu zig $("$zig" version) $(cat "$scripts_dir"/zig/cc "$scripts_dir"/zig/c++ | cksum)"
  export CCACHE_COMPILERCHECK
}

# The rows that take Debian's libcrypto or interpreter headers read the index
# of their architecture (scripts/release_deps.sh). Their lists are brought up
# to date here side by side, so that a mirror serving some of them broken is
# waited for once (debian_index's tries), not once for each architecture; and
# once for the whole build: the scripts it starts find them fresh however
# long it takes.
debian_indexes() {
  local debarch i pids=() debarchs=()
  for debarch in $(targets | awk '$6 == "debian" || $8 == "debian" { print $5 }' | sort -u); do
    debian_index "$debian_codename" "$debarch" &
    pids+=($!) debarchs+=("$debarch")
  done
  # An index that could not be set up is left to the script that reads it.
  for i in "${!pids[@]}"; do
    ! wait "${pids[$i]}" || export "$(debian_index_var "$debian_codename" "${debarchs[$i]}" deb)=1"
  done
}

debian_install() {
  apt_update apt-get -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" </dev/null
}

target_emulation() {
  local host need=()
  host=$(dpkg --print-architecture)
  t_runner=()
  # What an earlier row told qemu-user is not this row's.
  unset QEMU_CPU
  [ "$t_debarch" != "$host" ] || return 0
  # A processor this machine's runs as another of its modes (32-bit x86 on
  # x86_64): its programs run as they are, told the machine they expect.
  if [[ ,$t_native_on, == *",$host,"* ]]; then
    t_runner=(setarch "$t_machine")
    return 0
  fi
  # The oldest processor of the row's Debian architecture, so that a build
  # using an instruction it may lack stops the tests (SIGILL).
  [ "$t_qemu_cpu" = - ] || export QEMU_CPU=$t_qemu_cpu
  [ -e "/usr/libexec/qemu-binfmt/$t_qemu-binfmt-P" ] || need+=(qemu-user-static)
  command -v update-binfmts >/dev/null || need+=(binfmt-support)
  [ ${#need[@]} -eq 0 ] || debian_install "${need[@]}"
  [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  # Where binfmt-support was set up after qemu-user-static, the emulator's
  # format was never imported.
  update-binfmts --display "qemu-$t_qemu" >/dev/null 2>&1 || update-binfmts --import "qemu-$t_qemu"
  update-binfmts --enable "qemu-$t_qemu"
}

# suite_args EXTENT : pytest's arguments for an extent of the tested column:
# "whole", the whole suite on every processor (each test module on one, so
# that its costly fixtures are made once); "smoke", the smoke subset.
suite_args() {
  case $1 in
    whole) echo "-n auto --dist loadscope" ;;
    smoke) targets_line smoke-tests ;;
    *) echo "unknown extent '$1' (whole or smoke)" >&2; return 1 ;;
  esac
}

# side_by_side COMMAND ITEM... : runs `COMMAND ITEM` for each item, as many at
# once as this machine has processors (zig builds a target's C and C++
# libraries on one processor at a time, so two targets side by side take
# about as long as one). Each one's output is kept apart and printed whole,
# in the items' order; each runs under set -e as it would alone (so long as
# side_by_side is not itself called as a condition). Fails if
# any failed, after all have ended.
side_by_side() {
  local command=$1 dir i=0 status=0 rc pids=()
  shift
  dir=$(mktemp -d)
  for item; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
    (
      set +e
      (set -e; "$command" "$item") >"$dir/$i.log" 2>&1
      echo $? >"$dir/$i.rc"
    ) &
    pids+=($!)
    i=$((i + 1))
  done
  wait "${pids[@]}" 2>/dev/null || true
  for ((i = 0; i < $#; i++)); do
    cat "$dir/$i.log"
    rc=$(cat "$dir/$i.rc" 2>/dev/null || echo 1)
    [ "$rc" -eq 0 ] || status=1
  done
  rm -rf "$dir"
  return $status
}
