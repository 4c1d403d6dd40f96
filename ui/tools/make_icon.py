#!/usr/bin/env python3
"""Turns one text pixel-art icon into a 16-colour .ico.

    make_icon.py PALETTE SOURCE.txt OUT.ico

The palette file maps one letter to an RGB colour ("K 000000 black"); "." is
transparent. The source holds one or more square images (16 or 32 rows of as
many letters), separated by blank lines; "#" lines are comments. Every image
becomes one 4-bit entry of the .ico, with its mask. The .ico always holds 16,
24 and 32 pixel images (the small-icon sizes at 96, 144 and 192 DPI): a size
the source lacks is its 16 pixel image enlarged, each pixel repeated.
"""
import struct
import sys


def fail(message):
    sys.exit("make_icon: " + message)


def read_palette(path):
    letters, colours = [], []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            letter, rgb = line.split()[:2]
            letters.append(letter)
            colours.append(int(rgb, 16))
    if len(letters) != 16:
        fail(f"{path}: the palette needs 16 colours, has {len(letters)}")
    return {c: i for i, c in enumerate(letters)}, colours


def read_images(path, index):
    images, rows = [], []
    with open(path, encoding="utf-8") as f:
        lines = [l.rstrip("\n") for l in f] + [""]
    for number, line in enumerate(lines, 1):
        if line.startswith("#"):
            continue
        if line.strip():
            for ch in line:
                if ch != "." and ch not in index:
                    fail(f"{path}:{number}: '{ch}' is not in the palette")
            rows.append(line)
            continue
        if rows:
            size = len(rows)
            if size not in (16, 32) or any(len(r) != size for r in rows):
                fail(f"{path}: an image must be 16x16 or 32x32 (ends at line {number})")
            images.append(rows)
            rows = []
    if not images:
        fail(f"{path}: no image")
    return images


SIZES = (16, 24, 32)


def enlarged(rows, size):
    """Nearest-neighbour: pixel (x, y) of the result is source pixel (x*n/size, y*n/size)."""
    n = len(rows)
    return ["".join(rows[y * n // size][x * n // size] for x in range(size)) for y in range(size)]


def every_size(images, path):
    by_size = {len(rows): rows for rows in images}
    if 16 not in by_size:
        fail(f"{path}: a 16x16 image is needed")
    return [by_size.get(size) or enlarged(by_size[16], size) for size in SIZES]


def packed_rows(bits_per_pixel, values, size):
    """Bottom-up rows, each padded to 32 bits."""
    out = bytearray()
    for y in reversed(range(size)):
        acc, n, row = 0, 0, bytearray()
        for x in range(size):
            acc = (acc << bits_per_pixel) | values[y][x]
            n += bits_per_pixel
            if n == 8:
                row.append(acc)
                acc, n = 0, 0
        while len(row) % 4:
            row.append(0)
        out += row
    return out


def entry_bits(rows, index, colours):
    size = len(rows)
    colour = [[0 if c == "." else index[c] for c in r] for r in rows]
    mask = [[1 if c == "." else 0 for c in r] for r in rows]
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", c & 0xFF, (c >> 8) & 0xFF, c >> 16, 0) for c in colours)
    return header + palette + packed_rows(4, colour, size) + packed_rows(1, mask, size)


def main():
    if len(sys.argv) != 4:
        fail("usage: make_icon.py PALETTE SOURCE.txt OUT.ico")
    index, colours = read_palette(sys.argv[1])
    images = every_size(read_images(sys.argv[2], index), sys.argv[2])
    blobs = [entry_bits(rows, index, colours) for rows in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for rows, blob in zip(images, blobs):
        size = len(rows)
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    out += b"".join(blobs)
    with open(sys.argv[3], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
