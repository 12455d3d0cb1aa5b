#!/usr/bin/env bash
# Builds a seed corpus for fuzz_setup_file: small setup files written by the
# packer around a tiny fake PE stub, in the usual and the unusual shapes.
# usage: [BLOCK_CORPUS=DIR] make_corpus.sh PACKER CORPUS_DIR
# With BLOCK_CORPUS, also writes the unpacked blocks of the valid seeds there
# (the seeds of fuzz_package_block).
set -euo pipefail
packer=$(realpath "$1")
corpus=$2
mkdir -p "$corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 512 bytes: "MZ", e_lfanew 0x40, "PE\0\0", a PE32 optional header magic.
python3 - "$work/stub.exe" <<'PY'
import struct, sys
stub = bytearray(512)
stub[0:2] = b"MZ"
struct.pack_into("<I", stub, 0x3C, 0x40)
stub[0x40:0x44] = b"PE\0\0"
struct.pack_into("<H", stub, 0x58, 0x10B)
open(sys.argv[1], "wb").write(stub)
# The same with a resource section whose RCDATA 1 declares every capability,
# for chunked seeds: .rsrc at file offset 0x200, RVA 0x1000.
stub = stub + bytearray(0x100)
struct.pack_into("<H", stub, 0x40 + 6, 1)
struct.pack_into("<H", stub, 0x40 + 20, 224)
struct.pack_into("<II", stub, 0x40 + 24 + 96 + 16, 0x1000, 0x100)
stub[0x40 + 24 + 224:0x40 + 24 + 224 + 5] = b".rsrc"
struct.pack_into("<IIII", stub, 0x40 + 24 + 224 + 8, 0x100, 0x1000, 0x100, 0x200)
root = 0x200
struct.pack_into("<H", stub, root + 14, 1)
struct.pack_into("<II", stub, root + 16, 10, 0x80000018)
struct.pack_into("<H", stub, root + 0x18 + 14, 1)
struct.pack_into("<II", stub, root + 0x18 + 16, 1, 0x80000030)
struct.pack_into("<H", stub, root + 0x30 + 14, 1)
struct.pack_into("<II", stub, root + 0x30 + 16, 0x409, 0x48)
struct.pack_into("<II", stub, root + 0x48, 0x1058, 4)
struct.pack_into("<I", stub, root + 0x58, 0xFFFFFFFF)
open(sys.argv[1].replace("stub.exe", "stub-chunks.exe"), "wb").write(stub)
PY

mkdir -p "$work/product/sub"
printf 'MZ tiny' > "$work/product/Tiny.exe"
printf '{\\rtf1 licence}' > "$work/product/license.rtf"
printf 'abcabcabc' > "$work/product/sub/data.bin"
# Text and bytes that do not compress, for chunked seeds.
seq 1 400 > "$work/product/sub/lines.txt"
head -c 1500 /dev/urandom > "$work/product/sub/noise.bin"
: > "$work/product/sub/empty.txt"

cat > "$work/plain.toml" <<'TOML'
[product]
name = "Tiny"
version = "1"
publisher = "P"
TOML

cat > "$work/full.toml" <<'TOML'
[product]
name = "Tiny"
version = "2.0"
publisher = "Publisher"
main_program = "Tiny.exe"
launch_command = "%ProgramFiles%\\Tiny\\Tiny.exe"
configure_args = "/configure %u \"%s\""
uninstall_args = "/uninstall"
[running]
mutex = "TinyMutex"
window_class = "TinyWindow"
[package]
os = ["win7", "win10"]
arch = ["x64", "arm64"]
registry_64 = true
license = "license.rtf"
[[file]]
source = "Tiny.exe"
arch = ["x86"]
[[file]]
source = "Tiny.exe"
arch = ["x64", "arm64"]
os = 32
[[file]]
source = "license.rtf"
no_extract = true
[[file]]
source = "sub/data.bin"
name = "data\\data.bin"
replace_locked = true
time = 2020-01-02T03:04:05Z
[[language]]
id = 0x409
name = "English"
[[language]]
id = 0x407
name = "Deutsch"
[language.texts]
TXT_CANCEL = "Abbrechen"
TXT_BACK = ""
TOML

n=0
build() {
  local manifest=$1; shift
  n=$((n + 1))
  "$packer" build --manifest "$work/$manifest" --product-dir "$work/product" --stub "$work/stub.exe" \
    --output "$corpus/seed-$n.exe" "$@"
}
build plain.toml
build full.toml
build plain.toml --end-marker
build full.toml --end-marker --extra-size 24
build plain.toml --slack 2
build plain.toml --slack 16
build full.toml --properties 0 --dictionary 0
build plain.toml --properties 4 --dictionary 4096
build plain.toml --properties 180 --dictionary 1
build plain.toml --properties 224
build plain.toml --corrupt-checksum
# Chunked: the chunk table, stored and compressed chunks, a chunk 0 that is
# the licence's prefix.
cat "$work/full.toml" - > "$work/chunked.toml" <<'TOML'
[[file]]
source = "sub/lines.txt"
[[file]]
source = "sub/noise.bin"
TOML
build chunked.toml --stub "$work/stub-chunks.exe" --chunk-size 700
build chunked.toml --stub "$work/stub-chunks.exe" --chunk-size 256 --end-marker
# A signed shape: 8-byte-aligned certificate table after the package, found
# through data directory entry 4.
n=$((n + 1))
python3 - "$corpus/seed-2.exe" "$corpus/seed-$n.exe" <<'PY'
import struct, sys
image = bytearray(open(sys.argv[1], "rb").read())
image += bytes(-len(image) % 8)
struct.pack_into("<II", image, 0x40 + 24 + 96 + 32, len(image), 24)
image += struct.pack("<IHH", 24, 0x200, 2) + bytes(16)
open(sys.argv[2], "wb").write(image)
PY
echo "make_corpus: $n seeds in $corpus"

# Unpacked blocks for fuzz_package_block: decode each valid seed's block.
if [ -n "${BLOCK_CORPUS:-}" ]; then
  mkdir -p "$BLOCK_CORPUS"
  python3 - "$corpus" "$BLOCK_CORPUS" <<'PY'
import lzma, os, struct, sys
src, dst = sys.argv[1:3]
for name in sorted(os.listdir(src)):
    data = open(os.path.join(src, name), "rb").read()
    cert = struct.unpack_from("<I", data, 0x40 + 24 + 96 + 32)[0]
    end = cert or len(data)
    window = data[end - 36:end]
    n = window.rfind(struct.pack("<I", 0xEFAB514C))
    if n < 16:
        continue
    checksum, unpacked, packed, extra, _ = struct.unpack_from("<5I", window, n - 16)
    start = end - 36 + n - 16 - packed
    props, dictionary = data[start], struct.unpack_from("<I", data, start + 1)[0]
    if props > 224 or props % 9 + props % 45 // 9 > 4:
        continue
    filters = [{"id": lzma.FILTER_LZMA1, "lc": props % 9, "lp": props % 45 // 9, "pb": props // 45,
                "dict_size": max(dictionary, 4096)}]
    try:
        block = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=filters).decompress(
            data[start + 5:start + packed], unpacked)
    except lzma.LZMAError:
        continue
    if len(block) == unpacked and sum(block) & 0xFFFFFFFF == checksum:
        open(os.path.join(dst, name.replace(".exe", ".block")), "wb").write(block)
PY
  echo "make_corpus: $(ls "$BLOCK_CORPUS" | wc -l) blocks in $BLOCK_CORPUS"
fi
