"""Readers for the files this package writes (previews use them to show exactly what is
embedded). They accept only the forms written here and refuse anything else."""

import struct


class FormatError(ValueError):
    pass


def _need(data, offset, size, what):
    if offset < 0 or size < 0 or offset + size > len(data):
        raise FormatError("%s: needs bytes %d..%d of %d" % (what, offset, offset + size, len(data)))


def _dib(data, offset, what, height_divisor=1, palette_base=None):
    """Decode a BITMAPINFOHEADER DIB at offset -> (width, height, rgba top-down)."""
    _need(data, offset, 40, what)
    size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, offset)
    used = struct.unpack_from("<I", data, offset + 32)[0]
    if size != 40 or planes != 1 or compression != 0 or width <= 0 or height <= 0:
        raise FormatError("%s: unsupported header" % what)
    height //= height_divisor
    pos = offset + 40
    palette = None
    if bits == 8:
        count = used or 256
        _need(data, pos, count * 4, what + " palette")
        palette = [tuple(data[pos + 4 * i : pos + 4 * i + 3]) for i in range(count)]
        pos += count * 4
    if palette_base is not None:
        pos = palette_base
    stride = ((width * bits + 31) // 32) * 4
    _need(data, pos, stride * height, what + " pixels")
    out = [None] * (width * height)
    for row in range(height):
        y = height - 1 - row
        base = pos + row * stride
        for x in range(width):
            if bits == 32:
                b, g, r, a = data[base + 4 * x : base + 4 * x + 4]
            elif bits == 24:
                b, g, r = data[base + 3 * x : base + 3 * x + 3]
                a = 255
            elif bits == 8:
                idx = data[base + x]
                if idx >= len(palette):
                    raise FormatError("%s: colour index %d outside palette" % (what, idx))
                b, g, r = palette[idx]
                a = 255
            else:
                raise FormatError("%s: %d bits per pixel unsupported" % (what, bits))
            out[y * width + x] = (r, g, b, a)
    return width, height, out


def read_bmp(data, what="bmp"):
    _need(data, 0, 14, what)
    magic, file_size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
    if magic != b"BM" or file_size != len(data):
        raise FormatError("%s: not a BMP file of this length" % what)
    return _dib(data, 14, what, palette_base=offset)


def read_ico(data, what="ico"):
    """-> list of (size, rgba top-down)."""
    _need(data, 0, 6, what)
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise FormatError("%s: not an icon file" % what)
    images = []
    for i in range(count):
        _need(data, 6 + 16 * i, 16, what + " directory")
        w, h, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        _need(data, offset, size, what + " image")
        width, height, px = _dib(data, offset, "%s image %d" % (what, i), height_divisor=2)
        images.append((width, px))
    return images


def read_skin(data):
    """-> list of (name, bytes)."""
    _need(data, 0, 12, "skin")
    if data[:8] != b"ITRSKIN1":
        raise FormatError("skin: bad magic")
    count = struct.unpack_from("<I", data, 8)[0]
    pos = 12
    entries = []
    for _ in range(count):
        _need(data, pos, 2, "skin entry")
        n = struct.unpack_from("<H", data, pos)[0]
        _need(data, pos + 2, n + 4, "skin entry name")
        name = data[pos + 2 : pos + 2 + n].decode("ascii")
        size = struct.unpack_from("<I", data, pos + 2 + n)[0]
        _need(data, pos + 6 + n, size, "skin entry " + name)
        entries.append((name, data[pos + 6 + n : pos + 6 + n + size]))
        pos += 6 + n + size
    if pos != len(data):
        raise FormatError("skin: %d bytes after the last entry" % (len(data) - pos))
    return entries
