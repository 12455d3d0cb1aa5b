#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's registry only,
# and cross-builds from Debian's xz-utils source two static liblzma: a
# decoder-only one for the stub and one with the LZMA1 encoder for the Windows
# packer. Idempotent: a second run only checks and returns.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export DEBIAN_FRONTEND=noninteractive

# fonts-wqy-microhei: the CJK glyphs of the wizard's Japanese texts in the Wine tests.
packages=(
  cmake ninja-build pkg-config g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  libgtest-dev libgmock-dev libtomlplusplus-dev nlohmann-json3-dev liblzma-dev xz-utils
  wine wine32:i386 wine64
  xvfb xdotool x11-apps imagemagick fonts-wqy-microhei
  osslsigncode openssl nsis python3 dpkg-dev python3-yaml python3-jsonschema
)

sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# A mirror in the middle of a sync fails an index now and then. The lists apt
# already has are used then; what cannot be found fails at install or source.
apt_update() {
  local try
  for try in 1 2 3; do
    sudo_ apt-get update -q && return 0
    [ $try = 3 ] || sleep $((try * 10))
  done
  echo "bootstrap: apt-get update failed three times; going on with the lists there are" >&2
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || sudo_ dpkg --add-architecture i386
  apt_update
  # When a stale index leaves the security suite's i386 half behind its
  # amd64 half, multiarch pairs cannot match; the release's own suite has both.
  sudo_ apt-get install -y -q --no-install-recommends "${missing[@]}" ||
    sudo_ apt-get install -y -q --no-install-recommends -t "$(. /etc/os-release && echo "$VERSION_CODENAME")" "${missing[@]}"
fi

# Source entries for apt-get source: the machine's own binary entries again,
# as deb-src, so that the source matches the installed liblzma-dev and no
# registry is named here. One file for deb822 stanzas, one for one-line entries.
src_entries=/etc/apt/sources.list.d/setup-stub-src
derive_source_stanzas() {
  awk 'function flush() {
         if (deb && !src && !off && body != "") printf "%sTypes: deb-src\n%s", (n++ ? "\n" : ""), body
         body = ""; deb = src = off = 0
       }
       FNR == 1 { flush() }
       /^[ \t]*#/ { next }
       /^[ \t]*$/ { flush(); next }
       tolower($1) == "types:" { for (i = 2; i <= NF; i++) { deb += $i == "deb"; src += $i == "deb-src" } next }
       tolower($1) == "enabled:" && tolower($2) == "no" { off = 1 }
       { body = body $0 "\n" }
       END { flush() }' "$@"
}
write_if_changed() {  # file content: true when the file was written
  [ "$(cat "$1" 2>/dev/null)" != "$2" ] || return 1
  if [ -n "$2" ]; then printf '%s\n' "$2" | sudo_ tee "$1" >/dev/null; else sudo_ rm -f "$1"; fi
}
ensure_source_entries() {
  local stanzas=() lines=() f changed=0
  # An earlier version of this script wrote a fixed entry under this name.
  f=/etc/apt/sources.list.d/bookworm-src.sources
  if [ -f "$f" ] && [ "$(grep -c '^Types:' "$f")" = "$(grep -c '^Types: deb-src$' "$f")" ]; then
    sudo_ rm -f "$f"
    changed=1
  fi
  for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && [ "$f" != "$src_entries.sources" ] && stanzas+=("$f"); done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && [ "$f" != "$src_entries.list" ] && lines+=("$f"); done
  local derived=""
  [ ${#stanzas[@]} -eq 0 ] || derived=$(derive_source_stanzas "${stanzas[@]}")
  write_if_changed "$src_entries.sources" "$derived" && changed=1
  derived=""
  [ ${#lines[@]} -eq 0 ] || derived=$(sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "${lines[@]}")
  write_if_changed "$src_entries.list" "$derived" && changed=1
  if [ $changed = 1 ] || [ -z "$(ls /var/lib/apt/lists/*_source_Sources* 2>/dev/null)" ]; then
    apt_update
  fi
}

# Debian's xz-utils source, of the same version as the native liblzma-dev, so
# that the Windows packer's encoder writes the same bytes as the native one.
lzma_source=""
fetch_lzma_source() {
  [ -z "$lzma_source" ] || return 0
  ensure_source_entries
  local version work=$build/xz-src
  version=$(dpkg-query -W -f='${source:Version}' liblzma-dev)
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && apt-get source -q "xz-utils=$version" >/dev/null)
  lzma_source=$(find "$work" -maxdepth 1 -type d -name 'xz-utils-*' | head -n1)
}

# Builds liblzma from that source for a mingw host into prefix, unless a build
# with the same options is there. Installed beside the old build and swapped
# in at the end, so that a build running meanwhile never sees a half-installed
# library.
build_lzma() {  # prefix host cflags options...
  local prefix=$1 host=$2 cflags=$3
  shift 3
  local stamp="$* CFLAGS=$cflags"
  [ ! -f "$prefix/lib/liblzma.a" ] || [ "$(cat "$prefix/options" 2>/dev/null)" != "$stamp" ] || return 0
  fetch_lzma_source
  local stage=$build/xz-stage
  rm -rf "$stage"
  (cd "$lzma_source" || exit 1
   make -s distclean >/dev/null 2>&1 || true
   ./configure -q --host="$host" --prefix="$prefix" "$@" CFLAGS="$cflags" \
     && make -s -j"$(nproc)" -C src/liblzma && make -s -C src/liblzma install DESTDIR="$stage" >/dev/null)
  echo "$stamp" > "$stage$prefix/options"
  rm -rf "$prefix.old"
  [ -d "$prefix" ] && mv "$prefix" "$prefix.old"
  mv "$stage$prefix" "$prefix"
  rm -rf "$prefix.old" "$stage"
}

# The stub's liblzma, as scripts/stub_lzma.sh describes it.
. "$root/scripts/stub_lzma.sh"
build_lzma "$build/mingw-lzma" "$stub_lzma_host" "$stub_lzma_cflags" "${stub_lzma_options[@]}"

# The Windows packer's liblzma: the LZMA1 encoder (every match finder, as the
# native library has them) and decoder, and every check function, built
# without --enable-small.
build_lzma "$build/mingw64-lzma" x86_64-w64-mingw32 "-O2" \
  --enable-static --disable-shared --enable-encoders=lzma1 --enable-decoders=lzma1 \
  --disable-lzip-decoder --disable-microlzma --disable-threads --disable-xz --disable-xzdec \
  --disable-lzmadec --disable-lzmainfo --disable-lzma-links --disable-scripts --disable-doc --disable-nls
rm -rf "$build/xz-src"
echo "bootstrap: ready"
