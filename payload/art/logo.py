"""The header picture: "iTools 3" and "RUS" on a dot-matrix display, green on black, with
faint code rain behind. 210 x 70, 8 bits per pixel with a 256-colour green ramp; the
window shows it blended at 50 percent over the rain."""

from . import dmath
from .imagefile import bmp8
from .raster import Canvas, blur

WIDTH = 210
HEIGHT = 70

# 5 x 7 dot-matrix letters, '#' lit.
FONT = {
    "i": ["..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "o": [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    "l": [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "s": [".....", ".....", ".####", "#....", ".###.", "....#", "####."],
    "3": ["####.", "....#", "....#", ".###.", "....#", "....#", "####."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    " ": ["..", "..", "..", "..", "..", "..", ".."],
}


def _dot_grid(text):
    """Columns of lit flags for a line of text, one blank column between letters."""
    cols = []
    for n, ch in enumerate(text):
        if n:
            cols.append([False] * 7)
        rows = FONT[ch]
        for x in range(len(rows[0])):
            cols.append([rows[y][x] == "#" for y in range(7)])
    return cols


def _palette():
    """Index i is brightness i/255: black, through green, to a pale mint at the top."""
    pal = []
    for i in range(256):
        t = i / 255.0
        g = dmath.smoothstep(0.0, 0.72, t) * 0.9 + 0.1 * t
        w = dmath.clamp((t - 0.72) / 0.28)
        pal.append((round(255 * 0.78 * w * w), round(255 * g), round(255 * 0.62 * w * w)))
    return pal


def _rain(level):
    """Faint falling streaks of short dashes behind the display."""
    rng = dmath.Lcg(0x4C4F474F)
    canvas = Canvas(WIDTH, HEIGHT, ss=2)
    for x in range(3, WIDTH, 7):
        head = rng.uniform(-10, HEIGHT + 30)
        length = rng.uniform(20, 60)
        y = head
        while y > head - length:
            if 0 <= y < HEIGHT + 4:
                fade = 1.0 - (head - y) / length
                bright = level * (0.35 + 0.65 * fade)
                if rng.randint(0, 2):
                    canvas.capsule(x, y - 2.0, x, y, 1.2, bright)
                else:
                    canvas.capsule(x - 1.2, y - 1.0, x + 1.2, y - 1.0, 1.0, bright)
            y -= 4.0
    return canvas.resolve()


def _display(canvas_lit, canvas_off, text, x0, y0, pitch, dot, sweep):
    cols = _dot_grid(text)
    for cx, col in enumerate(cols):
        for cy, lit in enumerate(col):
            x = x0 + cx * pitch
            y = y0 + cy * pitch
            if lit:
                # A bright band sweeps across, as if a rain head were passing.
                d = (cx - sweep) / 3.0
                glow = 0.86 + 0.14 * dmath.exp(-d * d) - 0.1 * cy / 6.0
                canvas_lit.fill_round_rect(x, y, x + dot, y + dot, dot * 0.3, glow)
            else:
                canvas_off.fill_round_rect(x, y, x + dot, y + dot, dot * 0.3, 1.0)
    return len(cols) * pitch - (pitch - dot)


def brightness():
    """0..1 per pixel, top row first."""
    lit = Canvas(WIDTH, HEIGHT, ss=4)
    off = Canvas(WIDTH, HEIGHT, ss=4)
    title, sub = "iTools 3", "RUS"
    pitch, dot = 4, 3.35
    tw = len(_dot_grid(title)) * pitch - (pitch - dot)
    _display(lit, off, title, (WIDTH - tw) / 2.0, 7, pitch, dot, sweep=30)
    spitch, sdot = 3.4, 2.8
    sw = len(_dot_grid(sub)) * spitch - (spitch - sdot)
    sx = (WIDTH - sw) / 2.0
    _display(lit, off, sub, sx, 41, spitch, sdot, sweep=8)
    # Rules either side of "RUS".
    rules = Canvas(WIDTH, HEIGHT, ss=4)
    for a, b in ((20.0, sx - 10.0), (sx + sw + 10.0, WIDTH - 20.0)):
        for y in (51.5, 54.5):
            rules.capsule(a, y, b, y, 0.9, 0.55)
        rules.fill_round_rect(b - 2 if a < sx else a, 51.5, b if a < sx else a + 2, 55.5, 0.5, 0.8)
    lit_cov = lit.resolve()
    rule_cov = rules.resolve()
    off_cov = off.resolve()
    halo = blur([max(a, b) for a, b in zip(lit_cov, rule_cov)], WIDTH, HEIGHT, 2.6)
    rain = _rain(0.22)
    out = []
    for k in range(WIDTH * HEIGHT):
        v = max(rain[k], off_cov[k] * 0.09)
        v = max(v, min(1.0, halo[k] * 1.05))
        v = max(v, lit_cov[k], rule_cov[k])
        out.append(dmath.clamp(v))
    return out


def build():
    indices = bytes(min(255, max(0, round(v * 255.0))) for v in brightness())
    return {"logo.bmp": bmp8(WIDTH, HEIGHT, _palette(), indices)}
