# The stub's liblzma build (Debian ships none for mingw), sourced by
# scripts/bootstrap.sh, which builds it, and bench/build_lzma.sh, which
# builds variants of it. It needs only the raw LZMA1 decoder. --enable-small
# decodes as fast here and makes the decoder a third of the size
# (bench/compare_lzma.py), and -Os takes another 3.5 KB off it at no
# measurable cost: in small mode the decoder is one loop whose speed the
# optimisation level does not change (native decode of 60 MB: 2.85 s either
# way). Without threads liblzma is not thread-safe, which
# the stub does not need: each stream is used by one thread at a time. No
# unwind tables: nothing in the stub unwinds.
# shellcheck shell=bash disable=SC2034
stub_lzma_host=i686-w64-mingw32
stub_lzma_cflags="-Os -march=i686 -mtune=generic -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections"
stub_lzma_options=(
  --enable-static --disable-shared --disable-encoders --enable-decoders=lzma1
  --disable-lzip-decoder --disable-microlzma --enable-checks=crc32 --disable-threads --enable-small --disable-xz --disable-xzdec --disable-lzmadec
  --disable-lzmainfo --disable-lzma-links --disable-scripts --disable-doc --disable-nls
)
