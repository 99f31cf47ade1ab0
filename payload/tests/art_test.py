#!/usr/bin/env python3
"""Checks the generated artwork against what the program relies on.

    art_test.py PAYLOAD_DIR

The files are parsed here with struct, independently of the generator's own writers, and
where ImageMagick or icoutils are installed their decoders serve as a second opinion.
"""

import configparser
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.path.join(os.path.dirname(HERE), "gen_art.py")
PAYLOAD = None  # set from the command line

OUTPUTS = ("glyphs_normal.bmp", "glyphs_intense.bmp", "logo.bmp", "rabbit.bmp", "mainicon.ico", "skin.dat")


def read(name):
    with open(os.path.join(PAYLOAD, name), "rb") as f:
        return f.read()


class Bmp:
    """A parsed BMP: headers as fields, pixels as (r, g, b, a) top row first."""

    def __init__(self, data, what):
        self.what = what
        if len(data) < 54:
            raise AssertionError("%s: %d bytes is too short for a BMP" % (what, len(data)))
        (self.magic, self.file_size, self.res1, self.res2, self.offset) = struct.unpack_from("<2sIHHI", data, 0)
        (
            self.header_size,
            self.width,
            self.height,
            self.planes,
            self.bits,
            self.compression,
            self.image_size,
            _,
            _,
            self.colours_used,
            _,
        ) = struct.unpack_from("<IiiHHIIiiII", data, 14)
        self.data = data
        self.palette = None
        if self.bits == 8:
            n = self.colours_used or 256
            self.palette = [tuple(data[54 + 4 * i : 54 + 4 * i + 4]) for i in range(n)]  # b, g, r, 0
        self.stride = ((self.width * self.bits + 31) // 32) * 4

    def pixels(self):
        w, h, bpp = self.width, abs(self.height), self.bits // 8
        out = [None] * (w * h)
        for row in range(h):
            y = h - 1 - row if self.height > 0 else row
            base = self.offset + row * self.stride
            for x in range(w):
                p = base + x * bpp
                if self.bits == 32:
                    b, g, r, a = self.data[p : p + 4]
                elif self.bits == 24:
                    b, g, r = self.data[p : p + 3]
                    a = 255
                else:
                    b, g, r, _ = self.palette[self.data[p]]
                    a = 255
                out[y * w + x] = (r, g, b, a)
        return out

    def assert_layout(self, test, width, height, bits, palette=0):
        test.assertEqual(self.magic, b"BM", self.what)
        test.assertEqual(self.file_size, len(self.data), self.what + ": file size field")
        test.assertEqual((self.res1, self.res2), (0, 0), self.what)
        test.assertEqual(self.header_size, 40, self.what + ": BITMAPINFOHEADER")
        test.assertEqual((self.width, self.height), (width, height), self.what + ": positive height = bottom-up")
        test.assertEqual((self.planes, self.bits, self.compression), (1, bits, 0), self.what + ": BI_RGB")
        test.assertEqual(self.offset, 14 + 40 + 4 * palette, self.what + ": pixel offset")
        test.assertEqual(len(self.data), self.offset + self.stride * height, self.what + ": pixel bytes")
        test.assertIn(self.image_size, (0, self.stride * height), self.what + ": image size field")


def magick_rgba(path_or_bytes, width, height, fmt="bmp"):
    """ImageMagick's decoding of a file as RGBA rows top first, or None without it."""
    tool = shutil.which("convert")
    if not tool:
        return None
    with tempfile.TemporaryDirectory() as tmp:
        src = path_or_bytes
        if isinstance(path_or_bytes, bytes):
            src = os.path.join(tmp, "in." + fmt)
            with open(src, "wb") as f:
                f.write(path_or_bytes)
        dst = os.path.join(tmp, "out.rgba")
        subprocess.run([tool, src, "-alpha", "on", "-depth", "8", "rgba:" + dst], check=True)
        with open(dst, "rb") as f:
            raw = f.read()
    if len(raw) != width * height * 4:
        raise AssertionError("ImageMagick decoded %d bytes, expected %d" % (len(raw), width * height * 4))
    return [tuple(raw[k : k + 4]) for k in range(0, len(raw), 4)]


class GlyphSheets(unittest.TestCase):
    W, H, CELL = 20, 822, 20

    @classmethod
    def setUpClass(cls):
        cls.files = {n: Bmp(read(n), n) for n in ("glyphs_normal.bmp", "glyphs_intense.bmp")}
        cls.px = {n: b.pixels() for n, b in cls.files.items()}
        cls.normal = [p[1] for p in cls.px["glyphs_normal.bmp"]]
        cls.intense = [p[1] for p in cls.px["glyphs_intense.bmp"]]

    def cell(self, greens, i):
        return greens[i * 400 : (i + 1) * 400]

    def test_format_is_uncompressed_24_bit_bottom_up(self):
        for bmp in self.files.values():
            bmp.assert_layout(self, self.W, self.H, 24)

    def test_decoders_agree_on_every_pixel(self):
        for name, px in self.px.items():
            oracle = magick_rgba(os.path.join(PAYLOAD, name), self.W, self.H)
            if oracle is None:
                self.skipTest("ImageMagick not installed")
            self.assertEqual(oracle, px, name + ": ImageMagick reads other pixels (row order?)")

    def test_green_only(self):
        for name, px in self.px.items():
            stray = [k for k, (r, _, b, _) in enumerate(px) if r or b]
            self.assertEqual(stray[:5], [], name + ": pixels with red or blue")

    def test_cell_layout(self):
        for greens in (self.normal, self.intense):
            for i in range(41):
                ink = sum(1 for g in self.cell(greens, i) if g)
                if i in (36, 38):
                    self.assertEqual(ink, 0, "cell %d must be empty" % i)
                else:
                    self.assertGreater(ink, 15, "cell %d holds no glyph" % i)
            self.assertEqual(greens[820 * 20 :], [0] * 40, "the two rows below the cells are black")

    def test_both_sheets_hold_the_same_glyphs(self):
        self.assertEqual([g > 0 for g in self.normal], [g > 0 for g in self.intense])
        pairs = sorted(set(zip(self.normal, self.intense)))
        for (n0, i0), (n1, i1) in zip(pairs, pairs[1:]):
            self.assertLessEqual(i0, i1, "intense is not a brightening of normal at %d -> %d" % (n0, n1))
        self.assertTrue(all(i >= n for n, i in zip(self.normal, self.intense)))

    def test_brightness(self):
        normal = [g for g in self.normal if g]
        intense = [g for g in self.intense if g]
        self.assertEqual(statistics.median(normal), 122)
        self.assertEqual(max(normal), 225)
        body = sum(1 for g in normal if 100 <= g <= 160) / len(normal)
        self.assertGreater(body, 0.4, "the ink's body should sit at 100..160")
        self.assertEqual(statistics.median(intense), 232)
        saturated = sum(1 for g in intense if g == 255) / len(intense)
        self.assertGreater(saturated, 0.25, "much of the intense ink is saturated")
        ratio = statistics.mean(intense) / statistics.mean(normal)
        self.assertTrue(1.6 < ratio < 2.2, "intense should be about twice as bright, is %.2f" % ratio)

    def test_edges_are_anti_aliased(self):
        for i in range(41):
            if i in (36, 38):
                continue
            cell = [g for g in self.cell(self.normal, i) if g]
            soft = sum(1 for g in cell if g < 0.6 * max(cell))
            self.assertGreaterEqual(len(set(cell)), 6, "cell %d: too few grey levels" % i)
            self.assertGreater(soft, 3, "cell %d: no soft edge" % i)

    def test_a_few_glyphs_reach_the_top_or_bottom_edge(self):
        touching = []
        for i in range(41):
            cell = self.cell(self.normal, i)
            if any(cell[:20]) or any(cell[-20:]):
                touching.append(i)
        self.assertTrue(3 <= len(touching) <= 12, "glyphs touching an edge: %s" % touching)


class Logo(unittest.TestCase):
    def setUp(self):
        self.bmp = Bmp(read("logo.bmp"), "logo.bmp")

    def test_format_is_8_bit_with_256_colours(self):
        self.bmp.assert_layout(self, 210, 70, 8, palette=256)
        self.assertEqual(self.bmp.colours_used, 256)

    def test_dark_green_picture_with_a_bright_title(self):
        px = self.bmp.pixels()
        self.assertTrue(all(g >= r and g >= b for b, g, r, _ in self.bmp.palette), "palette is green")
        lum = sorted(g for _, g, _, _ in px)
        self.assertLess(lum[len(lum) // 2], 40, "mostly dark background")
        self.assertGreater(sum(1 for v in lum if v > 200), 800, "a bright title")

    def test_decoders_agree(self):
        oracle = magick_rgba(os.path.join(PAYLOAD, "logo.bmp"), 210, 70)
        if oracle is None:
            self.skipTest("ImageMagick not installed")
        self.assertEqual(oracle, self.bmp.pixels())


class Rabbit(unittest.TestCase):
    def setUp(self):
        self.bmp = Bmp(read("rabbit.bmp"), "rabbit.bmp")
        self.px = self.bmp.pixels()

    def test_format_is_32_bit_bi_rgb(self):
        self.bmp.assert_layout(self, 110, 132, 32)

    def test_white_silhouette_on_transparent_ground(self):
        w, h = 110, 132
        border = [self.px[y * w + x] for y in range(h) for x in range(w) if x in (0, w - 1) or y in (0, h - 1)]
        self.assertTrue(all(a == 0 for *_, a in border), "the picture's border is transparent")
        white = sum(1 for r, g, b, a in self.px if a == 255 and min(r, g, b) >= 215)
        self.assertGreater(white / len(self.px), 0.25, "a large opaque white body")
        clear = sum(1 for *_, a in self.px if a == 0)
        self.assertGreater(clear / len(self.px), 0.3, "a transparent background")

    def test_soft_edges_with_straight_alpha(self):
        partial = [(r, g, b, a) for r, g, b, a in self.px if 0 < a < 255]
        self.assertGreater(len(partial), 300, "soft edges")
        # Premultiplied colour could never exceed its alpha; straight colour does.
        straight = [p for p in partial if p[3] < 128 and max(p[:3]) > p[3] + 64]
        self.assertGreater(len(straight), 50, "colour of soft pixels is not premultiplied")

    def test_decoders_agree(self):
        oracle = magick_rgba(os.path.join(PAYLOAD, "rabbit.bmp"), 110, 132)
        if oracle is None:
            self.skipTest("ImageMagick not installed")
        self.assertEqual(oracle, self.px)


class MainIcon(unittest.TestCase):
    TABLE = [(16, 1128, 102), (32, 4264, 1230), (48, 9640, 5494), (64, 16936, 15134), (128, 67624, 32070), (256, 270376, 99694)]

    def setUp(self):
        self.data = read("mainicon.ico")

    def test_directory(self):
        self.assertEqual(len(self.data), 370070)
        self.assertEqual(struct.unpack_from("<HHH", self.data, 0), (0, 1, 6))
        for n, (size, length, offset) in enumerate(self.TABLE):
            entry = struct.unpack_from("<BBBBHHII", self.data, 6 + 16 * n)
            dim = 0 if size == 256 else size
            # Colour count, reserved, planes and bit count are all 0.
            self.assertEqual(entry, (dim, dim, 0, 0, 0, 0, length, offset), "entry %d" % (n + 1))
        self.assertEqual(self.TABLE[-1][1] + self.TABLE[-1][2], len(self.data), "images run to the end")

    def test_images(self):
        for size, length, offset in self.TABLE:
            hdr = struct.unpack_from("<IiiHHI", self.data, offset)
            self.assertEqual(hdr, (40, size, 2 * size, 1, 32, 0), "%d px header" % size)
            colour = offset + 40
            mask = colour + size * size * 4
            mask_stride = ((size + 31) // 32) * 4
            self.assertEqual(mask + mask_stride * size, offset + length)
            wrong = []
            for row in range(size):
                for x in range(size):
                    alpha = self.data[colour + (row * size + x) * 4 + 3]
                    bit = (self.data[mask + row * mask_stride + x // 8] >> (7 - x % 8)) & 1
                    if bit != (alpha == 0):
                        wrong.append((x, row))
            self.assertEqual(wrong[:5], [], "%d px: AND mask must mark exactly the transparent pixels" % size)
            centre = colour + ((size // 2) * size + size // 2) * 4
            self.assertEqual(self.data[centre + 3], 255, "%d px: opaque in the middle" % size)
            if size >= 32:
                self.assertEqual(self.data[colour + 3], 0, "%d px: rounded corner is transparent" % size)

    def test_icotool_reads_six_32_bit_images(self):
        tool = shutil.which("icotool")
        if not tool:
            self.skipTest("icoutils not installed")
        out = subprocess.run([tool, "-l", os.path.join(PAYLOAD, "mainicon.ico")], check=True,
                             capture_output=True, text=True).stdout.split("\n")
        listed = [line for line in out if line.startswith("--icon")]
        self.assertEqual(len(listed), 6)
        for line, (size, _, _) in zip(listed, self.TABLE):
            self.assertIn("--width=%d --height=%d --bit-depth=32" % (size, size), line)


class Skin(unittest.TestCase):
    COLOUR_KEYS = ("ClientColor", "FrameOuterColor", "FrameInnerColor", "CaptionTextColor", "CaptionShadowColor")
    INT_KEYS = ("CaptionHeight", "BorderWidth", "CaptionFontHeight", "CaptionSliceLeft", "CaptionSliceRight",
                "ButtonSize", "ButtonSpacing", "ButtonMargin")

    @classmethod
    def setUpClass(cls):
        data = read("skin.dat")
        cls.size = len(data)
        if data[:8] != b"ITRSKIN1":
            raise AssertionError("skin.dat: bad magic %r" % data[:8])
        count = struct.unpack_from("<I", data, 8)[0]
        pos = 12
        cls.entries = []
        for _ in range(count):
            (n,) = struct.unpack_from("<H", data, pos)
            name = data[pos + 2 : pos + 2 + n].decode("ascii")
            (size,) = struct.unpack_from("<I", data, pos + 2 + n)
            body = data[pos + 6 + n : pos + 6 + n + size]
            if len(body) != size:
                raise AssertionError("skin.dat: entry %s runs past the end" % name)
            cls.entries.append((name, body))
            pos += 6 + n + size
        cls.end = pos
        cls.files = dict(cls.entries)
        ini = configparser.ConfigParser(interpolation=None)
        ini.optionxform = str  # keys are case-sensitive
        ini.read_string(cls.files["options.ini"].decode("utf-8"))
        cls.ini = ini

    def test_container(self):
        self.assertEqual([n for n, _ in self.entries], ["options.ini", "caption.bmp", "buttons.bmp"])
        self.assertEqual(self.end, self.size, "no bytes after the last entry")

    def test_options(self):
        self.assertEqual(self.ini["Skin"]["Name"], "matrix (internal)")
        form = self.ini["FORM"]
        for key in self.COLOUR_KEYS:
            value = form[key]
            self.assertEqual(len(value), 6, key)
            int(value, 16)
        for key in self.INT_KEYS:
            self.assertGreater(int(form[key]), 0, key)
        self.assertEqual(form["CaptionFont"], "Tahoma")
        self.assertIn(form["CaptionFontBold"], ("0", "1"))
        # The rain's eraser cells are pure black; any other client colour would show them.
        self.assertEqual(form["ClientColor"], "000000")
        self.assertLessEqual(int(form["ButtonSize"]), int(form["CaptionHeight"]) + 5, "buttons fit the bar")

    def test_caption_bar(self):
        form = self.ini["FORM"]
        bmp = Bmp(self.files["caption.bmp"], "caption.bmp")
        left, right = int(form["CaptionSliceLeft"]), int(form["CaptionSliceRight"])
        self.assertGreater(bmp.width, left + right, "a middle part to stretch")
        self.assertGreater(bmp.height, 0)
        bmp.assert_layout(self, bmp.width, bmp.height, 32)
        px = bmp.pixels()
        w = bmp.width
        for y in range(bmp.height):
            middle = px[y * w + left : y * w + w - right]
            self.assertEqual(len(set(middle)), 1, "row %d of the stretched middle varies sideways" % y)
        self.assertTrue(all(a > 0 for *_, a in px), "the caption bar is not see-through")

    def test_button_sheet(self):
        b = int(self.ini["FORM"]["ButtonSize"])
        bmp = Bmp(self.files["buttons.bmp"], "buttons.bmp")
        bmp.assert_layout(self, 3 * b, 2 * b, 32)
        px = bmp.pixels()
        cells = [[px[(r * b + y) * 3 * b + c * b + x] for y in range(b) for x in range(b)] for r in range(2) for c in range(3)]
        for k, cell in enumerate(cells):
            self.assertGreater(sum(1 for *_, a in cell if a == 255), b * b // 2, "cell %d is mostly opaque" % k)
        for row in (cells[:3], cells[3:]):
            self.assertEqual(len({tuple(c) for c in row}), 3, "normal, hot and pressed differ")
        self.assertNotEqual(cells[0], cells[3], "close and About buttons differ")


class Determinism(unittest.TestCase):
    def test_two_runs_give_identical_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            runs = []
            for k in range(2):
                out = os.path.join(tmp, "run%d" % k)
                subprocess.run([sys.executable, "-B", GENERATOR, out], check=True)
                runs.append(out)
            for name in OUTPUTS:
                with open(os.path.join(runs[0], name), "rb") as f:
                    first = f.read()
                with open(os.path.join(runs[1], name), "rb") as f:
                    second = f.read()
                self.assertEqual(first, second, name + " differs between two runs")
                self.assertEqual(first, read(name), name + " differs from the build's copy")
            self.assertEqual(sorted(os.listdir(runs[0])), sorted(OUTPUTS), "exactly the named files")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: art_test.py PAYLOAD_DIR [unittest args]")
    PAYLOAD = sys.argv.pop(1)
    unittest.main(verbosity=2)
