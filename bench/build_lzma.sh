#!/usr/bin/env bash
# Cross-builds a variant of the stub's liblzma for comparison, from Debian's
# xz-utils source (fetched once into build/bench/xz-src).
#
#   bench/build_lzma.sh NAME [configure options...] [-- CFLAGS]
# installs into build/bench/lzma/NAME. The variant starts from the stub's
# build (scripts/stub_lzma.sh): the options given come after the stub's and
# win over them; CFLAGS, when given, replace the stub's.
# Example: bench/build_lzma.sh o3 --enable-small=no -- -O3 -march=i686 -mtune=generic
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/stub_lzma.sh"
name=$1
shift
configure=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do configure+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
cflags="${*:-$stub_lzma_cflags}"
base=$root/build/bench
src_root=$base/xz-src
prefix=$base/lzma/$name

if [ -z "$(find "$src_root" -maxdepth 1 -type d -name 'xz-utils-*' 2>/dev/null)" ]; then
  mkdir -p "$src_root"
  (cd "$src_root" && apt-get source -q xz-utils >/dev/null)
fi
src=$(find "$src_root" -maxdepth 1 -type d -name 'xz-utils-*' | head -n1)
build=$base/lzma-build/$name
rm -rf "$build" "$prefix"
mkdir -p "$build"
(cd "$build" && "$src/configure" -q --host="$stub_lzma_host" --prefix="$prefix" \
    "${stub_lzma_options[@]}" "${configure[@]}" CFLAGS="$cflags" \
  && make -s -j2 -C src/liblzma >/dev/null && make -s -C src/liblzma install >/dev/null)
echo "$name: ${configure[*]} CFLAGS=$cflags" > "$prefix/variant.txt"
echo "built $prefix"
