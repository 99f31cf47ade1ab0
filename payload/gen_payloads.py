#!/usr/bin/env python3
"""Writes the patch payloads into a folder.

    gen_payloads.py OUTDIR [SET ...]

SET is one of: pack (res_ru.zip, the Russian resource pack), dialogs (dialog101.bin,
dialog226.bin, dialog520.bin), standin (standin.ico and standin_res_cn.data, the stand-in
target's own files); default: all. The output is the same on every run.
"""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from pack import dialogs, resourcepack, standin  # noqa: E402
import generator  # noqa: E402

SETS = {
    "pack": lambda: {"res_ru.zip": resourcepack.build_russian()},
    "dialogs": dialogs.build_all,
    "standin": standin.build,
}


if __name__ == "__main__":
    sys.exit(generator.run(sys.argv, SETS, "gen_payloads", "set", __doc__))
