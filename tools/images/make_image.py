#!/usr/bin/env python3
"""Turns a text picture into a 16-colour Windows bitmap or icon.

A picture is an optional run of '# comment' lines, one line 'size W H', then
H rows of W characters: a hex digit 0-f picks a colour of the standard
Windows 16-colour palette, '.' is transparent (icons only; in a bitmap it
is colour 0).  An icon holds two W x H images: the 16-colour one and a
monochrome one made from it (light colours white, dark ones black).

usage: make_image.py PICTURE OUTPUT.bmp|OUTPUT.ico
"""
import struct
import sys

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
TRANSPARENT = -1


def fail(path, line, why):
    sys.exit(f"{path}:{line}: {why}")


def read_picture(path):
    width = height = None
    rows = []
    with open(path, encoding="ascii") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\r\n")
            if line.startswith("#") or (width is None and not line.strip()):
                continue
            if width is None:
                parts = line.split()
                if len(parts) != 3 or parts[0] != "size":
                    fail(path, number, "expected 'size W H'")
                width, height = int(parts[1]), int(parts[2])
                if not (0 < width <= 256 and 0 < height <= 256):
                    fail(path, number, "size out of range")
                continue
            if len(rows) == height:
                if line.strip():
                    fail(path, number, "more rows than the size says")
                continue
            if len(line) != width:
                fail(path, number, f"row has {len(line)} characters, not {width}")
            row = []
            for ch in line:
                if ch == ".":
                    row.append(TRANSPARENT)
                elif ch in "0123456789abcdefABCDEF":
                    row.append(int(ch, 16))
                else:
                    fail(path, number, f"unknown colour {ch!r}")
            rows.append(row)
    if width is None or len(rows) != height:
        fail(path, 0, "picture incomplete")
    return width, height, rows


def stride(width, bits):
    return ((width * bits + 31) // 32) * 4


def pack_rows(rows, width, bits, value):
    """Rows bottom-up, each padded to 4 bytes; value(pixel) gives the bits."""
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride(width, bits))
        for x, pixel in enumerate(row):
            v = value(pixel)
            bit = x * bits
            line[bit // 8] |= v << (8 - bits - bit % 8)
        out += line
    return bytes(out)


def palette_bytes(colours):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in colours)


def info_header(width, height, bits, colours, image_bytes):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_bytes, 0, 0, colours, 0)


def bitmap(width, height, rows):
    pixels = pack_rows(rows, width, 4, lambda p: 0 if p == TRANSPARENT else p)
    header = info_header(width, height, 4, 16, len(pixels)) + palette_bytes(PALETTE)
    offset = 14 + len(header)
    return struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) + header + pixels


def luminance(index):
    r, g, b = PALETTE[index]
    return (77 * r + 150 * g + 29 * b) >> 8


def icon(width, height, rows):
    mask = pack_rows(rows, width, 1, lambda p: 1 if p == TRANSPARENT else 0)
    colour = pack_rows(rows, width, 4, lambda p: 0 if p == TRANSPARENT else p)
    mono = pack_rows(rows, width, 1, lambda p: 0 if p == TRANSPARENT or luminance(p) < 128 else 1)
    images = [
        (16, 4, info_header(width, 2 * height, 4, 16, len(colour) + len(mask)) + palette_bytes(PALETTE) + colour + mask),
        (2, 1, info_header(width, 2 * height, 1, 2, len(mono) + len(mask)) + palette_bytes([(0, 0, 0), (255, 255, 255)]) + mono + mask),
    ]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for colours, bits, data in images:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, colours % 256, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, target = sys.argv[1], sys.argv[2]
    width, height, rows = read_picture(source)
    if target.lower().endswith(".ico"):
        data = icon(width, height, rows)
    elif target.lower().endswith(".bmp"):
        data = bitmap(width, height, rows)
    else:
        sys.exit("make_image.py: the output must end in .bmp or .ico")
    with open(target, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
