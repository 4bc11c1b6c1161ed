#!/usr/bin/env python3
"""Draws the program icon (a safe door on an ink-dark stone) at several sizes as PNG files.

Pure Python (zlib only), so it runs anywhere; the PNGs it wrote are kept in
resources/icon/ and only need to be redrawn when the design changes.
"""
import math
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
SUPERSAMPLE = 4


def rounded_square(x, y, inset, radius):
    """Signed distance (negative inside) to a square [inset, 1-inset] with round corners."""
    cx = min(max(x, inset + radius), 1 - inset - radius)
    cy = min(max(y, inset + radius), 1 - inset - radius)
    return math.hypot(x - cx, y - cy) - radius


def colour_at(x, y):
    """RGBA of the design at (x, y) in the unit square."""
    ink = (34, 40, 49)
    steel = (148, 160, 172)
    rim = (88, 99, 112)
    gold = (226, 178, 60)
    if rounded_square(x, y, 0.04, 0.18) > 0:
        return (0, 0, 0, 0)
    d = math.hypot(x - 0.5, y - 0.5)
    colour = ink
    # A faint lighter band at the top gives the stone some depth.
    if y < 0.5:
        shade = int(18 * (0.5 - y) / 0.5)
        colour = tuple(min(255, c + shade) for c in ink)
    if d < 0.36:
        colour = rim
    if d < 0.31:
        colour = steel
    # Eight bolts around the door.
    for k in range(8):
        a = k * math.pi / 4
        if math.hypot(x - (0.5 + 0.335 * math.cos(a)), y - (0.5 + 0.335 * math.sin(a))) < 0.028:
            colour = gold
    # The keyhole: a round head and a tapering slot.
    if math.hypot(x - 0.5, y - 0.45) < 0.075:
        colour = gold
    if 0.45 <= y <= 0.66 and abs(x - 0.5) < 0.03 + (y - 0.45) * 0.12:
        colour = gold
    return colour + (255,)


def render(size):
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = bytearray([0])  # PNG filter type 0 for this row
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3]:
                row += bytes(int(acc[i] / acc[3] + 0.5) for i in range(3))
            else:
                row += b"\0\0\0"
            row.append(int(alpha + 0.5))
        rows.append(bytes(row))
    return b"".join(rows)


def png(size, pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/icon"
    for size in SIZES:
        with open(f"{out}/ferrocask-{size}.png", "wb") as f:
            f.write(png(size, render(size)))


if __name__ == "__main__":
    main()
