#!/usr/bin/env python3
"""Draws icon group 1: a parcel with a green arrow pointing into it, as
32x32 and 16x16 images of 8 bits per pixel.

The shapes are described once on a 32-unit grid and rasterised at each size
(pixel centres), each with a one-pixel outline, so both sizes stay crisp.
"""
import struct
import sys

# Palette indexes. The images keep 8 bits per pixel but declare only the
# colours they use (biClrUsed), which saves 2 KB of empty palette.
BLACK, WHITE, TAPE, TAPE_LIGHT, BOX, BOX_LIGHT, ARROW_DARK, ARROW = range(8)
PALETTE = [(0, 0, 0), (255, 255, 255), (40, 90, 170), (90, 150, 225),
           (190, 135, 60), (235, 195, 120), (20, 110, 45), (70, 190, 100)]


def inside_polygon(x, y, points):
    """Even-odd rule for the point (x, y)."""
    hit = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


BOX_SHAPE = rect(3, 14, 29, 30)
LID = rect(3, 14, 29, 19)
TAPE_SHAPE = rect(13.5, 14, 18.5, 30)
ARROW_SHAPE = [(12, 1), (20, 1), (20, 9), (26, 9), (16, 20), (6, 9), (12, 9)]

# (shape, fill, outline or None), painted in order.
LAYERS = [
    (BOX_SHAPE, BOX, None),
    (LID, BOX_LIGHT, None),
    (TAPE_SHAPE, TAPE, None),
    (BOX_SHAPE, None, BLACK),
    (ARROW_SHAPE, ARROW, ARROW_DARK),
]


def draw(size):
    """Returns rows (top first) of palette indexes; None is transparent."""
    unit = 32.0 / size
    px = [[None] * size for _ in range(size)]
    for shape, fill, outline in LAYERS:
        mask = [[inside_polygon((x + 0.5) * unit, (y + 0.5) * unit, shape) for x in range(size)]
                for y in range(size)]

        def covered(x, y):
            return 0 <= x < size and 0 <= y < size and mask[y][x]

        for y in range(size):
            for x in range(size):
                if not mask[y][x]:
                    continue
                edge = not all(covered(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                if outline is not None and edge:
                    px[y][x] = outline
                elif fill is not None:
                    px[y][x] = fill
    return px


def image(size):
    px = draw(size)
    # BITMAPINFOHEADER: the height covers the colour image and the mask.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, len(PALETTE), 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour = b""
    mask = b""
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(px):  # bottom-up
        colour += bytes(c if c is not None else 0 for c in row)
        line = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c is None:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + palette + colour + mask


def build():
    sizes = (32, 16)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(build())
