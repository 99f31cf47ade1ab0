"""The two glyph sheets of the rain: 41 cells of 20 x 20 stacked top to bottom, then two
black rows. Both sheets hold the same glyphs; the intense one (the falling head) is about
twice as bright as the normal one (the trail) and mostly saturated.

Glyphs are digits, simple strokes and symbols, and kana-like shapes mirrored left to
right, drawn as anti-aliased strokes. A few run through the top or bottom edge so that
columns of them join up as they fall.
"""

import statistics

from . import dmath
from .imagefile import bmp24
from .raster import Canvas, ellipse_path, flatten_path

CELL = 20
CELLS = 41
SHEET_WIDTH = CELL
SHEET_HEIGHT = CELLS * CELL + 2
EMPTY_CELLS = (36, 38)

# Target statistics of the ink (non-black pixels).
NORMAL_MEDIAN = 122
NORMAL_MAX = 225
INTENSE_MEDIAN = 232

STROKE = 1.75
SUPERSAMPLE = 4
# Coverage below this is dropped, so glyphs sit on clean black.
INK_FLOOR = 0.06


def _dot(x, y, r=1.5):
    return ("fill", ellipse_path(x, y, r, r))


# (paths, mirrored). Coordinates are in cell pixels, y down; strokes may leave the cell.
DIGITS = [
    ([ellipse_path(10, 10, 4.8, 7)], False),  # 0
    (["M6.5 5.5 L10.5 3 L10.5 17"], False),  # 1
    (["M5 6.5 C5 3.8 7.3 3 10 3 C12.7 3 15 4 15 6.8 C15 10 9.5 12.8 5 17 L15 17"], False),  # 2
    (
        [
            "M5.2 4.2 C6.5 3.3 8 3 10 3 C12.8 3 14.5 4.4 14.5 6.4 C14.5 8.5 12.6 9.8 9.5 9.8",
            "M9.5 9.8 C13 9.8 15 11.3 15 13.5 C15 16 12.6 17 10 17 C8 17 6.5 16.6 5 15.8",
        ],
        False,
    ),  # 3
    (["M12.5 17.2 L12.5 3 L4.5 13 L15.5 13"], False),  # 4
    (["M14.5 3 L6.2 3 L5.6 9 C7 8.3 8.5 8 10 8 C13 8 15 10 15 12.5 C15 15.5 12.6 17 10 17 C8 17 6.5 16.5 5 15.5"], False),  # 5
    (["M5 3 L15 3 L9 17.5", "M7.5 10 L13.5 10"], False),  # 7
    ([ellipse_path(10, 6.4, 4.1, 3.4), ellipse_path(10, 13.4, 4.9, 3.6)], False),  # 8
    ([ellipse_path(10, 7.5, 4.6, 4.5), "M14.6 7.5 C14.6 13 12.3 17 7 17"], False),  # 9
    (["M5 3 L15 3 L5 17 L15 17"], False),  # Z
]

KANA = [
    (["M4 4 L16 4 C15 7 13 8.5 11 9.5", "M10 7 C10 12 8 15 4.5 17.5"], True),
    (["M15.5 2 C12 7 8 10 4 12", "M10.5 8.5 L10.5 20.5"], True),
    (["M10 2 L10 5", "M4.5 5 L15.5 5 L15.5 8 C15 12 12 15.5 7 18", "M4.5 5 L4.5 9"], True),
    (["M4 7 L16 7", "M12 2.5 L12 18 L9.5 16.5", "M11.5 7.5 C9.5 11 7 14 4 16"], True),
    (["M4 6.5 L15 6.5 C15 11 14.5 15 12.5 17.5 L10.5 16.5", "M9 2.5 C9 10 7.5 14 4 17.5"], True),
    (["M5 6 L15 5", "M4 11 L16 10", "M9 2.5 L11 18"], True),
    (["M7.5 2.5 C6.5 6 5.5 8 4 10", "M7 7 L16 7", "M12 7 C12 12 10 15 6.5 18"], True),
    (["M3.5 7 L16.5 7", "M7 3 L7 11", "M13 3 L13 10 C13 14 11 16 7.5 18"], True),
    (["M5 4 L7.5 5.6", "M4 8.5 L6.5 10.1", "M4.5 17 C9 15 13 11 16 5"], True),
    (["M5 4 L15 4 C13 9 9 14 4 17.5", "M11 11 L16 17"], True),
    (["M3.5 8 L16 6 C15 9 13.5 11 12 12", "M7.5 3 L7.5 15 C7.5 16.5 8.5 17 10 17 L15.5 17"], True),
    (["M8 3 C7 6 5.5 8 4 9.5", "M7.5 5.5 L15 5.5 C14.5 11 11 15.5 5.5 18", "M7.5 10 L12.5 13"], True),
    (["M14.5 3 C11.5 4.5 8 5 5 5", "M4 9.5 L16 9.5", "M10 5 L10 12 C10 15 8.5 16.5 6 18"], True),
    (["M4 5 L5.5 9", "M8.5 4 L10 8", "M16 4 C14.5 10 11 15 6 18"], True),
    (["M6 3.5 L14 3.5", "M4 8 L16 8", "M10 8 C10 12 9 15 6.5 18"], True),
    (["M8 -1 L8 18", "M8 8 L14 11.5"], True),
    (["M5 5 L15 5 L4 13", "M10 2 L10 5", "M10 10 L10 18", "M12 11 L16 15"], True),
    (["M15.5 -1 C15 9 11 15.5 4.5 18.5"], True),
    (["M4 5 L16 5 C14 9 12 11 9.5 12.5", "M7.5 10 L12.5 17"], True),
    (["M9 3 C8 8 6.5 12 4.5 16 L15.5 15", "M12.5 11 L16 17"], True),
    (["M6.5 3 L6.5 11", "M14 1.5 L14 11 C14 15.5 11.5 18.5 8 21"], True),
    (["M5 4 L15 4 L15 16 L5 16", "M5.5 10 L15 10", "M11 -1 L11 4"], True),
]

