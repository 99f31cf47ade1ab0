#!/usr/bin/env python3
"""PNG previews of the generated artwork, read back from the embedded files.

    preview_art.py PAYLOAD_DIR OUT_DIR

window.png is a mock-up of the main window: caption bar and buttons from the skin, rain
drawn from the two sheets, the logo blended at 50 % and the rabbit at their on-screen
sizes. The other files show each picture enlarged.
"""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from art import dmath, readback  # noqa: E402
from art.imagefile import png  # noqa: E402


class Img:
    def __init__(self, w, h, px=None, fill=(0, 0, 0, 255)):
        self.w, self.h = w, h
        self.px = list(px) if px is not None else [fill] * (w * h)

    def get(self, x, y):
        return self.px[y * self.w + x]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y * self.w + x] = c

    def blend(self, x, y, c, opacity=1.0):
        """Straight-alpha 'over' onto an opaque background."""
        if not (0 <= x < self.w and 0 <= y < self.h):
            return
        a = c[3] / 255.0 * opacity
        d = self.px[y * self.w + x]
        self.px[y * self.w + x] = tuple(round(c[k] * a + d[k] * (1 - a)) for k in range(3)) + (255,)

    def draw(self, src, x0, y0, opacity=1.0):
        for y in range(src.h):
            for x in range(src.w):
                self.blend(x0 + x, y0 + y, src.get(x, y), opacity)

    def save(self, path):
        with open(path, "wb") as f:
            f.write(png(self.w, self.h, self.px))


