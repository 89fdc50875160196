#!/usr/bin/env bash
# Builds OpenSSL's static libcrypto with zig's clang for a target Debian ships
# no libcrypto.a for (the "openssl:CONF" rows of scripts/targets.txt), from
# the sources of Debian's openssl package, keeps it in the cache, and prints
# the folder, laid out as scripts/release_deps.sh lays out Debian's:
#   include/openssl/   the headers, with this target's configuration.h
#   lib/libcrypto.a    every symbol hidden (-fvisibility=hidden)
#
#   scripts/zig_libcrypto.sh ZIG TARGET CONF
#
# TARGET is a zig target, CONF OpenSSL's name of its configuration (both from
# the target's row). The module asks libcrypto for SHA-512 alone (through
# EVP, with the text of its error queue); the Base64 of the integrity text is
# the module's own. So the families of algorithms and the protocol support it
# never reaches are left out, which halves the build (about 1 minute on 2
# cores); the SHA-2 code keeps its assembly. The cache entry is keyed by this
# script, the openssl source package's version, zig's version, the target and
# CONF.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
. "$here/cache.sh"
usage="usage: scripts/zig_libcrypto.sh ZIG TARGET CONF"
zig=$(realpath "${1:?$usage}")
target=${2:?$usage}
conf=${3:?$usage}
jobs=${JOBS:-2}
src=$("$here/debian_source.sh" openssl)
entry=$(cache_entry libcrypto "$target" "$(cache_key "$0" "$src" "$("$zig" version)" "$target" "$conf")")
if cache_ready "$entry"; then
  echo "$entry"
  exit 0
fi

echo "== libcrypto for $target, from $(basename "$(dirname "$src")")" >&2
scratch=$(cache_begin "$entry")
build=$scratch/build
mkdir -p "$build/bin"
cp -r "$src/." "$build/src"
# OpenSSL's Makefile takes CC as one word.
printf '#!/bin/sh\nexec "%s" cc -target %s "$@"\n' "$zig" "$target" >"$build/bin/cc"
printf '#!/bin/sh\nexec "%s" ar "$@"\n' "$zig" >"$build/bin/ar"
printf '#!/bin/sh\nexec "%s" ranlib "$@"\n' "$zig" >"$build/bin/ranlib"
chmod +x "$build/bin/"*
unused=(no-legacy no-cms no-ct no-ocsp no-ts no-srp no-cmp no-comp no-sock no-srtp no-psk no-rfc3779
  no-aria no-bf no-camellia no-cast no-des no-dh no-dsa no-ec no-idea no-md4 no-mdc2 no-rc2 no-rc4 no-rmd160
  no-seed no-sm2 no-sm3 no-sm4 no-whirlpool no-siphash no-scrypt no-ocb no-chacha no-poly1305 no-blake2 no-siv)
cd "$build/src"
CC="$build/bin/cc" AR="$build/bin/ar" RANLIB="$build/bin/ranlib" \
  ./Configure "$conf" no-shared no-module no-dso no-engine no-tests no-ui-console "${unused[@]}" \
    -fPIC -fvisibility=hidden >"$build/configure.log"
make -s -j"$jobs" build_generated >"$build/make.log" 2>&1 || { tail -30 "$build/make.log"; exit 1; }
make -s -j"$jobs" libcrypto.a >>"$build/make.log" 2>&1 || { tail -30 "$build/make.log"; exit 1; }
mkdir -p "$scratch/include" "$scratch/lib"
cp -r include/openssl "$scratch/include/"
cp libcrypto.a "$scratch/lib/"
cp LICENSE.txt "$scratch/"
cd "$scratch"
rm -rf "$build"
cache_commit "$scratch" "$entry"
echo "$entry"
