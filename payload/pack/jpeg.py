"""A small baseline JPEG encoder (JFIF, 8-bit YCbCr 4:4:4, one DC and one AC Huffman table).

The Huffman tables are built per image from the symbols it uses, all of one length, which
keeps the encoder short while every decoder still reads the file.
"""

import math
import struct

# Zig-zag order: position k of the coded sequence is coefficient ZIGZAG[k] of the 8x8 block.
ZIGZAG = [
    0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
]

# The example quantisation tables of the JPEG standard (natural order), for quality 50.
LUMA_Q = [
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
]
CHROMA_Q = [
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
] + [99] * 32

_COS = [[math.cos((2 * x + 1) * u * math.pi / 16) for x in range(8)] for u in range(8)]
_C = [1 / math.sqrt(2)] + [1.0] * 7


def _scaled(table, quality):
    scale = 5000 // quality if quality < 50 else 200 - 2 * quality
    return [min(255, max(1, (q * scale + 50) // 100)) for q in table]


def _fdct(block):
    """Forward DCT of 64 level-shifted samples (natural order)."""
    rows = []
    for y in range(8):
        row = block[8 * y : 8 * y + 8]
        rows.append([_C[u] / 2 * sum(row[x] * _COS[u][x] for x in range(8)) for u in range(8)])
    out = [0.0] * 64
    for u in range(8):
        for v in range(8):
            out[8 * v + u] = _C[v] / 2 * sum(rows[y][u] * _COS[v][y] for y in range(8))
    return out


def _category(value):
    return 0 if value == 0 else abs(value).bit_length()


def _bits_of(value, size):
    return value if value >= 0 else value + (1 << size) - 1


class _BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, code, length):
        self.acc = (self.acc << length) | code
        self.n += length
        while self.n >= 8:
            self.n -= 8
            byte = (self.acc >> self.n) & 0xFF
            self.out.append(byte)
            if byte == 0xFF:
                self.out.append(0)  # byte stuffing
        self.acc &= (1 << self.n) - 1

    def flush(self):
        if self.n:
            self.put((1 << (8 - self.n)) - 1, 8 - self.n)


def _table(symbols):
    """A Huffman table giving every symbol the same code length (no all-ones code)."""
    symbols = sorted(set(symbols)) or [0]
    length = len(symbols).bit_length()  # 2**length - 1 >= count: the all-ones code stays free
    counts = [0] * 16
    counts[length - 1] = len(symbols)
    codes = {s: (i, length) for i, s in enumerate(symbols)}
    return counts, symbols, codes


def _segment(marker, payload):
    return struct.pack(">HH", marker, len(payload) + 2) + payload


def encode(width, height, rgb, quality=85):
    """rgb: width*height (r, g, b) tuples, top row first. Returns the JPEG file's bytes."""
    if width <= 0 or height <= 0 or len(rgb) != width * height:
        raise ValueError("jpeg: %d pixels for %d x %d" % (len(rgb), width, height))
    luma_q = _scaled(LUMA_Q, quality)
    chroma_q = _scaled(CHROMA_Q, quality)
    planes = ([], [], [])
    for r, g, b in rgb:
        planes[0].append(0.299 * r + 0.587 * g + 0.114 * b - 128)
        planes[1].append(-0.168736 * r - 0.331264 * g + 0.5 * b)
        planes[2].append(0.5 * r - 0.418688 * g - 0.081312 * b)

    # Quantised blocks in scan order: per 8x8 block, the three components.
    bw, bh = (width + 7) // 8, (height + 7) // 8
    coded = []  # (component, [64 zig-zag coefficients])
    for by in range(bh):
        for bx in range(bw):
            for comp in range(3):
                q = luma_q if comp == 0 else chroma_q
                block = []
                for y in range(8):
                    sy = min(by * 8 + y, height - 1)
                    for x in range(8):
                        sx = min(bx * 8 + x, width - 1)
                        block.append(planes[comp][sy * width + sx])
                coeffs = _fdct(block)
                coded.append((comp, [int(round(coeffs[ZIGZAG[k]] / q[ZIGZAG[k]])) for k in range(64)]))

    # Symbols: DC categories of the differences, AC (run, size) pairs.
    dc_symbols, ac_symbols, stream = [], [], []
    previous = [0, 0, 0]
    for comp, zz in coded:
        diff = zz[0] - previous[comp]
        previous[comp] = zz[0]
        size = _category(diff)
        dc_symbols.append(size)
        items = [("dc", size, _bits_of(diff, size))]
        run = 0
        for k in range(1, 64):
            v = zz[k]
            if v == 0:
                run += 1
                continue
            while run > 15:
                items.append(("ac", 0xF0, None))
                ac_symbols.append(0xF0)
                run -= 16
            size = _category(v)
            items.append(("ac", (run << 4) | size, _bits_of(v, size)))
            ac_symbols.append((run << 4) | size)
            run = 0
        if run:
            items.append(("ac", 0x00, None))
            ac_symbols.append(0x00)
        stream.append(items)

    dc_counts, dc_values, dc_codes = _table(dc_symbols)
    ac_counts, ac_values, ac_codes = _table(ac_symbols)
    bits = _BitWriter()
    for items in stream:
        for kind, symbol, extra in items:
            code, length = (dc_codes if kind == "dc" else ac_codes)[symbol]
            bits.put(code, length)
            size = symbol if kind == "dc" else symbol & 0x0F
            if extra is not None and size:
                bits.put(extra, size)
    bits.flush()

    out = bytearray(b"\xFF\xD8")
    out += _segment(0xFFE0, b"JFIF\0" + struct.pack(">BBBHHBB", 1, 1, 0, 1, 1, 0, 0))
    out += _segment(0xFFDB, bytes([0]) + bytes(luma_q[ZIGZAG[k]] for k in range(64))
                    + bytes([1]) + bytes(chroma_q[ZIGZAG[k]] for k in range(64)))
    out += _segment(0xFFC0, struct.pack(">BHHB", 8, height, width, 3)
                    + bytes([1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1]))
    out += _segment(0xFFC4, bytes([0x00]) + bytes(dc_counts) + bytes(dc_values)
                    + bytes([0x10]) + bytes(ac_counts) + bytes(ac_values))
    out += _segment(0xFFDA, bytes([3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0]))
    out += bits.out
    out += b"\xFF\xD9"
    return bytes(out)
