"""A small anti-aliasing rasteriser.

Shapes are drawn into a supersampled coverage grid through their signed distance (each
sample gets a one-sample-wide soft edge on top of the supersampling), then box-filtered
down to pixels. Design coordinates map to pixels as (x * sx, y * sy), so a picture that
is shown stretched can be drawn in its on-screen proportions.
"""

import re
import math  # sqrt and floor only: both are exact in IEEE 754

from . import dmath

KAPPA = 0.5522847498307936  # cubic Bezier handle length of a quarter circle


_TOKEN = re.compile(r"[A-Za-z]|[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")


def _tokens(d):
    return [t if t.isalpha() else float(t) for t in _TOKEN.findall(d)]


def flatten_path(d, curve_steps=10):
    """SVG-like path with absolute M, L, Q, C and Z -> list of polylines."""
    toks = _tokens(d)
    lines = []
    cur = None
    start = None
    i = 0
    cmd = None

    def take(n):
        nonlocal i
        vals = toks[i : i + n]
        if len(vals) != n or any(isinstance(v, str) for v in vals):
            raise ValueError("bad path near token %d: %r" % (i, d))
        i += n
        return vals

    while i < len(toks):
        if isinstance(toks[i], str):
            cmd = toks[i]
            i += 1
            if cmd == "Z":
                if cur is not None and start is not None:
                    cur.append(start)
                continue
        if cmd == "M":
            x, y = take(2)
            cur = [(x, y)]
            start = (x, y)
            lines.append(cur)
            cmd = "L"
        elif cmd == "L":
            x, y = take(2)
            cur.append((x, y))
        elif cmd == "Q":
            x1, y1, x, y = take(4)
            x0, y0 = cur[-1]
            for s in range(1, curve_steps + 1):
                t = s / curve_steps
                u = 1.0 - t
                cur.append((u * u * x0 + 2 * u * t * x1 + t * t * x, u * u * y0 + 2 * u * t * y1 + t * t * y))
        elif cmd == "C":
            x1, y1, x2, y2, x, y = take(6)
            x0, y0 = cur[-1]
            for s in range(1, curve_steps + 1):
                t = s / curve_steps
                u = 1.0 - t
                a, b, c, e = u * u * u, 3 * u * u * t, 3 * u * t * t, t * t * t
                cur.append((a * x0 + b * x1 + c * x2 + e * x, a * y0 + b * y1 + c * y2 + e * y))
        else:
            raise ValueError("unknown path command %r in %r" % (cmd, d))
    return lines


def ellipse_path(cx, cy, rx, ry):
    kx, ky = rx * KAPPA, ry * KAPPA
    return (
        "M{0} {1} C{2} {3} {4} {5} {6} {5} C{7} {5} {8} {3} {8} {1} "
        "C{8} {9} {7} {10} {6} {10} C{4} {10} {0} {9} {0} {1} Z"
    ).format(cx - rx, cy, cx - rx, cy - ky, cx - kx, cy - ry, cx, cx + kx, cx + rx, cy + ky, cy + ry)


