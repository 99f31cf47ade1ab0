#!/usr/bin/env python3
"""Benchmark of the resource editor's icon replacement on a large executable.

    python3 bench/resedit_bench.py [--work DIR] [--runs N] [--mb 200] [--baseline DIR]

Generates a PE32+ file of about 200 MB whose resource section (an icon group "106" of three
images and about 10 MB of raw data) is followed by about 190 MB of sections, and an icon file
like the program's own (six images, 370 KB). Then, each on a fresh copy and each N times
(the median counts):

  cp        copying the file with cp
  resedit   the editor (build/native/bin/resedit icon FILE '"106"' 2052 ICO)
  wine      the editor's Windows build under Wine (Wine's start-up included; printed
            again less the start-up of an empty program)
  updres    the same change through BeginUpdateResourceW / UpdateResourceW /
            EndUpdateResourceW under Wine (bench/resedit_wineupdres.cpp; start-up included,
            and the time of the calls alone as the helper measures it)

and prints the times, the ratios to cp, and whether objdump -p accepts each result and its
checksum is valid (the generated file carries a valid one, which the editor keeps valid). With
--baseline, the resedit and resedit.exe found in DIR (an earlier build, say) are timed in the
same rounds, for a before-and-after comparison from one run.
Needs the native and the windows presets built."""
import argparse
import os
import shlex
import shutil
import statistics
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "resedit", "tests", "programs"))
import make_ico  # noqa: E402

FA, SA = 0x200, 0x1000


def align(x, a):
    return (x + a - 1) // a * a


def resource_section(va, entries):
    """entries: list of (type, name, lang, bytes); name an int or a str."""
    tree = {}
    for t, n, l, b in entries:
        tree.setdefault(t, {}).setdefault(n, {})[l] = b

    def key_order(keys):
        return sorted([k for k in keys if isinstance(k, str)]) + sorted(k for k in keys if isinstance(k, int))

    tables, leaves, strings = bytearray(), [], bytearray()
    # Sizes first: tables, data entries, strings, data.
    ntables = 1 + len(tree) + sum(len(v) for v in tree.values())
    nentries = len(tree) + sum(len(v) for v in tree.values()) + sum(len(l) for v in tree.values() for l in v.values())
    nleaves = sum(len(l) for v in tree.values() for l in v.values())
    table_bytes = 16 * ntables + 8 * nentries
    names = [k for v in [tree] + list(tree.values()) for k in v if isinstance(k, str)]
    string_bytes = sum(2 + 2 * len(s) for s in names)
    data_start = align(table_bytes + 16 * nleaves + string_bytes, 8)
    out = bytearray(data_start)
    pos = {"table": 0, "leaf": table_bytes, "string": table_bytes + 16 * nleaves, "data": data_start}
    blobs = []

    def name_field(k):
        if isinstance(k, int):
            return k
        at = pos["string"]
        enc = k.encode("utf-16-le")
        out[at:at + 2 + len(enc)] = struct.pack("<H", len(k)) + enc
        pos["string"] += 2 + len(enc)
        return 0x80000000 | at

    def table(children, write_child):
        at = pos["table"]
        keys = key_order(children)
        named = sum(1 for k in keys if isinstance(k, str))
        out[at:at + 16] = struct.pack("<IIHHHH", 0, 0, 0, 0, named, len(keys) - named)
        pos["table"] += 16 + 8 * len(keys)
        for i, k in enumerate(keys):
            off = write_child(children[k])
            struct.pack_into("<II", out, at + 16 + 8 * i, name_field(k), off)
        return 0x80000000 | at

    def leaf(b):
        at = pos["leaf"]
        pos["leaf"] += 16
        data_at = len(out) + sum(len(x) for x in blobs)
        blobs.append(b + b"\0" * (align(len(b), 8) - len(b)))
        struct.pack_into("<IIII", out, at, va + data_at, len(b), 0, 0)
        return at

    table(tree, lambda names_: table(names_, lambda langs: table(langs, leaf)))
    return bytes(out) + b"".join(blobs)


