#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's registry only,
# and cross-builds a static, decoder-only liblzma for the stub. Idempotent: a
# second run only checks and returns.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake ninja-build pkg-config g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  libgtest-dev libgmock-dev libtomlplusplus-dev liblzma-dev xz-utils
  wine wine32:i386 wine64
  xvfb xdotool x11-apps imagemagick
  osslsigncode openssl nsis python3 dpkg-dev
)

sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || sudo_ dpkg --add-architecture i386
  src=/etc/apt/sources.list.d/bookworm-src.sources
  if [ ! -f "$src" ]; then
    sudo_ tee "$src" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  sudo_ apt-get update -q
  sudo_ apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# liblzma for i686-w64-mingw32: Debian ships none, so build Debian's own source.
# The stub needs only the raw LZMA1 decoder. --enable-small decodes as fast
# here and makes the decoder a third of the size (bench/compare_lzma.py);
# without threads it is not thread-safe, which the one-threaded stub is not
# affected by. No unwind tables: nothing in the stub unwinds.
lzma_prefix=$build/mingw-lzma
lzma_options=(--enable-static --disable-shared --disable-encoders --enable-decoders=lzma1
  --disable-lzip-decoder --disable-microlzma --enable-checks=crc32 --disable-threads --enable-small --disable-xz --disable-xzdec --disable-lzmadec
  --disable-lzmainfo --disable-lzma-links --disable-scripts --disable-doc --disable-nls)
lzma_cflags="-O2 -march=i686 -mtune=generic -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections"
lzma_stamp="${lzma_options[*]} CFLAGS=$lzma_cflags"
# A build made with other options is replaced.
if [ ! -f "$lzma_prefix/lib/liblzma.a" ] || [ "$(cat "$lzma_prefix/options" 2>/dev/null)" != "$lzma_stamp" ]; then
  grep -rqs 'deb-src' /etc/apt/sources.list.d/ /etc/apt/sources.list || {
    echo "bootstrap: no deb-src entry" >&2; exit 1; }
  [ -n "$(ls /var/lib/apt/lists/*_source_Sources* 2>/dev/null)" ] || sudo_ apt-get update -q
  work=$build/xz-src
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && apt-get source -q xz-utils >/dev/null)
  srcdir=$(find "$work" -maxdepth 1 -type d -name 'xz-utils-*' | head -n1)
  # Installed beside the old build and swapped in at the end, so that a
  # build running meanwhile never sees a half-installed library.
  (cd "$srcdir" && ./configure -q --host=i686-w64-mingw32 --prefix="$lzma_prefix" \
      "${lzma_options[@]}" CFLAGS="$lzma_cflags" \
    && make -s -j"$(nproc)" -C src/liblzma && make -s -C src/liblzma install DESTDIR="$work/stage")
  echo "$lzma_stamp" > "$work/stage$lzma_prefix/options"
  rm -rf "$lzma_prefix.old"
  [ -d "$lzma_prefix" ] && mv "$lzma_prefix" "$lzma_prefix.old"
  mv "$work/stage$lzma_prefix" "$lzma_prefix"
  rm -rf "$lzma_prefix.old" "$work"
fi
echo "bootstrap: ready"
