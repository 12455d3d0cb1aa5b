#!/usr/bin/env bash
# Cross-builds a variant of the stub's liblzma for comparison, from Debian's
# xz-utils source (fetched once into build/bench/xz-src).
#
#   bench/build_lzma.sh NAME [configure options...] -- CFLAGS
# installs into build/bench/lzma/NAME. The options always include what the
# stub needs (static, decoders only, no tools); the rest is the variant.
# Example: bench/build_lzma.sh o3 --enable-small=no -- -O3 -march=i686 -mtune=generic
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=$1
shift
configure=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do configure+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
cflags="$*"
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
(cd "$build" && "$src/configure" -q --host=i686-w64-mingw32 --prefix="$prefix" \
    --enable-static --disable-shared --disable-encoders --disable-threads \
    --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
    --disable-lzma-links --disable-scripts --disable-doc --disable-nls \
    "${configure[@]}" CFLAGS="$cflags" \
  && make -s -j2 -C src/liblzma >/dev/null && make -s -C src/liblzma install >/dev/null)
echo "$name: ${configure[*]} CFLAGS=$cflags" > "$prefix/variant.txt"
echo "built $prefix"
