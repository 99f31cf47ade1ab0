"""Writers for the file formats the program embeds: BMP, ICO, PNG (previews only) and the
skin container. Pixel data comes in top-down rows; the writers store it the way each
format wants (BMP and ICO bottom-up).
"""

import struct
import zlib

BITMAPFILEHEADER_SIZE = 14
BITMAPINFOHEADER_SIZE = 40
BI_RGB = 0
PIXELS_PER_METRE_96_DPI = 3780

ICONDIR_SIZE = 6
ICONDIRENTRY_SIZE = 16
ICON_TYPE = 1

SKIN_MAGIC = b"ITRSKIN1"


def _row_stride(width, bits):
    return ((width * bits + 31) // 32) * 4


def _info_header(width, height, bits, image_size, colours_used=0, ppm=PIXELS_PER_METRE_96_DPI):
    return struct.pack(
        "<IiiHHIIiiII",
        BITMAPINFOHEADER_SIZE,
        width,
        height,
        1,
        bits,
        BI_RGB,
        image_size,
        ppm,
        ppm,
        colours_used,
        0,
    )


def _file_header(pixel_offset, file_size):
    return struct.pack("<2sIHHI", b"BM", file_size, 0, 0, pixel_offset)


def _check_size(width, height, count, what):
    if width <= 0 or height <= 0 or count != width * height:
        raise ValueError("%s: %d pixels for %d x %d" % (what, count, width, height))


def bmp24(width, height, rgb):
    """rgb: width*height (r, g, b) tuples, top row first."""
    _check_size(width, height, len(rgb), "bmp24")
    stride = _row_stride(width, 24)
    pad = b"\0" * (stride - width * 3)
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for r, g, b in rgb[y * width : (y + 1) * width]:
            row += bytes((b, g, r))
        rows.append(bytes(row) + pad)
    bits = b"".join(rows)
    offset = BITMAPFILEHEADER_SIZE + BITMAPINFOHEADER_SIZE
    return _file_header(offset, offset + len(bits)) + _info_header(width, height, 24, len(bits)) + bits


def bmp8(width, height, palette, indices):
    """palette: 256 (r, g, b) tuples; indices: width*height bytes, top row first."""
    _check_size(width, height, len(indices), "bmp8")
    if len(palette) != 256:
        raise ValueError("bmp8: palette needs 256 colours, got %d" % len(palette))
    stride = _row_stride(width, 8)
    pad = b"\0" * (stride - width)
    rows = [bytes(indices[y * width : (y + 1) * width]) + pad for y in range(height - 1, -1, -1)]
    bits = b"".join(rows)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = BITMAPFILEHEADER_SIZE + BITMAPINFOHEADER_SIZE + len(table)
    header = _info_header(width, height, 8, len(bits), colours_used=256)
    return _file_header(offset, offset + len(bits)) + header + table + bits


def _bgra_bottom_up(width, height, rgba):
    out = bytearray()
    for y in range(height - 1, -1, -1):
        for r, g, b, a in rgba[y * width : (y + 1) * width]:
            out += bytes((b, g, r, a))
    return bytes(out)


def bmp32(width, height, rgba):
    """rgba: width*height (r, g, b, a) tuples with straight (not premultiplied) alpha."""
    _check_size(width, height, len(rgba), "bmp32")
    bits = _bgra_bottom_up(width, height, rgba)
    offset = BITMAPFILEHEADER_SIZE + BITMAPINFOHEADER_SIZE
    return _file_header(offset, offset + len(bits)) + _info_header(width, height, 32, len(bits)) + bits


def icon_image(size, rgba):
    """One icon image: header with doubled height, BGRA bits, then the AND mask.

    The mask marks fully transparent pixels, so systems that ignore alpha still cut the
    shape out.
    """
    _check_size(size, size, len(rgba), "icon image")
    colour = _bgra_bottom_up(size, size, rgba)
    mask_stride = _row_stride(size, 1)
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(size):
            if rgba[y * size + x][3] == 0:
                row[x >> 3] |= 0x80 >> (x & 7)
        mask += row
    # Icon images leave the resolution fields 0.
    header = _info_header(size, size * 2, 32, len(colour) + len(mask), ppm=0)
    return header + colour + bytes(mask)


def ico(images):
    """images: list of (size, rgba), written in the given order.

    Colour count, reserved, planes and bit count of every directory entry are 0: the
    depth is stated in each image's own header.
    """
    out = bytearray(struct.pack("<HHH", 0, ICON_TYPE, len(images)))
    blobs = [icon_image(size, rgba) for size, rgba in images]
    offset = ICONDIR_SIZE + ICONDIRENTRY_SIZE * len(images)
    for (size, _), blob in zip(images, blobs):
        if not 1 <= size <= 256:
            raise ValueError("icon size %d out of range" % size)
        dim = size & 0xFF  # 256 is written as 0
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 0, 0, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def png(width, height, rgba):
    """A plain RGBA PNG; used for previews only."""
    _check_size(width, height, len(rgba), "png")
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for px in rgba[y * width : (y + 1) * width]:
            raw += bytes(px)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", ihdr)
        + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + chunk(b"IEND", b"")
    )


def skin_container(entries):
    """entries: list of (name, bytes). Magic, u32 count, then per entry u16 name length,
    ASCII name, u32 size and the bytes, all little-endian."""
    out = bytearray(SKIN_MAGIC)
    out += struct.pack("<I", len(entries))
    for name, data in entries:
        raw = name.encode("ascii")
        if len(raw) > 0xFFFF:
            raise ValueError("skin entry name too long: %r" % name)
        out += struct.pack("<H", len(raw)) + raw + struct.pack("<I", len(data)) + data
    return bytes(out)