class Canvas:
    def __init__(self, width, height, ss=4, sx=1.0, sy=1.0, ox=0.0, oy=0.0):
        """Design point (x, y) lands on pixel ((x + ox) * sx, (y + oy) * sy)."""
        self.width = width
        self.height = height
        self.ss = ss
        self.sx = sx
        self.sy = sy
        self.ox = ox
        self.oy = oy
        self.cols = width * ss
        self.rows = height * ss
        self.buf = [0.0] * (self.cols * self.rows)
        # Size of one sample in design units: the soft edge of every shape.
        self.step = 1.0 / (ss * math.sqrt(sx * sy))

    # Sample centres in design coordinates.
    def _xs(self, i0, i1):
        k = 1.0 / (self.ss * self.sx)
        return [(i + 0.5) * k - self.ox for i in range(i0, i1)]

    def _ys(self, j0, j1):
        k = 1.0 / (self.ss * self.sy)
        return [(j + 0.5) * k - self.oy for j in range(j0, j1)]

    def _span(self, x0, y0, x1, y1, pad):
        ss = self.ss
        x0, x1 = x0 + self.ox, x1 + self.ox
        y0, y1 = y0 + self.oy, y1 + self.oy
        i0 = max(0, int(math.floor((x0 - pad) * self.sx * ss)))
        i1 = min(self.cols, int(math.floor((x1 + pad) * self.sx * ss)) + 1)
        j0 = max(0, int(math.floor((y0 - pad) * self.sy * ss)))
        j1 = min(self.rows, int(math.floor((y1 + pad) * self.sy * ss)) + 1)
        return i0, i1, j0, j1

    def _apply(self, bbox, sdf, value):
        """Evaluate sdf(x, y) over the bbox and merge its coverage (times value) in."""
        i0, i1, j0, j1 = self._span(*bbox, pad=2.0 * self.step)
        if i0 >= i1 or j0 >= j1:
            return
        xs = self._xs(i0, i1)
        inv = 1.0 / self.step
        buf = self.buf
        cols = self.cols
        for j, y in zip(range(j0, j1), self._ys(j0, j1)):
            base = j * cols
            for i, x in zip(range(i0, i1), xs):
                c = 0.5 - sdf(x, y) * inv
                if c <= 0.0:
                    continue
                if c > 1.0:
                    c = 1.0
                c *= value
                k = base + i
                if c > buf[k]:  # shapes combine as a union
                    buf[k] = c

    def capsule(self, ax, ay, bx, by, width, value=1.0):
        self.polyline([(ax, ay), (bx, by)], width, value)

    def polyline(self, pts, width, value=1.0):
        hw = width / 2.0
        segs = [(a, b) for a, b in zip(pts, pts[1:]) if a != b] or [(pts[0], pts[0])]
        sqrt = math.sqrt
        data = []
        for (ax, ay), (bx, by) in segs:
            dx, dy = bx - ax, by - ay
            data.append((ax, ay, dx, dy, dx * dx + dy * dy))

        # One distance field for the whole line, so joints do not double up.
        def sdf(x, y):
            best = 1e30
            for ax, ay, dx, dy, ll in data:
                px, py = x - ax, y - ay
                t = 0.0 if ll == 0.0 else (px * dx + py * dy) / ll
                if t < 0.0:
                    t = 0.0
                elif t > 1.0:
                    t = 1.0
                qx, qy = px - t * dx, py - t * dy
                d = qx * qx + qy * qy
                if d < best:
                    best = d
            return sqrt(best) - hw

        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self._apply((min(xs) - hw, min(ys) - hw, max(xs) + hw, max(ys) + hw), sdf, value)

    def stroke(self, d, width, value=1.0, curve_steps=10):
        for line in flatten_path(d, curve_steps):
            self.polyline(line, width, value)

    def fill_polygon(self, pts, value=1.0):
        n = len(pts)
        edges = [(pts[k], pts[(k + 1) % n]) for k in range(n)]
        sqrt = math.sqrt

        def sdf(x, y):
            best = 1e30
            inside = False
            for (ax, ay), (bx, by) in edges:
                dx, dy = bx - ax, by - ay
                px, py = x - ax, y - ay
                ll = dx * dx + dy * dy
                t = 0.0 if ll == 0.0 else (px * dx + py * dy) / ll
                t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
                qx, qy = px - t * dx, py - t * dy
                dd = qx * qx + qy * qy
                if dd < best:
                    best = dd
                if (ay > y) != (by > y) and x < ax + (y - ay) * dx / dy:
                    inside = not inside
            dist = sqrt(best)
            return -dist if inside else dist

        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self._apply((min(xs), min(ys), max(xs), max(ys)), sdf, value)

    def fill_path(self, d, value=1.0, curve_steps=10):
        for line in flatten_path(d, curve_steps):
            self.fill_polygon(line, value)

    def fill_ellipse(self, cx, cy, rx, ry, value=1.0):
        sqrt = math.sqrt
        irx, iry = 1.0 / rx, 1.0 / ry
        irx2, iry2 = irx * irx, iry * iry

        def sdf(x, y):
            px, py = x - cx, y - cy
            k0 = sqrt(px * px * irx2 + py * py * iry2)
            k1 = sqrt(px * px * irx2 * irx2 + py * py * iry2 * iry2)
            if k1 == 0.0:
                return -min(rx, ry)
            return k0 * (k0 - 1.0) / k1

        self._apply((cx - rx, cy - ry, cx + rx, cy + ry), sdf, value)

    def fill_round_rect(self, x0, y0, x1, y1, radius, value=1.0):
        cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
        hx, hy = (x1 - x0) / 2.0 - radius, (y1 - y0) / 2.0 - radius
        sqrt = math.sqrt

        def sdf(x, y):
            qx = abs(x - cx) - hx
            qy = abs(y - cy) - hy
            ox = qx if qx > 0.0 else 0.0
            oy = qy if qy > 0.0 else 0.0
            inner = qx if qx > qy else qy
            return sqrt(ox * ox + oy * oy) + (inner if inner < 0.0 else 0.0) - radius

        self._apply((x0, y0, x1, y1), sdf, value)

    def resolve(self):
        """Box-filter the samples down to one coverage value per pixel, top row first."""
        ss = self.ss
        cols = self.cols
        buf = self.buf
        norm = 1.0 / (ss * ss)
        out = []
        for y in range(self.height):
            rows = [buf[(y * ss + r) * cols : (y * ss + r + 1) * cols] for r in range(ss)]
            for x in range(self.width):
                s = 0.0
                a = x * ss
                for row in rows:
                    for v in row[a : a + ss]:
                        s += v
                out.append(s * norm)
        return out


def gaussian_kernel(sigma):
    radius = max(1, int(sigma * 3.0 + 0.5))
    weights = [dmath.exp(-(k * k) / (2.0 * sigma * sigma)) for k in range(-radius, radius + 1)]
    total = sum(weights)
    return radius, [w / total for w in weights]


def blur(values, width, height, sigma):
    """Separable Gaussian blur with black outside the picture."""
    radius, kernel = gaussian_kernel(sigma)
    tmp = [0.0] * (width * height)
    for y in range(height):
        row = values[y * width : (y + 1) * width]
        for x in range(width):
            s = 0.0
            for k, w in enumerate(kernel):
                xx = x + k - radius
                if 0 <= xx < width:
                    s += row[xx] * w
            tmp[y * width + x] = s
    out = [0.0] * (width * height)
    for x in range(width):
        for y in range(height):
            s = 0.0
            for k, w in enumerate(kernel):
                yy = y + k - radius
                if 0 <= yy < height:
                    s += tmp[yy * width + x] * w
            out[y * width + x] = s
    return out


def to_byte(v):
    """0..1 float -> 0..255, rounding half to even like round()."""
    v = round(v * 255.0)
    return 0 if v < 0 else 255 if v > 255 else v
