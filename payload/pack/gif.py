"""A GIF89a writer: a global palette, one or more frames, LZW-compressed, looping."""

import struct


def _lzw(indices, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    table = {}
    width = min_code_size + 1
    next_code = end + 1
    emit(clear, width)
    prefix = None
    for value in indices:
        if prefix is None:
            prefix = value
            continue
        key = (prefix, value)
        if key in table:
            prefix = table[key]
            continue
        emit(prefix, width)
        if next_code < 4096:
            table[key] = next_code
            if next_code == (1 << width) and width < 12:
                width += 1
            next_code += 1
        else:
            emit(clear, width)
            table.clear()
            width = min_code_size + 1
            next_code = end + 1
        prefix = value
    if prefix is not None:
        emit(prefix, width)
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def _sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        piece = data[i : i + 255]
        out.append(len(piece))
        out += piece
    return bytes(out + b"\0")


def encode(width, height, palette, frames, delay_cs=10):
    """palette: up to 256 (r, g, b); frames: lists of width*height palette indices."""
    if not frames or not palette or len(palette) > 256:
        raise ValueError("gif: needs frames and a palette of 1 to 256 colours")
    depth = max(1, (len(palette) - 1).bit_length())
    size = 1 << depth
    colours = list(palette) + [(0, 0, 0)] * (size - len(palette))
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (depth - 1), 0, 0)
    out += b"".join(bytes(c) for c in colours)
    if len(frames) > 1:
        out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    min_code_size = max(2, depth)
    for frame in frames:
        if len(frame) != width * height or max(frame) >= len(palette):
            raise ValueError("gif: frame does not match the size or the palette")
        out += b"\x21\xF9\x04" + struct.pack("<BHB", 0x04, delay_cs, 0) + b"\0"
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        out += bytes([min_code_size]) + _sub_blocks(_lzw(frame, min_code_size))
    out += b"\x3B"
    return bytes(out)
