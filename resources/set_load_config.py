"""Points data directory 10 (load configuration) of a linked 32-bit PE image
at the structure named by a symbol, found in the link map: GNU ld does not
fill that directory itself. Usage: set_load_config.py IMAGE MAP SYMBOL"""
import re
import struct
import sys


def symbol_address(map_text, symbol):
    match = re.search(r"^\s+0x([0-9a-fA-F]+)\s+" + re.escape(symbol) + r"\s*$", map_text, re.MULTILINE)
    if not match:
        raise SystemExit(f"{symbol} not in the link map")
    return int(match.group(1), 16)


def main(image_path, map_path, symbol):
    data = bytearray(open(image_path, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    opt = pe + 24
    if struct.unpack_from("<H", data, opt)[0] != 0x10B:
        raise SystemExit("not a PE32 image")
    image_base = struct.unpack_from("<I", data, opt + 28)[0]
    if struct.unpack_from("<I", data, opt + 92)[0] <= 10:
        raise SystemExit("no room for data directory 10")
    rva = symbol_address(open(map_path, encoding="latin-1").read(), symbol) - image_base
    nsections, opt_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(nsections):
        _, vsize, va, rsize, raw = struct.unpack_from("<8sIIII", data, opt + opt_size + 40 * i)
        if va <= rva < va + min(vsize, rsize):
            break
    else:
        raise SystemExit(f"{symbol} at RVA {rva:#x} lies in no section's file data")
    if rva % 4:
        raise SystemExit("a load configuration off a 4-byte boundary keeps the image from starting")
    # The directory says 64 whatever the structure's own Size: Windows XP
    # requires exactly that for x86 images, and later loaders read the
    # structure's Size field for the fields past 64 (as for x86 CFG images).
    struct.pack_into("<II", data, opt + 96 + 8 * 10, rva, 64)
    # A checksum the linker wrote would no longer match; 0 means none.
    struct.pack_into("<I", data, opt + 64, 0)
    open(image_path, "wb").write(data)


if __name__ == "__main__":
    main(*sys.argv[1:4])