def zoom(img, k):
    out = Img(img.w * k, img.h * k)
    for y in range(out.h):
        for x in range(out.w):
            out.px[y * out.w + x] = img.get(x // k, y // k)
    return out


def resize(img, nw, nh):
    """Area-averaged resize with premultiplied alpha, like a halftone stretch."""
    out = Img(nw, nh)
    fx, fy = img.w / nw, img.h / nh
    n = 4
    for y in range(nh):
        for x in range(nw):
            acc = [0.0, 0.0, 0.0, 0.0]
            for j in range(n):
                sy = min(img.h - 1, int((y + (j + 0.5) / n) * fy))
                for i in range(n):
                    sx = min(img.w - 1, int((x + (i + 0.5) / n) * fx))
                    r, g, b, a = img.get(sx, sy)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / (n * n)
            if acc[3] == 0:
                out.px[y * nw + x] = (0, 0, 0, 0)
            else:
                out.px[y * nw + x] = (
                    round(acc[0] / acc[3]),
                    round(acc[1] / acc[3]),
                    round(acc[2] / acc[3]),
                    round(a),
                )
    return out


def checker(w, h, size=8):
    img = Img(w, h)
    for y in range(h):
        for x in range(w):
            v = 70 if ((x // size) + (y // size)) % 2 else 40
            img.px[y * w + x] = (v, v, v, 255)
    return img


def load_bmp(path):
    with open(path, "rb") as f:
        w, h, px = readback.read_bmp(f.read(), os.path.basename(path))
    return Img(w, h, px)


def glyph_preview(normal, intense):
    # Three columns of 14 cells, normal and intense side by side, enlarged four times.
    cols = 3
    per = 14
    out = Img(cols * 48, per * 20)
    for c in range(cols):
        for k in range(per):
            cell = c * per + k
            if cell > 40:
                continue
            for y in range(20):
                for x in range(20):
                    out.put(c * 48 + x, k * 20 + y, normal.get(x, cell * 20 + y))
                    out.put(c * 48 + 22 + x, k * 20 + y, intense.get(x, cell * 20 + y))
    return zoom(out, 4)


def window_mock(payload):
    normal = load_bmp(os.path.join(payload, "glyphs_normal.bmp"))
    intense = load_bmp(os.path.join(payload, "glyphs_intense.bmp"))
    logo = load_bmp(os.path.join(payload, "logo.bmp"))
    rabbit = load_bmp(os.path.join(payload, "rabbit.bmp"))
    with open(os.path.join(payload, "skin.dat"), "rb") as f:
        entries = dict(readback.read_skin(f.read()))
    opts = {}
    for line in entries["options.ini"].decode("utf-8").splitlines():
        if "=" in line:
            k, v = line.split("=", 1)
            opts[k] = v
    cw, ch = 454, 513
    bar = int(opts["CaptionHeight"]) + 5
    border = int(opts["BorderWidth"])
    win = Img(cw + 2 * border, ch + bar + border)

    def hexc(t):
        return (int(t[0:2], 16), int(t[2:4], 16), int(t[4:6], 16), 255)

    outer, inner = hexc(opts["FrameOuterColor"]), hexc(opts["FrameInnerColor"])
    for y in range(win.h):
        for x in range(win.w):
            edge = min(x, y, win.w - 1 - x, win.h - 1 - y)
            win.px[y * win.w + x] = outer if edge < border - 1 else inner
    cap = readback.read_bmp(entries["caption.bmp"], "caption.bmp")
    cap = Img(*cap)
    left, right = int(opts["CaptionSliceLeft"]), int(opts["CaptionSliceRight"])
    for y in range(bar):
        sy = y * cap.h // bar
        for x in range(win.w):
            if x < left:
                sx = x
            elif x >= win.w - right:
                sx = cap.w - (win.w - x)
            else:
                sx = left + (x - left) * (cap.w - left - right) // (win.w - left - right)
            win.blend(x, y, cap.get(sx, sy))
    btn = Img(*readback.read_bmp(entries["buttons.bmp"], "buttons.bmp"))
    s = int(opts["ButtonSize"])
    x = win.w - int(opts["ButtonMargin"]) - s
    for row, state in ((0, 0), (1, 1)):
        cell = Img(s, s, [btn.get(state * s + i % s, row * s + i // s) for i in range(s * s)])
        win.draw(cell, x, (bar - s) // 2)
        x -= s + int(opts["ButtonSpacing"])
    client = Img(cw, ch, fill=hexc(opts["ClientColor"]))
    rng = dmath.Lcg(2024)
    for cx in range(0, cw, 20):
        head = rng.randint(2, 26)
        length = rng.randint(4, 20)
        for r in range(max(0, head - length), head + 1):
            cell = rng.randint(0, 39)
            sheet = intense if r == head else normal
            for y in range(20):
                for x in range(20):
                    if cx + x < cw and r * 20 + y < ch:
                        client.put(cx + x, r * 20 + y, sheet.get(x, cell * 20 + y))
    # Stretched into 346 x 140 with its proportions kept.
    client.draw(resize(logo, 346, 346 * logo.h // logo.w), 56, 0, opacity=0.5)
    client.draw(resize(rabbit, 73, 65), 164, 408)
    win.draw(client, border, bar)
    return win


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    payload, out = argv[1], argv[2]
    os.makedirs(out, exist_ok=True)
    normal = load_bmp(os.path.join(payload, "glyphs_normal.bmp"))
    intense = load_bmp(os.path.join(payload, "glyphs_intense.bmp"))
    glyph_preview(normal, intense).save(os.path.join(out, "glyphs.png"))
    logo = load_bmp(os.path.join(payload, "logo.bmp"))
    zoom(logo, 3).save(os.path.join(out, "logo.png"))
    shown = Img(346, 346 * logo.h // logo.w)
    shown.draw(resize(logo, shown.w, shown.h), 0, 0)
    shown.save(os.path.join(out, "logo_shown.png"))
    rabbit = load_bmp(os.path.join(payload, "rabbit.bmp"))
    bg = checker(rabbit.w, rabbit.h)
    bg.draw(rabbit, 0, 0)
    zoom(bg, 3).save(os.path.join(out, "rabbit.png"))
    small = Img(73, 65)
    small.draw(resize(rabbit, 73, 65), 0, 0)
    zoom(small, 4).save(os.path.join(out, "rabbit_shown.png"))
    with open(os.path.join(payload, "mainicon.ico"), "rb") as f:
        icons = readback.read_ico(f.read())
    total = sum(s for s, _ in icons) + 8 * (len(icons) + 1)
    sheet = Img(total, 2 * 264)
    for y in range(sheet.h):
        for x in range(sheet.w):
            v = 32 if y < 264 else 220
            sheet.px[y * sheet.w + x] = (v, v, v, 255)
    x = 8
    for s, px in icons:
        img = Img(s, s, px)
        sheet.draw(img, x, 4)
        sheet.draw(img, x, 268)
        x += s + 8
    sheet.save(os.path.join(out, "icon.png"))
    for s, px in icons:
        if s <= 32:
            bgi = checker(s, s, 4)
            bgi.draw(Img(s, s, px), 0, 0)
            zoom(bgi, 256 // s).save(os.path.join(out, "icon_%d.png" % s))
    with open(os.path.join(payload, "skin.dat"), "rb") as f:
        entries = dict(readback.read_skin(f.read()))
    for name in ("caption.bmp", "buttons.bmp"):
        img = Img(*readback.read_bmp(entries[name], name))
        bgs = checker(img.w, img.h, 4)
        bgs.draw(img, 0, 0)
        zoom(bgs, 6).save(os.path.join(out, "skin_" + name.replace(".bmp", ".png")))
    window_mock(payload).save(os.path.join(out, "window.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
