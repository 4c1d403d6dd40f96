#!/usr/bin/env python3
"""Draws the installer's finish-page picture: 164 by 314 pixels, a pale blue
fading to white, with the program's 32 pixel icon enlarged three times.

    make_wizard_bitmap.py PALETTE ICON.txt OUT.bmp

PALETTE and ICON.txt are the window program's icon sources (ui/icons), so the
picture follows the icon.
"""
import struct
import sys

WIDTH, HEIGHT, SCALE = 164, 314, 3


def fail(message):
    sys.exit("make_wizard_bitmap: " + message)


def read_palette(path):
    colours = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                letter, rgb = line.split()[:2]
                colours[letter] = int(rgb, 16)
    return colours


def read_icon(path):
    """The first 32 by 32 image of the source."""
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("#"):
                continue
            if not line.strip():
                if len(rows) == 32:
                    return rows
                rows = []
                continue
            rows.append(line)
    if len(rows) == 32:
        return rows
    fail(f"{path}: no 32x32 image")


def main():
    if len(sys.argv) != 4:
        fail("usage: make_wizard_bitmap.py PALETTE ICON.txt OUT.bmp")
    colours = read_palette(sys.argv[1])
    icon = read_icon(sys.argv[2])
    pixels = []
    for y in range(HEIGHT):
        # From a pale blue at the top to white at the bottom.
        t = y / (HEIGHT - 1)
        pixels.append([(int(0xD8 + (0xFF - 0xD8) * t), int(0xE8 + (0xFF - 0xE8) * t), 0xFF)] * WIDTH)
    left = (WIDTH - 32 * SCALE) // 2
    top = 60
    for y, row in enumerate(icon):
        for x, letter in enumerate(row):
            if letter == ".":
                continue
            if letter not in colours:
                fail(f"'{letter}' is not in the palette")
            c = colours[letter]
            for dy in range(SCALE):
                line = pixels[top + y * SCALE + dy]
                for dx in range(SCALE):
                    line[left + x * SCALE + dx] = (c >> 16, (c >> 8) & 0xFF, c & 0xFF)
    stride = (WIDTH * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        body += line + bytes(stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(body), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    with open(sys.argv[3], "wb") as f:
        f.write(header + info + body)


if __name__ == "__main__":
    main()
