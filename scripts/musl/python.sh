#!/usr/bin/env bash
# Builds CPython 3.11 against musl on this Debian (glibc) machine, from the
# sources of Debian's python3.11, zlib and libffi packages, with Debian's
# musl-gcc, keeps it in the cache, and prints its prefix:
#
#   scripts/musl/python.sh        then PREFIX/bin/python3 runs on musl
#
# The interpreter runs on the musl loader of scripts/musl/loader.sh (musl
# 1.2.5, which reads the DT_RELR relocations of current Alpine-built wheels),
# copied into PREFIX/lib: PREFIX/bin/python3.11 names it as its program
# interpreter. Beside it, PREFIX/lib/libc.musl-ARCH.so.1 is the name Alpine
# gives musl's libc and musllinux libraries ask for; the interpreter's run
# path ($ORIGIN/../lib) lets the modules it loads find it, as on Alpine.
#
# zlib and libffi are built static and PIC into PREFIX/../deps. There is no
# OpenSSL: the interpreter has no ssl module, so pip installs only from local
# files (scripts/musl/venv.sh fetches them with this machine's pip), and
# hashlib uses CPython's own SHA-2. sqlite3, bz2, lzma and readline are left
# out too. About 5 minutes on 2 cores; the cache entry is keyed by this
# script, the source packages' versions, the musl toolchain's and the loader's.
set -euo pipefail
here=$(dirname "$(realpath "$0")")/..
. "$here/cache.sh"
jobs=${JOBS:-2}
command -v musl-gcc >/dev/null || { echo "needs Debian's musl-tools (apt-get install musl-tools musl-dev)" >&2; exit 1; }
command -v patchelf >/dev/null || { echo "needs patchelf (apt-get install patchelf)" >&2; exit 1; }
mapfile -t trees < <("$here/debian_source.sh" python3.11 zlib libffi)
loader=$("$here/musl/loader.sh")
key=$(cache_key "$0" "${trees[@]}" "$(dpkg-query -W -f '${Version}' musl-dev)" "$(gcc -dumpfullversion)" "$loader")
# The GNU name of the machine's processor with musl: what the interpreter
# takes as its platform triplet.
musl_triplet=$(uname -m)-linux-musl
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
mkdir -p "$deps" "$work"
export CC=musl-gcc
# musl-gcc sees musl's headers only; libffi and some CPython modules want the
# kernel's (linux/, asm/, asm-generic/), which Debian's linux-libc-dev holds.
kinc=$deps/kernel-include
mkdir -p "$kinc"
ln -s /usr/include/linux /usr/include/asm-generic "$kinc/"
ln -s "/usr/include/$(gcc -print-multiarch)/asm" "$kinc/asm"

echo "== zlib for musl" >&2
cp -r "${trees[1]}" "$work/zlib"
(cd "$work/zlib" && CFLAGS="-O2 -fPIC" ./configure --static --prefix="$deps" >/dev/null &&
  make -s -j"$jobs" >/dev/null && make -s install >/dev/null)

echo "== libffi for musl" >&2
cp -r "${trees[2]}" "$work/libffi"
(cd "$work/libffi" && CFLAGS="-O2 -fPIC -idirafter $kinc" ./configure -q --disable-shared --enable-static --with-pic \
    --disable-docs --disable-multi-os-directory --prefix="$deps" >/dev/null && make -s -j"$jobs" >/dev/null 2>&1 && make -s install >/dev/null)

echo "== CPython for musl (about 5 minutes)" >&2
# configure compares gcc's -print-multiarch (CPU-linux-gnu) with the
# triplet it finds in musl's headers (CPU-linux-musl) and stops, and
# setup.py adds /usr/include and /usr/lib of gcc's -print-multiarch (glibc's)
# to every module's flags: answer both for musl instead.
cat >"$deps/musl-cc" <<SH
#!/bin/sh
case "\$1" in -print-multiarch|--print-multiarch) echo $musl_triplet; exit 0 ;; esac
exec musl-gcc "\$@"
SH
chmod +x "$deps/musl-cc"
export CC="$deps/musl-cc"
cp -r "${trees[0]}" "$work/cpython"
# Debian's security patches make pyexpat.c include an internal header
# (pycore_ceval.h); Debian builds pyexpat into the interpreter, here it is a
# shared module, which must say so (pip needs pyexpat).
if grep -q '^#include "pycore_ceval.h"' "$work/cpython/Modules/pyexpat.c" &&
   ! grep -q 'Py_BUILD_CORE_MODULE' "$work/cpython/Modules/pyexpat.c"; then
  sed -i '1i #ifndef Py_BUILD_CORE_BUILTIN\n#  define Py_BUILD_CORE_MODULE 1\n#endif' "$work/cpython/Modules/pyexpat.c"
fi
cd "$work/cpython"
CPPFLAGS="-I$deps/include -idirafter $kinc" LDFLAGS="-L$deps/lib" \
  ZLIB_CFLAGS="-I$deps/include" ZLIB_LIBS="-L$deps/lib -lz" \
  LIBFFI_CFLAGS="-I$deps/include" LIBFFI_LIBS="-L$deps/lib -lffi" \
  ./configure -q --prefix="$prefix" --without-ensurepip --with-lto=no PKG_CONFIG=false >/dev/null 2>&1
make -s -j"$jobs" >build.log 2>&1 || { tail -40 build.log; exit 1; }
make -s install >install.log 2>&1 || { tail -40 install.log; exit 1; }
grep -A3 -E "Failed to build|could not be imported|necessary bits" build.log >&2 || true
cd "$entry"
rm -rf "$work"

cp "$loader" "$prefix/lib/"
ln -s "$(basename "$loader")" "$prefix/lib/libc.musl-$(uname -m).so.1"
patchelf --set-interpreter "$prefix/lib/$(basename "$loader")" --set-rpath '$ORIGIN/../lib' "$prefix/bin/python3.11"
"$prefix/bin/python3" - <<'PY' >&2
import sys, sysconfig, zlib, ctypes, hashlib, platform, pyexpat
print(sys.version.split()[0], sysconfig.get_config_var("HOST_GNU_TYPE"), platform.libc_ver())
print("zlib", zlib.ZLIB_RUNTIME_VERSION, "sha512", hashlib.sha512(b"").hexdigest()[:8])
PY
cache_commit "$entry" "$entry"
echo "$prefix"
