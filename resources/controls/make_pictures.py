#!/usr/bin/env python3
"""Writes the eight 16 x 16 drive and folder pictures as 4-bit BMPs.

Run from this folder; the BMPs are committed, so the build does not need Python.
The bottom-left pixel of every picture is the colour the lists draw as transparent.
"""
import math
import struct

# The sixteen colours of the classic 4-bit palette, (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
INDEX = {'k': 0, 'm': 1, 'G': 2, 'o': 3, 'n': 4, 'p': 5, 't': 6, 's': 7, 'g': 8, 'r': 9,
         'L': 10, 'y': 11, 'b': 12, '.': 13, 'a': 14, 'w': 15}

CLOSED = [
    "................",
    "................",
    "..kkkk..........",
    ".kyyyyk.........",
    "kyyyyyykkkkkkkk.",
    "kwwwwwwwwwwwwwyk",
    "kwyyyyyyyyyyyyok",
    "kwyyyyyyyyyyyyok",
    "kwyyyyyyyyyyyyok",
    "kwyyyyyyyyyyyyok",
    "kwyyyyyyyyyyyyok",
    "kwyyyyyyyyyyyyok",
    "kwyyyyyyyyyyyyok",
    "kooooooooooooook",
    ".kkkkkkkkkkkkkk.",
    "................",
]


def open_folder(front, edge, outline):
    rows = [
        "................",
        "................",
        "..kkkk..........",
        ".kyyyyk.........",
        "kyyyyyykkkkkkk..",
        "kyoooooooooooyk.",
        "kyokkkkkkkkkkkkk",
        "kyokEEEEEEEEEEEk",
        "kykEFFFFFFFFFFk.",
        "kykEFFFFFFFFFFk.",
        "kkEFFFFFFFFFFk..",
        "kkEFFFFFFFFFFk..",
        "kEFFFFFFFFFFk...",
        "kkkkkkkkkkkkk...",
        "................",
        "................",
    ]
    return [r.replace('E', edge).replace('F', front).replace('k', outline) for r in rows]


OPEN = open_folder('y', 'w', 'k')
# The current folder: opened, its front highlighted and its outline blue.
CURRENT = open_folder('a', 'w', 'n')

FLOPPY = [
    "................",
    "nnnnnnnnnnnnnnn.",
    "nbbsssssssbbbbn.",
    "nbbsskksssbbbbn.",
    "nbbsskksssbbbbn.",
    "nbbsssssssbbbbn.",
    "nbbbbbbbbbbbbbn.",
    "nbbbbbbbbbbbbbn.",
    "nbwwwwwwwwwwwbn.",
    "nbwkkkkkkkkkwbn.",
    "nbwwwwwwwwwwwbn.",
    "nbwkkkkkkkkkwbn.",
    "nbwwwwwwwwwwwbn.",
    "nbwwwwwwwwwwwbn.",
    "nnnnnnnnnnnnnnn.",
    "................",
]

FIXED = [
    "................",
    "................",
    "................",
    "................",
    "....kkkkkkkkkkk.",
    "...kwwwwwwwwwsk.",
    "..kwwwwwwwwwsgk.",
    ".kkkkkkkkkkkkgk.",
    ".ksssssssssskgk.",
    ".ksLLssssssskk..",
    ".ksssssssssskk..",
    ".kgggggggggggk..",
    ".kkkkkkkkkkkkk..",
    "................",
    "................",
    "................",
]

NETWORK = [
    "................",
    "................",
    "..kkkkkkkkkkkk..",
    ".kwwwwwwwwwwwsk.",
    ".ksssssssssssgk.",
    ".ksLLssssssssgk.",
    ".kggggggggggggk.",
    ".kkkkkkkkkkkkkk.",
    ".......kk.......",
    ".......kk.......",
    "..kkkkkkkkkkkk..",
    "..kk........kk..",
    "..kk........kk..",
    ".kttk......kttk.",
    ".kkkk......kkkk.",
    "................",
]

RAM = [
    "................",
    "................",
    "................",
    "kkkkkkkkkkkkkkkk",
    "kGGGGGGGGGGGGGGk",
    "kGkkkGkkkGkkkGGk",
    "kGkkkGkkkGkkkGGk",
    "kGkkkGkkkGkkkGGk",
    "kGGGGGGGGGGGGGGk",
    "kGGGGGGGGGGGGGGk",
    "kyGyGyGyGyGyGyGk",
    "kyGyGyGyGyGyGyGk",
    "kkkkkkkkkkkkkkkk",
    "................",
    "................",
    "................",
]


def cdrom():
    rows = []
    for y in range(16):
        row = ""
        for x in range(16):
            d = math.hypot(x - 7.5, y - 7.5)
            if d > 7.4:
                row += '.'
            elif d > 6.5:
                row += 'k'
            elif d < 1.3:
                row += '.'
            elif d < 2.3:
                row += 'g'
            elif (x - 7.5) * (y - 7.5) < 0 and 3.0 < d < 5.5:
                row += 'w'  # the light catching the disc
            else:
                row += 'a' if x + y < 15 else 's'
        rows.append(row)
    return rows


PICTURES = {
    "OPENFOLDER_95": OPEN,
    "CLOSEDFOLDER_95": CLOSED,
    "CURRENTFOLDER_95": CURRENT,
    "FLOPPY_95": FLOPPY,
    "FIXED_95": FIXED,
    "NETWORK_95": NETWORK,
    "CDROM_95": cdrom(),
    "RAM_95": RAM,
}


def bmp4(rows):
    assert len(rows) == 16 and all(len(r) == 16 for r in rows), rows
    assert rows[15][0] == '.', "the bottom-left pixel is the transparent colour"
    pixels = b""
    for row in reversed(rows):  # bottom-up
        idx = [INDEX[c] for c in row]
        pixels += bytes((idx[i] << 4) | idx[i + 1] for i in range(0, 16, 2))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + palette + pixels


if __name__ == "__main__":
    for name, rows in PICTURES.items():
        with open(name.lower() + ".bmp", "wb") as f:
            f.write(bmp4(rows))
