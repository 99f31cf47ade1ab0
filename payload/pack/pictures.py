"""Small procedural pictures of every kind the pack holds: PNG, JPEG, GIF, BMP and cursors.

Each picture is drawn from a seed: a two-colour gradient tile with a rounded glyph, so the
files decode to something that looks like user-interface artwork.
"""

import math
import struct

from art import dmath, imagefile

from . import gif, jpeg

# A cursor file: like an icon file, type 2, with the hot spot where an icon has planes and
# bit count.
CURSOR_TYPE = 2


def _palette_pair(rng):
    base = (rng.randint(20, 90), rng.randint(90, 200), rng.randint(20, 120))
    light = tuple(min(255, c + rng.randint(40, 110)) for c in base)
    return base, light


def rgba(width, height, seed, alpha=True):
    """width*height (r, g, b, a): a gradient tile with a ring in its middle."""
    rng = dmath.Lcg(seed)
    base, light = _palette_pair(rng)
    cx, cy = (width - 1) / 2.0, (height - 1) / 2.0
    radius = min(width, height) * (0.25 + 0.1 * rng.uniform())
    out = []
    for y in range(height):
        t = y / max(1, height - 1)
        row = tuple(int(base[i] + (light[i] - base[i]) * t) for i in range(3))
        for x in range(width):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            ring = abs(d - radius) < max(1.0, radius * 0.22)
            r, g, b = (255, 255, 255) if ring else row
            a = 255
            if alpha:
                edge = min(x, y, width - 1 - x, height - 1 - y)
                a = 255 if edge >= 1 else 160
            out.append((r, g, b, a))
    return out


def png(width, height, seed):
    return imagefile.png(width, height, rgba(width, height, seed))


def jpg(width, height, seed):
    return jpeg.encode(width, height, [p[:3] for p in rgba(width, height, seed, alpha=False)])


def bmp(width, height, seed):
    return imagefile.bmp24(width, height, [p[:3] for p in rgba(width, height, seed, alpha=False)])


def animated_gif(width, height, seed, frames=4):
    """A spinner: a dot walking round a ring."""
    rng = dmath.Lcg(seed)
    palette = [(255, 255, 255), (rng.randint(0, 80), rng.randint(150, 230), rng.randint(0, 80)), (200, 200, 200)]
    cx, cy = (width - 1) / 2.0, (height - 1) / 2.0
    radius = min(width, height) * 0.35
    out = []
    for f in range(frames):
        angle = 2 * math.pi * f / frames
        dx, dy = cx + radius * math.cos(angle), cy + radius * math.sin(angle)
        frame = []
        for y in range(height):
            for x in range(width):
                d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
                if (x - dx) ** 2 + (y - dy) ** 2 <= (radius * 0.35) ** 2:
                    frame.append(1)
                elif abs(d - radius) < 1.0:
                    frame.append(2)
                else:
                    frame.append(0)
        out.append(frame)
    return gif.encode(width, height, palette, out, delay_cs=8)


def cursor(size, seed, hotspot=(0, 0)):
    """A Windows cursor file with one 32-bit image."""
    pixels = rgba(size, size, seed)
    image = imagefile.icon_image(size, pixels)
    header = struct.pack("<HHH", 0, CURSOR_TYPE, 1)
    entry = struct.pack("<BBBBHHII", size & 0xFF, size & 0xFF, 0, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    return header + entry + image
