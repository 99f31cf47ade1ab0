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

PICTURES = {
    "glyphs": glyphs.build,  # glyphs_normal.bmp, glyphs_intense.bmp
    "logo": logo.build,  # logo.bmp
    "rabbit": rabbit.build,  # rabbit.bmp
    "icon": icon.build,  # mainicon.ico
    "skin": skin.build,  # skin.dat
}


def write_atomically(path, data):
    # An interrupted build must not leave a half-written file that looks up to date.
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    out_dir = argv[1]
    names = argv[2:] or list(PICTURES)
    unknown = [n for n in names if n not in PICTURES]
    if unknown:
        sys.stderr.write("gen_art: unknown picture %s (known: %s)\n" % (", ".join(unknown), ", ".join(PICTURES)))
        return 2
    os.makedirs(out_dir, exist_ok=True)
    for name in names:
        for file_name, data in sorted(PICTURES[name]().items()):
            write_atomically(os.path.join(out_dir, file_name), data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
