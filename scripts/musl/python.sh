#!/usr/bin/env bash
# Builds CPython 3.11 against musl on this Debian (glibc) machine, from the
# sources of Debian's python3.11, zlib and libffi packages, keeps it in the
# cache, and prints its prefix:
#
#   scripts/musl/python.sh [TRIPLE]     then PREFIX/bin/python3 runs on musl
#
# TRIPLE is a musl target of scripts/targets.txt (default: this machine's
# processor). For this machine's processor the compiler is Debian's musl-gcc;
# for another, the interpreter is cross-compiled with zig's clang for the
# triple (about 1.5 minutes; compiling under qemu-user takes 8 times as long), with
# Debian's python3.11 as the building interpreter, and runs through qemu-user.
#
# The interpreter runs on the musl loader of scripts/musl/loader.sh (musl
# 1.2.5, which reads the DT_RELR relocations of current Alpine-built wheels),
# of the triple's processor, copied into PREFIX/lib: PREFIX/bin/python3.11
# names it as its program
# interpreter. Beside it, PREFIX/lib/libc.musl-ARCH.so.1 is the name Alpine
# gives musl's libc and musllinux libraries ask for; the interpreter's run
# path ($ORIGIN/../lib) lets the modules it loads find it, as on Alpine.
#
# zlib and libffi are built static and PIC into PREFIX/../deps. There is no
# OpenSSL: the interpreter has no ssl module, so pip installs only from local
# files (scripts/musl/venv.sh fetches them with this machine's pip), and
# hashlib uses CPython's own SHA-2. sqlite3, bz2, lzma and readline are left
# out too, and so are CPython's own tests (the test package and its modules,
# which the installation would otherwise byte-compile three times over).
# About 1.5 minutes on 2 cores; the cache entry is keyed by this script, the
# source packages' versions, the musl toolchain's and the loader's.
set -euo pipefail
here=$(dirname "$(realpath "$0")")/..
. "$here/cache.sh"
. "$here/targets.sh"
jobs=${JOBS:-2}
target "${1:-$(uname -m)-linux-musl}"
cpu=${t_triple%%-*}
cross=""
[ "$t_machine" = "$(uname -m)" ] || cross=yes
command -v patchelf >/dev/null || { echo "needs patchelf (apt-get install patchelf)" >&2; exit 1; }
mapfile -t trees < <("$here/debian_source.sh" python3.11 zlib libffi)
loader=$("$here/musl/loader.sh" trixie "$t_debarch")
if [ -n "$cross" ]; then
  zig=$("$here/release_tools.sh")/zig
  compiler="zig $("$zig" version)"
else
  command -v musl-gcc >/dev/null || { echo "needs Debian's musl-tools (apt-get install musl-tools musl-dev)" >&2; exit 1; }
  compiler="musl-gcc $(dpkg-query -W -f '${Version}' musl-dev) $(gcc -dumpfullversion)"
fi
key=$(cache_key "$0" "${trees[@]}" "$compiler" "$loader")
# The GNU name of the processor with musl: what the interpreter takes as its
# platform triplet.
musl_triplet=$cpu-linux-musl
entry=$(cache_entry musl-python "cpython-3.11-$musl_triplet" "$key")
prefix=$entry/python
if cache_ready "$entry"; then
  echo "$prefix"
  exit 0
fi

# The interpreter records its prefix, so it is built where it stays.
mkdir -p "$(dirname "$entry")"
exec 9>"$entry.lock"
flock 9
rm -rf "$entry"
deps=$entry/deps
work=$entry/build
mkdir -p "$deps/bin" "$work"
# The compiler answers -print-multiarch with the musl triplet: configure
# compares it with the triplet it finds in musl's headers (and stops where
# they differ), and setup.py would add glibc's folders of gcc's answer to
# every module's flags.
cat >"$deps/bin/cc" <<SH
#!/bin/sh
case "\$1" in -print-multiarch|--print-multiarch) echo $musl_triplet; exit 0 ;; esac
SH
configure_args=() cflags=""
if [ -n "$cross" ]; then
  # zig's clang for the triple, linking dynamically against musl's libc (the
  # interpreter loads extension modules). It takes a source from standard
  # input for a bare preprocessor run without its C library's folders, which
  # setup.py asks for to learn them: give it the input as a file. zig makes
  # __DATE__ and __TIME__ errors, which CPython's build information uses.
  cat >>"$deps/bin/cc" <<SH
for arg; do shift; if [ "\$arg" = - ]; then set -- "\$@" -x c /dev/stdin; else set -- "\$@" "\$arg"; fi; done
exec "$zig" cc -target $t_triple -dynamic -Wno-error=date-time "\$@"
SH
  printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$zig" ar >"$deps/bin/ar"
  printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$zig" ranlib >"$deps/bin/ranlib"
  export AR=$deps/bin/ar RANLIB=$deps/bin/ranlib READELF=$(command -v readelf)
  # What configure cannot run a program to learn.
  printf 'ac_cv_file__dev_ptmx=yes\nac_cv_file__dev_ptc=no\nac_cv_buggy_getaddrinfo=no\n' >"$deps/config.site"
  export CONFIG_SITE=$deps/config.site
  configure_args=(--build="$(gcc -dumpmachine)" --host="$musl_triplet" --with-build-python=/usr/bin/python3.11)
