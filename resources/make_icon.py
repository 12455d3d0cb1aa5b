#!/usr/bin/env python3
"""Draws icon group 1: a box with a downward arrow, 32x32 and 16x16, 8 bpp."""
import struct
import sys

PALETTE = [(0, 0, 0), (255, 255, 255), (40, 90, 170), (90, 150, 225),
           (200, 150, 70), (235, 195, 120), (30, 140, 60), (70, 190, 100)]


def draw(size):
    """Returns rows (top first) of palette indexes; None is transparent."""
    s = size / 32.0
    px = [[None] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = c

    rect(3, 14, 29, 30, 0)       # box outline
    rect(4, 15, 28, 29, 4)       # box body
    rect(4, 15, 28, 19, 5)       # lid highlight
    rect(14, 15, 18, 29, 2)      # tape
    rect(12, 1, 20, 10, 0)       # arrow shaft outline
    rect(13, 2, 19, 10, 7)       # arrow shaft
    for i in range(7):           # arrow head
        rect(9 + i, 9 + i, 23 - i, 10 + i, 6 if i < 6 else 0)
    return px


def image(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    palette += b"\0" * (1024 - len(palette))
    xor = b""
    mask = b""
    stride_mask = ((size + 31) // 32) * 4
    for row in reversed(px):
        xor += bytes(c if c is not None else 0 for c in row)
        bits = 0
        line = bytearray(stride_mask)
        for x, c in enumerate(row):
            if c is None:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
        del bits
    return header + palette + xor + mask


def build():
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(build())
