"""The packed data of the window's own skin "matrix (internal)": an option file and two
32-bit straight-alpha pictures (the caption bar and the caption buttons) in a small
container."""

from . import dmath
from .compose import Layer, hex_colour, vertical_gradient
from .imagefile import bmp32, skin_container
from .raster import Canvas, blur

SKIN_NAME = "matrix (internal)"

CAPTION_HEIGHT = 22  # the window adds 5
CAPTION_BAR = CAPTION_HEIGHT + 5  # drawn 1:1 at 96 DPI
SLICE_LEFT = 14
SLICE_MIDDLE = 8
SLICE_RIGHT = 14
BUTTON = 19
BUTTON_STATES = ("normal", "hot", "pressed")
BUTTON_ROWS = ("close", "about")

# The client is black: the rain's eraser cells paint pure black and must not show.
OPTIONS = [
    ("Skin", [("Name", SKIN_NAME)]),
    (
        "FORM",
        [
            ("CaptionHeight", str(CAPTION_HEIGHT)),
            ("BorderWidth", "4"),
            ("ClientColor", "000000"),
            ("FrameOuterColor", "0B3A10"),
            ("FrameInnerColor", "25AB03"),
            ("CaptionTextColor", "8CFF6E"),
            ("CaptionShadowColor", "000000"),
            ("CaptionFont", "Tahoma"),
            ("CaptionFontHeight", "13"),
            ("CaptionFontBold", "1"),
            ("CaptionSliceLeft", str(SLICE_LEFT)),
            ("CaptionSliceRight", str(SLICE_RIGHT)),
            ("ButtonSize", str(BUTTON)),
            ("ButtonSpacing", "3"),
            ("ButtonMargin", "5"),
        ],
    ),
]


def options_ini():
    lines = []
    for n, (section, keys) in enumerate(OPTIONS):
        if n:
            lines.append("")
        lines.append("[%s]" % section)
        lines += ["%s=%s" % kv for kv in keys]
    return ("\n".join(lines) + "\n").encode("utf-8")


BAR_TOP = (0.07, 0.22, 0.08)
BAR_BOTTOM = (0.01, 0.06, 0.02)
GREEN = hex_colour("25AB03")


def caption_layer():
    """Left and right slices carry the end marks; the middle only varies downwards, so it
    can be stretched sideways."""
    w = SLICE_LEFT + SLICE_MIDDLE + SLICE_RIGHT
    h = CAPTION_BAR
    layer = Layer(w, h, fill=(0.0, 0.0, 0.0, 1.0))
    full = [1.0] * (w * h)
    layer.paint(full, vertical_gradient(h, [(0.0, BAR_TOP), (0.55, (0.03, 0.12, 0.04)), (1.0, BAR_BOTTOM)]))
    # A thin highlight under the top edge and the form's green along the bottom.
    rows = {1: ((0.3, 0.75, 0.3), 0.35), h - 2: (GREEN, 0.45), h - 1: (GREEN, 1.0)}
    for y, (colour, opacity) in rows.items():
        line = [1.0 if k // w == y else 0.0 for k in range(w * h)]
        layer.paint(line, colour, opacity)
    # End marks: a bright bar like a terminal cursor on the left, three dots on the right.
    marks = Canvas(w, h, ss=4)
    marks.fill_round_rect(5, 8, 8, h - 8, 0.6)
    for k in range(3):
        x = w - SLICE_RIGHT + 3 + k * 3.5
        marks.fill_ellipse(x + 0.5, h / 2.0, 1.1, 1.1, 0.9 - 0.25 * k)
    cov = marks.resolve()
    # The glow stays inside the end slices so the middle remains uniform sideways.
    glow = blur(cov, w, h, 1.4)
    glow = [0.0 if SLICE_LEFT <= k % w < w - SLICE_RIGHT else v for k, v in enumerate(glow)]
    layer.paint(glow, (0.3, 1.0, 0.3), 0.6)
    layer.paint(cov, (0.55, 1.0, 0.5))
    return layer


def _button_cell(row, state):
    s = BUTTON
    face = Canvas(s, s, ss=4)
    face.fill_round_rect(0.5, 0.5, s - 0.5, s - 0.5, 3.5)
    inner = Canvas(s, s, ss=4)
    inner.fill_round_rect(1.5, 1.5, s - 1.5, s - 1.5, 2.5)
    sign = Canvas(s, s, ss=4)
    c = s / 2.0
    if row == "close":
        k = 4.2
        sign.capsule(c - k, c - k, c + k, c + k, 2.0)
        sign.capsule(c - k, c + k, c + k, c - k, 2.0)
    else:
        sign.fill_ellipse(c, c - 4.8, 1.45, 1.45)
        sign.fill_round_rect(c - 1.1, c - 1.8, c + 1.1, c + 5.6, 0.5)
        sign.capsule(c - 2.6, c - 1.8, c, c - 1.8, 1.2)
        sign.capsule(c - 2.6, c + 5.3, c + 2.6, c + 5.3, 1.2)
    face_c, inner_c, sign_c = face.resolve(), inner.resolve(), sign.resolve()
    layer = Layer(s, s)
    if state == "normal":
        rim, fill, ink, glow = (0.1, 0.45, 0.12), ((0.05, 0.17, 0.06), (0.01, 0.06, 0.02)), (0.45, 0.9, 0.4), 0.0
    elif state == "hot":
        rim, fill, ink, glow = (0.3, 1.0, 0.3), ((0.09, 0.32, 0.1), (0.02, 0.12, 0.04)), (0.85, 1.0, 0.8), 0.8
    else:
        rim, fill, ink, glow = (0.55, 1.0, 0.5), ((0.12, 0.62, 0.06), (0.2, 0.78, 0.1)), (0.0, 0.07, 0.01), 0.0
    layer.paint(face_c, rim)
    layer.paint(inner_c, vertical_gradient(s, [(0.0, fill[0]), (1.0, fill[1])]))
    if glow:
        halo = blur(sign_c, s, s, 1.3)
        layer.paint([dmath.clamp(v * 1.5) * m for v, m in zip(halo, inner_c)], (0.3, 1.0, 0.3), glow)
    if state == "pressed":
        # Pressed: the sign sits one pixel lower, as if pushed in.
        sign_c = [0.0] * s + sign_c[: -s]
    layer.paint(sign_c, ink)
    return layer


def buttons_layer():
    s = BUTTON
    sheet = Layer(s * len(BUTTON_STATES), s * len(BUTTON_ROWS))
    for r, row in enumerate(BUTTON_ROWS):
        for c, state in enumerate(BUTTON_STATES):
            cell = _button_cell(row, state)
            for y in range(s):
                base = (r * s + y) * sheet.width + c * s
                sheet.px[base : base + s] = cell.px[y * s : (y + 1) * s]
    return sheet


def build():
    cap = caption_layer()
    btn = buttons_layer()
    entries = [
        ("options.ini", options_ini()),
        ("caption.bmp", bmp32(cap.width, cap.height, cap.rgba_bytes())),
        ("buttons.bmp", bmp32(btn.width, btn.height, btn.rgba_bytes())),
    ]
    return {"skin.dat": skin_container(entries)}
