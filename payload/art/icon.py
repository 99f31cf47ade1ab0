"""The program icon: a dark rounded tile with green code rain and a bright "RU".

Six 32-bit images, 16 to 256 pixels. The letters are built from axis-aligned bars on
whole pixels so they stay crisp when small; the 16-pixel image is drawn pixel by pixel.
"""

from . import dmath, glyphs
from .compose import Layer, vertical_gradient
from .imagefile import ico
from .raster import Canvas, blur

SIZES = (16, 32, 48, 64, 128, 256)

TILE_TOP = (0.055, 0.19, 0.075)
TILE_BOTTOM = (0.008, 0.05, 0.018)
RIM = (0.22, 0.78, 0.2)
RAIN = (0.16, 0.78, 0.2)
RAIN_HEAD = (0.78, 1.0, 0.76)
LETTER_TOP = (0.82, 1.0, 0.76)
LETTER_BOTTOM = (0.12, 0.86, 0.16)
HALO = (0.2, 1.0, 0.25)

# The 16-pixel letters: two-pixel strokes on the pixel grid.
SMALL_R = ["####.", "##.##", "##.##", "##.##", "####.", "##.#.", "##.##", "##.##", "##.##"]
SMALL_U = ["##.##", "##.##", "##.##", "##.##", "##.##", "##.##", "##.##", "#####", ".###."]


def _supersample(size):
    return 2 if size >= 128 else 4


def _tile(size):
    ss = _supersample(size)
    margin = 0.0 if size <= 16 else max(1.0, round(size * 0.03))
    radius = size * (0.19 if size > 16 else 0.16)
    rim = max(1.0, round(size / 64.0))
    outer = Canvas(size, size, ss=ss)
    outer.fill_round_rect(margin, margin, size - margin, size - margin, radius)
    inner = Canvas(size, size, ss=ss)
    inner.fill_round_rect(margin + rim, margin + rim, size - margin - rim, size - margin - rim, radius - rim)
    gloss = Canvas(size, size, ss=ss)
    gloss.fill_ellipse(size * 0.5, size * 0.02, size * 0.62, size * 0.36)
    return outer.resolve(), inner.resolve(), gloss.resolve()


def _rain(size, clip):
    """(trail, heads) coverage of short glyph streaks behind the letters."""
    rng = dmath.Lcg(0x49434F4E + size)
    ss = _supersample(size)
    trail = Canvas(size, size, ss=ss)
    heads = Canvas(size, size, ss=ss)
    if size >= 64:
        cell = {64: 8.0, 128: 10.0, 256: 16.0}[size]
        cols = int(size / cell)
        x_off = (size - cols * cell) / 2.0
        usable = [i for i in range(glyphs.CELLS) if glyphs.GLYPHS[i] is not None]
        for c in range(cols):
            head = rng.randint(1, cols + 2)
            length = rng.randint(3, cols - 1)
            for r in range(head - length, head + 1):
                if r < 0 or r * cell >= size:
                    continue
                g = usable[rng.randint(0, len(usable) - 1)]
                fade = 1.0 - (head - r) / float(length + 1)
                target = heads if r == head else trail
                glyphs.draw_glyph(target, g, cell / glyphs.CELL, x_off + c * cell, r * cell, 0.25 + 0.75 * fade)
    elif size >= 32:
        pitch = 4 if size == 32 else 5
        for x in range(2, size - 1, pitch):
            head = rng.uniform(size * 0.2, size * 1.1)
            length = rng.uniform(size * 0.3, size * 0.8)
            y = head
            while y > head - length:
                fade = 1.0 - (head - y) / length
                target = heads if y == head else trail
                target.capsule(x + 0.5, y - 1.4, x + 0.5, y, 1.0, 0.3 + 0.7 * fade)
                y -= 3.0
    return [t * m for t, m in zip(trail.resolve(), clip)], [h * m for h, m in zip(heads.resolve(), clip)]


