"""Straight-alpha RGBA layers: coverage masks from the rasteriser are painted with flat or
per-pixel colours using the "over" operator, then rounded to bytes."""

from .raster import to_byte


def hex_colour(text):
    """'RRGGBB' -> (r, g, b) floats 0..1."""
    return tuple(int(text[k : k + 2], 16) / 255.0 for k in (0, 2, 4))


class Layer:
    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width = width
        self.height = height
        self.px = [tuple(fill)] * (width * height)

    def paint(self, coverage, colour, opacity=1.0):
        """coverage: per-pixel 0..1; colour: (r, g, b) or a function (x, y) -> (r, g, b)."""
        w = self.width
        px = self.px
        flat = not callable(colour)
        for k, c in enumerate(coverage):
            a = c * opacity
            if a <= 0.0:
                continue
            r, g, b = colour if flat else colour(k % w, k // w)
            dr, dg, db, da = px[k]
            keep = da * (1.0 - a)
            oa = a + keep
            px[k] = ((r * a + dr * keep) / oa, (g * a + dg * keep) / oa, (b * a + db * keep) / oa, oa)

    def rgba_bytes(self):
        """(r, g, b, a) byte tuples; fully transparent pixels are stored as 0, 0, 0, 0."""
        out = []
        for r, g, b, a in self.px:
            ab = to_byte(a)
            out.append((0, 0, 0, 0) if ab == 0 else (to_byte(r), to_byte(g), to_byte(b), ab))
        return out


def vertical_gradient(height, stops):
    """stops: [(t, (r, g, b)), ...] with t in 0..1 ascending -> function (x, y) -> colour."""

    def at(t):
        if t <= stops[0][0]:
            return stops[0][1]
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t <= t1:
                u = (t - t0) / (t1 - t0)
                return tuple(a + (b - a) * u for a, b in zip(c0, c1))
        return stops[-1][1]

    rows = [at((y + 0.5) / height) for y in range(height)]
    return lambda x, y: rows[y]