SYMBOLS = [
    (["M4.5 8 L15.5 8", "M4.5 12.5 L15.5 12.5"], False),  # =
    (["M10 4.5 L10 15.5", "M5.3 7.3 L14.7 12.7", "M5.3 12.7 L14.7 7.3"], False),  # *
    (["M10 4.5 L10 15.5", "M4.5 10 L15.5 10"], False),  # +
    (["M9.6 -2 L9.6 22"], False),  # | through both edges, off the pixel grid for soft sides
    None,  # empty
    ([_dot(10, 6.5), _dot(10, 13.5)], False),  # :
    None,  # empty
    (["M10.4 -2 L10.4 8", "M10.4 12 L10.4 22"], False),  # broken bar through both edges
    (["M5 10.4 L15 10.4"], False),  # -
]

GLYPHS = DIGITS + KANA + SYMBOLS
assert len(GLYPHS) == CELLS
assert all(GLYPHS[i] is None for i in EMPTY_CELLS)


def _shade_params():
    """Per-glyph base brightness, gradient and an optional glint, from a fixed generator."""
    rng = dmath.Lcg(0x6D617478)
    params = []
    for index in range(CELLS):
        base = rng.uniform(0.86, 1.0)
        tilt = rng.uniform(0.12, 0.3)
        glint = None
        if rng.randint(0, 3) == 0:
            glint = (rng.uniform(6, 14), rng.uniform(5, 15), rng.uniform(0.45, 0.75))
        params.append((base, tilt, glint))
    return params


def draw_glyph(canvas, index, scale=1.0, ox=0.0, oy=0.0, value=1.0):
    """Draw glyph `index` with its cell's top-left at (ox, oy), cell size CELL * scale."""
    paths, mirrored = GLYPHS[index]
    for item in paths:
        fill = isinstance(item, tuple)
        for line in flatten_path(item[1] if fill else item):
            if mirrored:
                line = [(CELL - x, y) for x, y in line]
            line = [(ox + x * scale, oy + y * scale) for x, y in line]
            if fill:
                canvas.fill_polygon(line, value)
            else:
                canvas.polyline(line, STROKE * scale, value)


def _render_cell(index):
    canvas = Canvas(CELL, CELL, ss=SUPERSAMPLE)
    draw_glyph(canvas, index)
    return canvas.resolve()


def ink_values():
    """Unscaled ink brightness per pixel of the whole sheet (0 = black), top row first."""
    params = _shade_params()
    values = []
    for index, spec in enumerate(GLYPHS):
        if spec is None:
            values += [0.0] * (CELL * CELL)
            continue
        cov = _render_cell(index)
        base, tilt, glint = params[index]
        for y in range(CELL):
            for x in range(CELL):
                c = cov[y * CELL + x]
                if c < INK_FLOOR:
                    values.append(0.0)
                    continue
                level = base * (1.0 - tilt + tilt * (y + 0.5) / CELL)
                if glint is not None:
                    gx, gy, gain = glint
                    dx, dy = x + 0.5 - gx, y + 0.5 - gy
                    level *= 1.0 + gain * dmath.exp(-(dx * dx + dy * dy) / 6.0)
                values.append(c * level)
    values += [0.0] * (2 * SHEET_WIDTH)
    return values


def _calibrate(values):
    """Levels for the normal sheet: scaled so the ink's median is NORMAL_MEDIAN, with the
    highlights above the body stretched so the brightest pixel is NORMAL_MAX."""
    ink = sorted(v for v in values if v > 0.0)
    mid = statistics.median(ink)
    scale = NORMAL_MEDIAN / mid
    knee = 160.0
    top = ink[-1] * scale
    out = []
    for v in values:
        if v <= 0.0:
            out.append(0.0)
            continue
        g = v * scale
        if g > knee:
            g = knee + (g - knee) * (NORMAL_MAX - knee) / (top - knee)
        out.append(g)
    return out


def sheets():
    """(normal, intense): green levels 0..255 per pixel, top row first."""
    levels = _calibrate(ink_values())
    normal = [max(1, min(255, round(g))) if g > 0.0 else 0 for g in levels]
    factor = INTENSE_MEDIAN / NORMAL_MEDIAN
    intense = [min(255, round(g * factor)) if g > 0.0 else 0 for g in levels]
    return normal, intense


def sheet_bmp(greens):
    return bmp24(SHEET_WIDTH, SHEET_HEIGHT, [(0, g, 0) for g in greens])


def build():
    normal, intense = sheets()
    return {"glyphs_normal.bmp": sheet_bmp(normal), "glyphs_intense.bmp": sheet_bmp(intense)}
