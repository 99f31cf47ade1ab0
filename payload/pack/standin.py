"""Files of the stand-in target (tests and the demo): its own three-image icon and its
Chinese resource pack."""

from art import imagefile

from . import pictures, resourcepack

ICON_SIZES = (16, 32, 48)


def icon():
    """A red tile with a white ring: plainly not the pack's icon."""
    images = []
    for size in ICON_SIZES:
        pixels = [(200, 30 + g // 4, 30, a) if (r, g, b) != (255, 255, 255) else (255, 255, 255, a)
                  for r, g, b, a in pictures.rgba(size, size, 0x106 + size)]
        images.append((size, pixels))
    return imagefile.ico(images)


def build():
    return {"standin.ico": icon(), "standin_res_cn.data": resourcepack.build_chinese()}
