"""The white rabbit: a sitting rabbit in profile, white on transparent, soft edges, with
a faint green halo. 110 x 132, 32 bits per pixel, straight alpha.

The window shows it stretched to 73 x 65, which squashes it vertically, so it is drawn in
a design space of those on-screen proportions and sampled onto the taller bitmap.
"""

from . import dmath
from .compose import Layer
from .imagefile import bmp32
from .raster import Canvas, blur

WIDTH = 110
HEIGHT = 132
SHOWN_WIDTH = 73
SHOWN_HEIGHT = 65
# Design units: twice the on-screen size, with a margin so the halo fades out inside.
DESIGN_W = 2 * SHOWN_WIDTH
DESIGN_H = 2 * SHOWN_HEIGHT
MARGIN = 6

EAR_BACK = "M47 46 C40 30 38 14 42 4 C46 -1 51 4 53 14 C55 24 55 36 55 46 Z"
EAR_FRONT = "M55 44 C56 28 61 13 68 5 C73 0 77 4 75 12 C73 22 67 36 62 48 Z"
EAR_INNER = "M59 38 C61 27 65 16 69 10 C71 8 72 10 71 13 C69 21 65 31 62 40 Z"


def _silhouette(canvas):
    canvas.fill_ellipse(88, 92, 42, 31)  # body
    canvas.fill_ellipse(102, 96, 30, 27)  # haunch
    canvas.fill_ellipse(62, 76, 20, 22)  # chest
    canvas.fill_ellipse(50, 58, 22, 17)  # head
    canvas.fill_ellipse(35, 64, 9, 7)  # muzzle
    canvas.fill_path(EAR_BACK)
    canvas.fill_path(EAR_FRONT)
    canvas.fill_ellipse(131, 85, 9, 9)  # tail
    canvas.fill_ellipse(56, 119, 13, 6)  # front paw
    canvas.fill_ellipse(94, 121, 30, 6.5)  # hind foot


def _eye(canvas):
    canvas.fill_ellipse(42, 54, 3.2, 3.4)


def _folds(canvas):
    # Where the foreleg and the hind foot meet the body.
    canvas.stroke("M66 92 C66 102 64 110 62 116", 1.4)
    canvas.stroke("M112 114 C104 112 96 112 86 115", 1.2)


def build_layer():
    sx = WIDTH / (DESIGN_W + 2 * MARGIN)
    sy = HEIGHT / (DESIGN_H + 2 * MARGIN)

    def canvas():
        return Canvas(WIDTH, HEIGHT, ss=4, sx=sx, sy=sy, ox=MARGIN, oy=MARGIN)

    body = canvas()
    _silhouette(body)
    eye = canvas()
    _eye(eye)
    folds = canvas()
    _folds(folds)
    inner = canvas()
    inner.fill_path(EAR_INNER)
    shape = body.resolve()
    # Soften the outline a little and lay a faint green halo under it.
    soft = blur(shape, WIDTH, HEIGHT, 0.6)
    halo = blur(shape, WIDTH, HEIGHT, 3.0)
    layer = Layer(WIDTH, HEIGHT)
    # The halo dies out before the picture's edge, which stays fully transparent.
    halo = [0.0 if h < 0.02 else dmath.clamp(h * 0.55) for h in halo]
    layer.paint(halo, (0.25, 0.85, 0.2))

    def shading(x, y):
        # Light from above: white at the top, a touch of grey-green towards the feet.
        t = dmath.clamp((y / HEIGHT - 0.55) / 0.45)
        return (1.0 - 0.12 * t, 1.0 - 0.07 * t, 1.0 - 0.12 * t)

    layer.paint([dmath.clamp(s) for s in soft], shading)
    layer.paint(inner.resolve(), (0.93, 0.80, 0.84), opacity=0.7)
    layer.paint(folds.resolve(), (0.62, 0.72, 0.62), opacity=0.8)
    layer.paint(eye.resolve(), (0.08, 0.16, 0.08))
    return layer


def build():
    return {"rabbit.bmp": bmp32(WIDTH, HEIGHT, build_layer().rgba_bytes())}
