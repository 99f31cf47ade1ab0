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

SETS = {
    "pack": lambda: {"res_ru.zip": resourcepack.build_russian()},
    "dialogs": dialogs.build_all,
    "standin": standin.build,
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
    names = argv[2:] or list(SETS)
    unknown = [n for n in names if n not in SETS]
    if unknown:
        sys.stderr.write("gen_payloads: unknown set %s (known: %s)\n" % (", ".join(unknown), ", ".join(SETS)))
        return 2
    os.makedirs(out_dir, exist_ok=True)
    for name in names:
        for file_name, data in sorted(SETS[name]().items()):
            write_atomically(os.path.join(out_dir, file_name), data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
