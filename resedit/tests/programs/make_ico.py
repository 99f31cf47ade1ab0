#!/usr/bin/env python3
"""Writes an .ico file of solid-colour 32-bit images.

    make_ico.py OUT SIZE:RRGGBB [SIZE:RRGGBB ...] [--planes-bits P B]

Each image is a BITMAPINFOHEADER (height doubled for the AND mask), SIZE x SIZE BGRA
pixels and an all-zero AND mask. The directory's plane and bit counts are 0 unless given,
as in the program's own icon file; SIZE 256 is stored as width and height 0."""
import struct
import sys


def image(size, rgb):
    r, g, b = rgb
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytes([b, g, r, 255]) * (size * size)
    mask = b"\0" * (((size + 31) // 32) * 4 * size)
    return header + pixels + mask


def ico(images, planes=0, bits=0):
    out = struct.pack("<HHH", 0, 1, len(images))
    blobs = [image(s, c) for s, c in images]
    offset = 6 + 16 * len(images)
    for (s, _), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, planes, bits, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def main(argv):
    planes = bits = 0
    if "--planes-bits" in argv:
        i = argv.index("--planes-bits")
        planes, bits = int(argv[i + 1]), int(argv[i + 2])
        del argv[i:i + 3]
    out, images = argv[1], []
    for a in argv[2:]:
        s, c = a.split(":")
        images.append((int(s), (int(c[0:2], 16), int(c[2:4], 16), int(c[4:6], 16))))
    with open(out, "wb") as f:
        f.write(ico(images, planes, bits))


if __name__ == "__main__":
    main(sys.argv)
