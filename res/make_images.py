#!/usr/bin/env python3
"""Draws the lamp bitmaps (157 grey, 158 red, 159 green) as 16-colour PNG files. Standard
library only; run it from anywhere to regenerate the files. The application icon is
diskwright.svg, drawn into PNGs by the build."""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# The classic 16-colour palette, so the pictures keep the look of 16-colour resources.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DRED, DGREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)


def png(path, pixels, transparent=None):
    """Writes an indexed PNG; `transparent` is a palette index drawn as see-through."""
    height = len(pixels)
    width = len(pixels[0])
    raw = b"".join(b"\x00" + bytes(row) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0))
    out += chunk(b"PLTE", b"".join(bytes(c) for c in PALETTE))
    if transparent is not None:
        out += chunk(b"tRNS", bytes(255 if i != transparent else 0 for i in range(16)))
    out += chunk(b"IDAT", zlib.compress(raw, 9))
    out += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)


def lamp(body, shine, shade):
    """A round lamp of 15 x 15 on the dialog's grey, lit from the upper left."""
    size = 15
    c = 7.0
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            d2 = (x - c) ** 2 + (y - c) ** 2
            if d2 > 7.4 ** 2:
                row.append(SILVER)
            elif d2 > 6.3 ** 2:
                row.append(GREY if x + y < 2 * c else WHITE if x + y > 2 * c + 2 else GREY)
            elif (x - 5) ** 2 + (y - 5) ** 2 <= 1.1:
                row.append(WHITE)
            elif (x - c) + (y - c) > 5:
                row.append(shade)
            else:
                row.append(shine if (x - 5) ** 2 + (y - 5) ** 2 <= 8 else body)
        rows.append(row)
    return rows


png(os.path.join(HERE, "lamp157.png"), lamp(GREY, SILVER, BLACK))
png(os.path.join(HERE, "lamp158.png"), lamp(RED, YELLOW, DRED))
png(os.path.join(HERE, "lamp159.png"), lamp(GREEN, WHITE, DGREEN))