def build_pe(path, tail_mb, rcdata_mb):
    old_icon = make_ico.ico([(16, (1, 2, 3)), (32, (4, 5, 6)), (48, (7, 8, 9))])
    count = struct.unpack_from("<H", old_icon, 4)[0]
    entries, record = [], bytearray(old_icon[:6])
    for i in range(count):
        size, offset = struct.unpack_from("<II", old_icon, 6 + 16 * i + 8)
        entries.append((3, i + 1, 2052, old_icon[offset:offset + size]))
        record += old_icon[6 + 16 * i:6 + 16 * i + 12] + struct.pack("<H", i + 1)
    entries.append((14, "106", 2052, bytes(record)))
    entries.append((10, "RES_RU", 1033, os.urandom(rcdata_mb << 20)))

    sections = []  # name, characteristics, bytes
    sections.append((b".text", 0x60000020, b"\xc3" + b"\xcc" * 0xFFF))
    sections.append((b".rdata", 0x40000040, os.urandom(0x3000)))
    rsrc_index = len(sections)
    sections.append((b".rsrc", 0x40000040, None))
    reloc = struct.pack("<IIHH", 0x1000, 12, 0, 0)
    sections.append((b".reloc", 0x42000040, reloc))
    chunk = os.urandom(1 << 20)
    sections.append((b".debug", 0x42000040, chunk * tail_mb))

    headers = align(0x80 + 24 + 240 + 40 * len(sections), FA)
    va, raw, placed = SA, headers, []
    for i, (name, flags, data) in enumerate(sections):
        if data is None:
            data = resource_section(va, entries)
        placed.append((name, flags, data, va, raw))
        va = align(va + len(data), SA)
        raw += align(len(data), FA)
    size_of_image = va

    with open(path, "wb") as f:
        dos = bytearray(0x80)
        struct.pack_into("<H", dos, 0, 0x5A4D)
        struct.pack_into("<I", dos, 0x3C, 0x80)
        f.write(dos)
        f.write(struct.pack("<IHHIIIHH", 0x4550, 0x8664, len(sections), 0, 0, 0, 240, 0x0022))
        opt = bytearray(240)
        init = sum(align(len(d), FA) for _, fl, d, _, _ in placed if not fl & 0x20)
        struct.pack_into("<HBBIIIII", opt, 0, 0x20B, 2, 0, 0x1000, init, 0, 0x1000, 0x1000)
        struct.pack_into("<QII", opt, 24, 0x140000000, SA, FA)
        struct.pack_into("<HHHHHH", opt, 40, 6, 0, 0, 0, 6, 0)
        struct.pack_into("<III", opt, 56, size_of_image, headers, 0)
        struct.pack_into("<HH", opt, 68, 3, 0x8160)
        struct.pack_into("<QQQQII", opt, 72, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
        _, _, rdata, rva, _ = placed[rsrc_index]
        struct.pack_into("<II", opt, 112 + 8 * 2, rva, len(rdata))
        struct.pack_into("<II", opt, 112 + 8 * 5, placed[rsrc_index + 1][3], len(reloc))
        f.write(opt)
        for name, flags, data, v, r in placed:
            f.write(struct.pack("<8sIIIIIIHHI", name, len(data), v, align(len(data), FA), r, 0, 0, 0, 0, flags))
        f.write(b"\0" * (headers - f.tell()))
        for name, flags, data, v, r in placed:
            f.write(data)
            f.write(b"\0" * (align(len(data), FA) - len(data)))


CHECKSUM_AT = 0x80 + 24 + 64  # the optional header's CheckSum in the generated file


def checksum(data):
    """The PE checksum of the bytes (their CheckSum field counted as zero): the 16-bit words
    added with end-around carry, plus the length. A little-endian number's remainder by 0xFFFF
    is that of its 16-bit words' sum, taken here in blocks."""
    data = bytearray(data)
    data[CHECKSUM_AT:CHECKSUM_AT + 4] = bytes(4)
    block = 1 << 16
    total = sum(int.from_bytes(data[i:i + block], "little") % 0xFFFF for i in range(0, len(data), block))
    folded = total % 0xFFFF or (0xFFFF if any(data) else 0)
    return (folded + len(data)) & 0xFFFFFFFF


def set_checksum(path):
    with open(path, "r+b") as f:
        value = checksum(f.read())
        f.seek(CHECKSUM_AT)
        f.write(struct.pack("<I", value))


def checksum_ok(path):
    with open(path, "rb") as f:
        data = f.read()
    return struct.unpack_from("<I", data, CHECKSUM_AT)[0] == checksum(data)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env():
    out = subprocess.run([os.path.join(ROOT, "tools/wine/harness"), "env", os.path.join(ROOT, "build/windows/wine")],
                         capture_output=True, text=True, check=True).stdout
    env = dict(os.environ)
    for line in out.splitlines():
        k, _, v = line.partition("=")
        env[k] = "".join(shlex.split(v))  # printf %q quoting
    return env


def timed(command, work, env=None):
    """Wall time of a command; its output goes to a file (Wine's helpers would hold a pipe)."""
    out = os.path.join(work, "command.out")
    start = time.perf_counter()
    with open(out, "wb") as f:
        rc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT, env=env).returncode
    elapsed = time.perf_counter() - start
    text = open(out, "rb").read().decode("utf-8", "replace")
    if rc != 0:
        raise RuntimeError(f"{command[0]} failed ({rc}): {text}")
    return elapsed, text


