#!/usr/bin/env python3
"""Draws the lamp bitmaps (157 grey, 158 red, 159 green) and the application icon (128) as
16-colour PNG files. Standard library only; run it from anywhere to regenerate the files."""

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


def icon(size):
    """A 5.25-inch diskette: black jacket, hub hole, head window and write-protect notch."""
    s = size / 32.0
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            fx, fy = (x + 0.5) / s, (y + 0.5) / s
            colour = None
            if 2 <= fx < 30 and 2 <= fy < 30:
                colour = NAVY
                if 29 <= fx < 30 or 29 <= fy < 30:
                    colour = BLACK
                if fx >= 27 and 8 <= fy < 12:
                    colour = None  # write-protect notch
                hub = (fx - 16) ** 2 + (fy - 13) ** 2
                if hub <= 4.5 ** 2:
                    colour = WHITE
                if hub <= 2.5 ** 2:
                    colour = None
                if 14 <= fx < 18 and 19 <= fy < 28:
                    colour = GREY  # head window
                if 6 <= fx < 26 and 3 <= fy < 7:
                    colour = WHITE  # label
                    if 8 <= fx < 24 and 4.5 <= fy < 5.5:
                        colour = RED
            row.append(MAGENTA if colour is None else colour)
        rows.append(row)
    return rows


png(os.path.join(HERE, "lamp157.png"), lamp(GREY, SILVER, BLACK))
png(os.path.join(HERE, "lamp158.png"), lamp(RED, YELLOW, DRED))
png(os.path.join(HERE, "lamp159.png"), lamp(GREEN, WHITE, DGREEN))
png(os.path.join(HERE, "icon128_32.png"), icon(32), transparent=MAGENTA)
png(os.path.join(HERE, "icon128_16.png"), icon(16), transparent=MAGENTA)
