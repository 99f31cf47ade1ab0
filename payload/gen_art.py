#!/usr/bin/env python3
"""Writes the program's artwork into a folder.

    gen_art.py OUTDIR [PICTURE ...]

PICTURE is one of: glyphs, logo, rabbit, icon, skin (default: all). The output names are
fixed; the program's resource script includes them from OUTDIR.
"""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from art import glyphs, icon, logo, rabbit, skin  # noqa: E402
import generator  # noqa: E402

PICTURES = {
    "glyphs": glyphs.build,  # glyphs_normal.bmp, glyphs_intense.bmp
    "logo": logo.build,  # logo.bmp
    "rabbit": rabbit.build,  # rabbit.bmp
    "icon": icon.build,  # mainicon.ico
    "skin": skin.build,  # skin.dat
}


if __name__ == "__main__":
    sys.exit(generator.run(sys.argv, PICTURES, "gen_art", "picture", __doc__))
