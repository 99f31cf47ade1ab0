#!/usr/bin/env python3
"""Checks a PE file with three outside tools: objdump -p, pefile and wrestool -l.

    oracle.py FILE [--expect LISTING]
    oracle.py FILE --checksum        # prints the CheckSum field and pefile's checksum

Every tool must read the file without error or warning, and wrestool must list what pefile
lists. With --expect, both lists must equal LISTING: one line per resource,
'type/name/language size checksum' (ids as numbers, names in double quotes, checksum the
FNV-1a of the bytes in 8 hex digits; wrestool's list is compared without checksums).
Exit status 0 when all agree; the reasons otherwise."""
import argparse
import re
import subprocess
import sys

import pefile


def fnv1a(data):
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return f"{h:08x}"


def key(entry):
    return f'"{entry.name.decode("utf-16-le") if isinstance(entry.name, bytes) else str(entry.name)}"' \
        if entry.name is not None else str(entry.id)


def pefile_listing(path, problems):
    pe = pefile.PE(path)
    for w in pe.get_warnings():
        # A heuristic about small files, not a fault.
        if "makes up" in w and "of the file's contents" in w:
            continue
        problems.append(f"pefile: {w}")
    lines = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return lines

    def walk(d, prefix):
        for e in d.entries:
            p = key(e) if not prefix else prefix + "/" + key(e)
            if hasattr(e, "directory"):
                walk(e.directory, p)
            else:
                s = e.data.struct
                data = pe.get_data(s.OffsetToData, s.Size)
                if len(data) != s.Size:
                    problems.append(f"pefile: data of {p} is cut short")
                lines.append(f"{p} {s.Size} {fnv1a(data)}")
    walk(root, "")
    return lines


def wrestool_listing(path, problems):
    r = subprocess.run(["wrestool", "-l", path], capture_output=True, text=True, errors="replace")
    if r.returncode != 0 or (r.stderr.strip() and "contains no resources" not in r.stderr):
        problems.append(f"wrestool -l: rc {r.returncode}: {r.stderr.strip()}")
    lines = []
    for line in r.stdout.splitlines():
        m = re.match(r"--type=(\S*) --name=(\S*) (?:--language=(\S+) )?\[.*size=(\d+)\]", line)
        if not m:
            problems.append(f"wrestool -l: cannot parse {line!r}")
            continue
        t, n, lang, size = m.groups()
        # Texts come in single quotes; a name of zero length comes as nothing at all.
        fix = lambda v: f'"{v[1:-1]}"' if v.startswith("'") else v or '""'
        lines.append(f"{fix(t)}/{fix(n)}/{lang} {size}")
    return lines


def check(path, expected=None):
    """The problems the three tools find with the file, and with its listing when expected
    lines are given; empty when all agree."""
    problems = []
    r = subprocess.run(["objdump", "-p", path], capture_output=True, text=True, errors="replace")
    if r.returncode != 0 or r.stderr.strip():
        problems.append(f"objdump -p: rc {r.returncode}: {r.stderr.strip()}")
    try:
        pe_lines = pefile_listing(path, problems)
    except pefile.PEFormatError as e:
        problems.append(f"pefile: {e}")
        pe_lines = []
    wres_lines = wrestool_listing(path, problems)

    # wrestool prints the type's text as the name when both are texts: compare those
    # without the name.
    def blur(line):
        where, size = line.split(" ")[:2]
        t, n, lang = where.split("/")
        return f"{t}/{'*' if t.startswith(chr(34)) and n.startswith(chr(34)) else n}/{lang} {size}"

    if expected is not None:
        if sorted(pe_lines) != sorted(expected):
            problems.append("pefile lists\n  " + "\n  ".join(pe_lines) + "\nexpected\n  " + "\n  ".join(expected))
        reference = expected
    else:
        reference = pe_lines
    if sorted(blur(l) for l in wres_lines) != sorted(blur(l) for l in reference):
        problems.append("wrestool lists\n  " + "\n  ".join(wres_lines) + "\nexpected\n  " + "\n  ".join(reference))
    return problems


def checksums(path):
    """(the CheckSum field, the checksum pefile computes for the file)."""
    pe = pefile.PE(path, fast_load=True)
    return pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("file")
    ap.add_argument("--expect")
    ap.add_argument("--checksum", action="store_true")
    args = ap.parse_args()
    if args.checksum:
        print("%d %d" % checksums(args.file))
        return 0
    expected = None
    if args.expect:
        expected = [l for l in open(args.expect, encoding="utf-8").read().splitlines() if l]
    problems = check(args.file, expected)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
