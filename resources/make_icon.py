#!/usr/bin/env python3
"""Draws Snapferry's application icon: a photo riding on a ferry over waves.

Writes icons/app_icon_<n>.png for n in 16, 24, 32, 48, 64, 128 and 256, and
app_icon.ico holding the same seven images as PNG entries. Only the standard
library is used (zlib and struct), so the icon can be remade anywhere:

    python3 resources/make_icon.py
"""

import math
import os
import struct
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
HERE = os.path.dirname(os.path.abspath(__file__))

SKY_TOP = (30, 136, 229)
SKY_BOTTOM = (13, 71, 161)
WATER = (79, 195, 247)
HULL = (255, 112, 67)
HULL_STRIPE = (255, 255, 255)
CARD = (250, 250, 250)
PICTURE_SKY = (144, 202, 249)
HILL = (67, 160, 71)
SUN = (255, 213, 79)


def rounded_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_hull(x, y):
    # A trapezoid: the deck is wider than the keel.
    top, bottom = 0.60, 0.76
    if y < top or y > bottom:
        return False
    t = (y - top) / (bottom - top)
    left = 0.12 + t * 0.12
    right = 0.88 - t * 0.10
    return left <= x <= right


def colour_at(x, y):
    """The colour (r, g, b) at a point of the unit square, or None."""
    if not rounded_rect(x, y, 0.02, 0.02, 0.98, 0.98, 0.20):
        return None
    colour = tuple(int(a + (b - a) * y) for a, b in zip(SKY_TOP, SKY_BOTTOM))
    if y > 0.80 + 0.025 * math.sin(x * 2 * math.pi * 2.5):
        colour = WATER
    if inside_hull(x, y):
        colour = HULL_STRIPE if 0.655 <= y <= 0.675 else HULL
    # The photo stands on the deck like the ferry's cabin.
    if 0.26 <= x <= 0.74 and 0.20 <= y <= 0.60:
        colour = CARD
        if 0.31 <= x <= 0.69 and 0.25 <= y <= 0.53:
            colour = PICTURE_SKY
            if (x - 0.60) ** 2 + (y - 0.33) ** 2 <= 0.045 ** 2:
                colour = SUN
            # Two hills.
            if y >= 0.53 - 0.20 * max(0.0, 1 - abs(x - 0.42) / 0.16):
                colour = HILL
            if y >= 0.53 - 0.12 * max(0.0, 1 - abs(x - 0.60) / 0.12):
                colour = HILL
    return colour


def render(size):
    """RGBA rows, each pixel averaged over a grid of samples."""
    samples = 4 if size >= 64 else 6
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((px + (sx + 0.5) / samples) / size,
                                  (py + (sy + 0.5) / samples) / size)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        covered += 1
            if covered:
                row += bytes((r // covered, g // covered, b // covered,
                              255 * covered // (samples * samples)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body +
                struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """An icon file whose entries are PNG images, smallest first."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    for size, data in images:
        dimension = 0 if size >= 256 else size  # 0 means 256
        entries += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32,
                               len(data), offset)
        offset += len(data)
    return header + entries + b"".join(data for _, data in images)


def main():
    os.makedirs(os.path.join(HERE, "icons"), exist_ok=True)
    images = []
    for size in SIZES:
        data = png(size, render(size))
        with open(os.path.join(HERE, "icons", "app_icon_%d.png" % size),
                  "wb") as f:
            f.write(data)
        images.append((size, data))
    with open(os.path.join(HERE, "app_icon.ico"), "wb") as f:
        f.write(ico(images))


if __name__ == "__main__":
    main()
