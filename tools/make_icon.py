#!/usr/bin/env python3
"""Draws the updater's icon (resources/updater.ico): a blue rounded square
with a white arrow coming down onto a tray. Sizes 16, 32 and 48, anti-aliased
by supersampling, stored as 32-bit images. Usage: make_icon.py OUTPUT.ico"""
import struct
import sys

BLUE = (0x1F, 0x6F, 0xB2)
WHITE = (0xFF, 0xFF, 0xFF)


def inside_rounded_square(x, y):
    r = 0.22
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and 0 <= x <= 1 and 0 <= y <= 1


def inside_arrow(x, y):
    shaft = 0.43 <= x <= 0.57 and 0.16 <= y <= 0.50
    head = 0.44 <= y <= 0.68 and abs(x - 0.5) <= (0.68 - y) * 1.05
    tray = 0.76 <= y <= 0.86 and 0.22 <= x <= 0.78
    sides = 0.62 <= y <= 0.86 and (0.22 <= x <= 0.32 or 0.68 <= x <= 0.78)
    return shaft or head or tray or sides


def render(size, samples=4):
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            cover = arrow = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    if inside_rounded_square(x, y):
                        cover += 1
                        arrow += inside_arrow(x, y)
            n = samples * samples
            mix = arrow / cover if cover else 0
            rgb = tuple(round(b * (1 - mix) + w * mix) for b, w in zip(BLUE, WHITE))
            row.append(rgb + (round(255 * cover / n),))
        pixels.append(row)
    return pixels


def dib(size):
    pixels = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    body = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    return header + body + bytes(mask_row * size)


def main():
    images = [(s, dib(s)) for s in (16, 32, 48)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    open(sys.argv[1], "wb").write(out)


if __name__ == "__main__":
    main()