def _letters(size, grow=0.0):
    """Coverage of "RU", centred; grow widens every part (for the outline)."""
    if size <= 16:
        cov = [0.0] * (size * size)
        for pattern, x0 in ((SMALL_R, 2), (SMALL_U, 9)):
            for y, row in enumerate(pattern):
                for x, ch in enumerate(row):
                    if ch == "#":
                        cov[(3 + y) * size + x0 + x] = 1.0
        return cov
    ss = _supersample(size)
    h = round(size * 0.46)
    w = max(2, round(size * 0.085))
    width = round(size * 0.29)
    gap = max(2, round(size * 0.07))
    x0 = (size - (2 * width + gap)) // 2
    top = (size - h) // 2
    g = grow
    bars = Canvas(size, size, ss=ss)
    # R: stem, bowl (outer box minus counter) and leg.
    bowl_h = round(h * 0.58)
    corner = w * 1.1
    outer = Canvas(size, size, ss=ss)
    outer.fill_round_rect(x0 - g, top - g, x0 + width + g, top + bowl_h + g, corner + g)
    counter = Canvas(size, size, ss=ss)
    if bowl_h - 2 * w > 0:
        counter.fill_round_rect(
            x0 + w - 0.01 + g, top + w + g, x0 + width - w - g, top + bowl_h - w - g, max(0.0, corner - w - g)
        )
    bars.fill_round_rect(x0 - g, top - g, x0 + w + g, top + h + g, g)
    lx = x0 + width * 0.34
    leg_top = top + bowl_h - w
    bars.fill_polygon(
        [
            (lx - g, leg_top - g),
            (lx + w * 1.25 + g, leg_top - g),
            (x0 + width + g, top + h + g),
            (x0 + width - w * 1.3 - g, top + h + g),
        ]
    )
    # U: two stems joined by a rounded bottom.
    ux = x0 + width + gap
    u_outer = Canvas(size, size, ss=ss)
    u_outer.fill_round_rect(ux - g, top - g, ux + width + g, top + h + g, width * 0.42 + g)
    u_outer.fill_round_rect(ux - g, top - g, ux + width + g, top + h * 0.5, g)
    u_counter = Canvas(size, size, ss=ss)
    inner_r = width * 0.42 - w
    u_counter.fill_round_rect(ux + w + g, top - size, ux + width - w - g, top + h - w - g, max(0.0, inner_r - g))
    parts = []
    for o, c in ((outer, counter), (u_outer, u_counter)):
        parts.append([a * (1.0 - b) for a, b in zip(o.resolve(), c.resolve())])
    return [max(a, b, c) for a, b, c in zip(bars.resolve(), parts[0], parts[1])]


def image(size):
    outer, inner, gloss = _tile(size)
    layer = Layer(size, size)
    layer.paint(outer, RIM)
    layer.paint(inner, vertical_gradient(size, [(0.0, TILE_TOP), (1.0, TILE_BOTTOM)]))
    trail, heads = _rain(size, inner)
    layer.paint(trail, RAIN, opacity=0.5 if size >= 64 else 0.3)
    layer.paint(heads, RAIN_HEAD, opacity=0.55 if size >= 64 else 0.35)
    letters = _letters(size)
    if size >= 32:
        halo = blur(letters, size, size, size / 28.0)
        layer.paint([dmath.clamp(v * 1.3) * m for v, m in zip(halo, inner)], HALO, opacity=0.55)
        outline = _letters(size, grow=max(1.0, size / 40.0))
        layer.paint([o * m for o, m in zip(outline, outer)], (0.0, 0.04, 0.01), opacity=0.85)
    layer.paint([min(v, 1.0) * m for v, m in zip(gloss, inner)], (0.85, 1.0, 0.85), opacity=0.06)
    layer.paint(letters, vertical_gradient(size, [(0.25, LETTER_TOP), (0.75, LETTER_BOTTOM)]))
    return layer


def build():
    return {"mainicon.ico": ico([(s, image(s).rgba_bytes()) for s in SIZES])}