else
  # musl-gcc sees musl's headers only; libffi and some CPython modules want
  # the kernel's (linux/, asm/, asm-generic/), which Debian's linux-libc-dev
  # holds.
  kinc=$deps/kernel-include
  mkdir -p "$kinc"
  ln -s /usr/include/linux /usr/include/asm-generic "$kinc/"
  ln -s "/usr/include/$(gcc -print-multiarch)/asm" "$kinc/asm"
  cflags="-idirafter $kinc"
  echo 'exec musl-gcc "$@"' >>"$deps/bin/cc"
fi
chmod +x "$deps/bin"/*
export CC=$deps/bin/cc
host=()
[ -z "$cross" ] || host=(--host="$musl_triplet")

echo "== zlib for musl" >&2
cp -r "${trees[1]}" "$work/zlib"
(cd "$work/zlib" && CHOST=${cross:+$musl_triplet} CFLAGS="-O2 -fPIC -w" ./configure --static --prefix="$deps" >/dev/null &&
  make -s -j"$jobs" >/dev/null && make -s install >/dev/null)

echo "== libffi for musl" >&2
cp -r "${trees[2]}" "$work/libffi"
(cd "$work/libffi" && CFLAGS="-O2 -fPIC -w $cflags" ./configure -q "${host[@]}" --disable-shared --enable-static --with-pic \
    --disable-docs --disable-exec-static-tramp --disable-multi-os-directory --prefix="$deps" >/dev/null && make -s -j"$jobs" >/dev/null 2>&1 && make -s install >/dev/null)

echo "== CPython for $musl_triplet (about 2 minutes)" >&2
cp -r "${trees[0]}" "$work/cpython"
# Debian's security patches make pyexpat.c include an internal header
# (pycore_ceval.h); Debian builds pyexpat into the interpreter, here it is a
# shared module, which must say so (pip needs pyexpat).
if grep -q '^#include "pycore_ceval.h"' "$work/cpython/Modules/pyexpat.c" &&
   ! grep -q 'Py_BUILD_CORE_MODULE' "$work/cpython/Modules/pyexpat.c"; then
  sed -i '1i #ifndef Py_BUILD_CORE_BUILTIN\n#  define Py_BUILD_CORE_MODULE 1\n#endif' "$work/cpython/Modules/pyexpat.c"
fi
cd "$work/cpython"
# configure takes the platform triplet's C library from the building
# machine's system (glibc here) where it means the target's.
[ -z "$cross" ] || sed -i 's/case "$build_os" in/case "$host_os" in/' configure
CPPFLAGS="-I$deps/include $cflags" LDFLAGS="-L$deps/lib" \
  ZLIB_CFLAGS="-I$deps/include" ZLIB_LIBS="-L$deps/lib -lz" \
  LIBFFI_CFLAGS="-I$deps/include" LIBFFI_LIBS="-L$deps/lib -lffi" \
  ./configure -q "${configure_args[@]}" --prefix="$prefix" --without-ensurepip --with-lto=no --disable-test-modules \
  PKG_CONFIG=false \
  >configure.log 2>&1 || { tail -20 configure.log; exit 1; }
make -s -j"$jobs" >build.log 2>&1 || { tail -40 build.log; exit 1; }
# A cross build names its build variables' module after the platform too
# (the building interpreter's naming); the installation looks for it under
# the triplet alone.
for f in build/lib.*/_sysconfigdata_*_linux_*.py; do [ ! -e "$f" ] || cp "$f" "${f/_linux_/_}"; done
make -s install >install.log 2>&1 || { tail -40 install.log; exit 1; }
grep -A3 -E "Failed to build|could not be imported|necessary bits" build.log >&2 || true
cd "$entry"
rm -rf "$work"

cp "$loader" "$prefix/lib/"
ln -s "$(basename "$loader")" "$prefix/lib/$t_libc_file"
patchelf --set-interpreter "$prefix/lib/$(basename "$loader")" --set-rpath '$ORIGIN/../lib' "$prefix/bin/python3.11"
runner=()
[ -z "$cross" ] || runner=("qemu-$t_qemu-static")
"${runner[@]}" "$prefix/bin/python3" - <<'PY' >&2
import sys, sysconfig, zlib, ctypes, hashlib, platform, pyexpat
print(sys.version.split()[0], sysconfig.get_config_var("HOST_GNU_TYPE"), platform.libc_ver())
print("zlib", zlib.ZLIB_RUNTIME_VERSION, "sha512", hashlib.sha512(b"").hexdigest()[:8])
PY
cache_commit "$entry" "$entry"
echo "$prefix"