def objdump_ok(path):
    r = subprocess.run(["objdump", "-p", path], capture_output=True, text=True)
    return r.returncode == 0 and not r.stderr.strip()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "bench", "resedit"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--mb", type=int, default=200)
    ap.add_argument("--baseline", help="a folder with resedit and resedit.exe to compare with")
    args = ap.parse_args()
    native = os.path.join(ROOT, "build/native/bin/resedit")
    windows = os.path.join(ROOT, "build/windows/bin/resedit.exe")
    updres = os.path.join(ROOT, "build/windows/bin/resedit_wineupdres.exe")
    needed = [native, windows, updres]
    if args.baseline:
        base_native = os.path.join(args.baseline, "resedit")
        base_windows = os.path.join(args.baseline, "resedit.exe")
        needed += [base_native, base_windows]
    for p in needed:
        if not os.path.exists(p):
            sys.exit(f"missing {p}: build the native and windows presets first")
    os.makedirs(args.work, exist_ok=True)
    big = os.path.join(args.work, "big.exe")
    ico = os.path.join(args.work, "icon.ico")
    with open(ico, "wb") as f:
        f.write(make_ico.ico([(16, (255, 0, 0)), (32, (0, 255, 0)), (48, (0, 0, 255)), (64, (9, 9, 9)),
                              (128, (8, 8, 8)), (256, (7, 7, 7))]))
    tail_mb = args.mb - 10
    print(f"generating {big} ({args.mb} MB, {tail_mb} MB behind the resources) ...", flush=True)
    build_pe(big, tail_mb, 9)
    set_checksum(big)
    size = os.path.getsize(big)
    copy = os.path.join(args.work, "copy.exe")
    env = wine_env()
    subprocess.run([os.path.join(ROOT, "tools/wine/harness"), "setup", os.path.join(ROOT, "build/windows/wine")],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)

    def fresh():
        if os.path.exists(copy):
            os.remove(copy)
        shutil.copyfile(big, copy)
        subprocess.run(["sync"])

    results, valid, sums, inner = {}, {}, {}, []

    def check(key):
        """objdump's verdict on each run's result; the checksum's on the first one's (it takes
        a few seconds)."""
        valid[key] = objdump_ok(copy)
        if key not in sums:
            sums[key] = checksum_ok(copy)

    for _ in range(args.runs):
        if os.path.exists(copy):
            os.remove(copy)
        subprocess.run(["sync"])
        results.setdefault("cp", []).append(timed(["cp", big, copy], args.work)[0])
        fresh()
        results.setdefault("resedit", []).append(timed([native, "icon", copy, '"106"', "2052", ico], args.work)[0])
        check("resedit")
        fresh()
        results.setdefault("wine", []).append(
            timed(["wine", windows, "icon", windows_path(copy), '"106"', "2052", windows_path(ico)], args.work, env)[0])
        check("wine")
        if args.baseline:
            fresh()
            results.setdefault("resedit baseline", []).append(
                timed([base_native, "icon", copy, '"106"', "2052", ico], args.work)[0])
            check("resedit baseline")
            fresh()
            results.setdefault("wine baseline", []).append(
                timed(["wine", base_windows, "icon", windows_path(copy), '"106"', "2052", windows_path(ico)],
                      args.work, env)[0])
            check("wine baseline")
        fresh()
        t, text = timed(["wine", updres, windows_path(copy), "106", "2052", windows_path(ico)], args.work, env)
        results.setdefault("updres", []).append(t)
        inner.append(float(text.strip().splitlines()[-1]))
        check("updres")
        results.setdefault("wine start-up", []).append(timed(["wine", updres, "--noop"], args.work, env)[0])

    m = {k: statistics.median(v) for k, v in results.items()}
    spread = {k: f"({min(v):.3f} to {max(v):.3f})" for k, v in results.items()}
    print(f"\nfile {size / 1e6:.1f} MB, median of {args.runs} runs, fastest to slowest in brackets "
          f"(page cache warm, no fsync):")
    print(f"  cp                          {m['cp']:7.3f} s {spread['cp']}")

    def row(label, key):
        print(f"  {label:27} {m[key]:7.3f} s {spread[key]}   {m[key] / m['cp']:5.2f} x cp   "
              f"objdump {'accepts' if valid[key] else 'REFUSES'} the result, "
              f"checksum {'valid' if sums[key] else 'INVALID'}")
    row("resedit (native)", "resedit")
    if args.baseline:
        row("  baseline", "resedit baseline")
    row("resedit.exe under Wine", "wine")
    if args.baseline:
        row("  baseline", "wine baseline")
    row("update-resource functions", "updres")
    print(f"    (the calls alone          {statistics.median(inner):7.3f} s)")
    print(f"  Wine start-up               {m['wine start-up']:7.3f} s")
    # What the editor itself takes under Wine: its time less an empty program's start-up.
    for label, key in (("resedit.exe less start-up", "wine"), ("  baseline", "wine baseline")):
        if key in m:
            work = m[key] - m["wine start-up"]
            print(f"  {label:27} {work:7.3f} s{'':18}{work / m['cp']:5.2f} x cp")
    print(f"  resedit.exe / update functions under Wine: {m['wine'] / m['updres']:.2f}")
    os.remove(copy)

    # The same change on a mingw-built program, whose COFF symbol table lies behind the
    # resource section: does objdump still read the result?
    sample = os.path.join(ROOT, "build/windows/resedit/resedit_sample.exe")
    if os.path.exists(sample):
        small = os.path.join(args.work, "sample.exe")
        shutil.copyfile(sample, small)
        timed(["wine", windows, "icon", windows_path(small), '"106"', "2052", windows_path(ico)], args.work, env)
        ours = objdump_ok(small)
        shutil.copyfile(sample, small)
        timed(["wine", updres, windows_path(small), "106", "2052", windows_path(ico)], args.work, env)
        theirs = objdump_ok(small)
        print(f"\nmingw-built sample with a symbol table: objdump {'accepts' if ours else 'REFUSES'} the editor's "
              f"result and {'accepts' if theirs else 'refuses'} the update functions' result")
        os.remove(small)


if __name__ == "__main__":
    main()
