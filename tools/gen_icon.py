#!/usr/bin/env python3
"""Draws the application icon: an amber lightning bolt on a rounded dark-blue tile with
cooling fins, in 16, 32, 48, 64 and 128 pixels, 32 bits per pixel with alpha, written as
an .ico of uncompressed bitmaps with AND masks (the older icon loaders do not read PNG
images)."""

import argparse
import os
import struct
import sys

SIZES_PX = (16, 32, 48, 64, 128)
SUBSAMPLES = 4  # per pixel and axis; the edges are anti-aliased by averaging

# Shapes in a unit square, y pointing down.
TILE_MARGIN = 0.04
TILE_RADIUS = 0.20
BOLT = [(0.56, 0.10), (0.28, 0.56), (0.47, 0.56), (0.37, 0.92),
        (0.74, 0.43), (0.55, 0.43), (0.71, 0.10)]
FIN_ROWS = (0.30, 0.50, 0.70)  # heat-sink fins behind the bolt, from 48 px up
FIN_HALF_HEIGHT = 0.035

TILE_TOP = (0x2A, 0x4D, 0x7A)
TILE_BOTTOM = (0x10, 0x1E, 0x36)
FIN = (0x48, 0x64, 0x8C)
BOLT_TOP = (0xFF, 0xE0, 0x5A)
BOLT_BOTTOM = (0xFF, 0x86, 0x1C)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def polygon_spans(points, y):
    """x ranges inside the polygon on the horizontal line y (even-odd rule)."""
    xs = []
    n = len(points)
    for i in range(n):
        (x0, y0), (x1, y1) = points[i], points[(i + 1) % n]
        if (y0 <= y < y1) or (y1 <= y < y0):
            xs.append(x0 + (y - y0) * (x1 - x0) / (y1 - y0))
    xs.sort()
    return [(xs[k], xs[k + 1]) for k in range(0, len(xs) - 1, 2)]


def tile_span(y):
    """x range of the rounded tile on line y, or None."""
    lo, hi = TILE_MARGIN, 1.0 - TILE_MARGIN
    if not lo <= y <= hi:
        return None
    r = TILE_RADIUS
    inset = 0.0
    dy = max(lo + r - y, y - (hi - r), 0.0)
    if dy > 0:
        inset = r - (r * r - dy * dy) ** 0.5
    return (lo + inset, hi - inset)


def inside(spans, x):
    return any(a <= x < b for a, b in spans)


def render(size):
    """Rows of straight-alpha (r, g, b, a) tuples, top row first."""
    n = SUBSAMPLES
    step = 1.0 / (size * n)
    show_fins = size >= 48
    rows = []
    for py in range(size):
        acc = [[0.0, 0.0, 0.0, 0.0] for _ in range(size)]
        for sy in range(n):
            y = (py * n + sy + 0.5) * step
            tile = tile_span(y)
            if tile is None:
                continue
            bolt = polygon_spans(BOLT, y)
            fin = show_fins and any(abs(y - f) < FIN_HALF_HEIGHT for f in FIN_ROWS)
            tile_colour = mix(TILE_TOP, TILE_BOTTOM, y)
            # A soft sheen over the upper part of the tile.
            if y < 0.45:
                tile_colour = mix(tile_colour, (0xFF, 0xFF, 0xFF), 0.10 * (0.45 - y) / 0.45)
            bolt_colour = mix(BOLT_TOP, BOLT_BOTTOM, (y - 0.10) / 0.82)
            for px in range(size):
                cell = acc[px]
                for sx in range(n):
                    x = (px * n + sx + 0.5) * step
                    if not tile[0] <= x <= tile[1]:
                        continue
                    if inside(bolt, x):
                        c = bolt_colour
                    elif fin and 0.14 < x < 0.86:
                        c = FIN
                    else:
                        c = tile_colour
                    cell[0] += c[0]
                    cell[1] += c[1]
                    cell[2] += c[2]
                    cell[3] += 1.0
        row = []
        for r, g, b, covered in acc:
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / covered), round(g / covered), round(b / covered),
                            round(255 * covered / (n * n))))
        rows.append(row)
    return rows


def dib(size, rows):
    """BITMAPINFOHEADER (height doubled for the mask), bottom-up BGRA, then the AND mask
    (1 = transparent), each mask row padded to 32 bits."""
    xor = bytearray()
    mask = bytearray()
    mask_row_bytes = (size + 31) // 32 * 4
    for row in reversed(rows):
        bits = bytearray(mask_row_bytes)
        for x, (r, g, b, a) in enumerate(row):
            xor += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def make_ico():
    images = [(size, dib(size, render(size))) for size in SIZES_PX]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", required=True, help="the .ico file to write")
    args = parser.parse_args()
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out + ".tmp", "wb") as f:
        f.write(make_ico())
    os.replace(args.out + ".tmp", args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
