"""The command line shared by the payload generators: write the named sets of files into a
folder, each file atomically."""

import os
import sys


def write_atomically(path, data):
    # An interrupted build must not leave a half-written file that looks up to date.
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def run(argv, builders, tool, kind, usage):
    """argv: OUTDIR [NAME ...]; builders: name -> function returning {file name: bytes}."""
    if len(argv) < 2:
        sys.stderr.write(usage)
        return 2
    out_dir = argv[1]
    names = argv[2:] or list(builders)
    unknown = [n for n in names if n not in builders]
    if unknown:
        sys.stderr.write("%s: unknown %s %s (known: %s)\n" % (tool, kind, ", ".join(unknown), ", ".join(builders)))
        return 2
    os.makedirs(out_dir, exist_ok=True)
    for name in names:
        for file_name, data in sorted(builders[name]().items()):
            write_atomically(os.path.join(out_dir, file_name), data)
    return 0
