#!/usr/bin/env python3
"""End to end under Wine: the icon group "106" of real mingw-built programs replaced by the
resedit tool (the Windows build, run under Wine).

x86_64: for a growing, a shrinking and a same-size replacement, the file must pass objdump,
pefile and wrestool; the Wine loader must enumerate exactly the resources pefile sees; the
program must still run, find its new group, build its icons from the new images and find its
base relocations as before; the valid checksum each copy is given stays valid (pefile).
A copy whose resource directory is rewritten to share subdirectories, data entries and bytes
and to hold a name of zero length: the oracles and the loader read it, the replacement goes
through, every shared part is written as a copy of its own, and the program still runs.
A copy packed by UPX (most of its resources' bytes then lie in the packed section before the
resource section, and its imports and relocations in the resource section behind them): the
replacement goes through, those leaves keep their addresses, the oracles find nothing new and
the packed program still runs and shows its new icons.
A copy whose resource section was grown in place over the relocation section's bytes (the
loader takes it): the replacement gives the relocations bytes of their own, and the program
still runs and finds them.
i686 (PE32): the same replacement, the oracles, the checksum, and the loader's enumeration of
the file opened as a data file.

Run through the Wine harness (tools/wine/harness exec STATE ...). Windows programs write
into files, never into pipes (Wine's helper processes would hold a pipe open)."""
import argparse
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import oracle  # noqa: E402
import pefile  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "programs"))
import make_ico  # noqa: E402

CHINESE = 2052
# The sample's own icon (see CMakeLists.txt): four sizes, one colour each.
ORIGINAL = [(16, (0x20, 0x40, 0x60)), (32, (0x21, 0x41, 0x61)), (48, (0x22, 0x42, 0x62)), (64, (0x23, 0x43, 0x63))]
CASES = {
    "grows": [(16, (0xFF, 0, 0)), (32, (0, 0xFF, 0)), (48, (0, 0, 0xFF)), (64, (0xFF, 0xFF, 0)), (128, (0, 0xFF, 0xFF))],
    "shrinks": [(16, (0x80, 0x10, 0x10))],
    "same size": [(16, (0x11, 0x22, 0x33)), (32, (0x44, 0x55, 0x66)), (48, (0x77, 0x88, 0x99)), (64, (0xAA, 0xBB, 0xCC))],
}

failures = []


def fail(message):
    print("FAIL:", message)
    failures.append(message)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(work, *args):
    """Runs a Windows program under Wine; its output through a file."""
    out_path = os.path.join(work, "wine.out")
    with open(out_path, "wb") as out:
        rc = subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT).returncode
    with open(out_path, "rb") as f:
        text = f.read().decode("utf-8", "replace").replace("\r\n", "\n")
    # Wine's own complaints about a missing 32-bit part are not the program's output.
    lines = [l for l in text.splitlines() if "wine32" not in l and "multiarch" not in l and "dpkg --add" not in l
             and "apt-get install" not in l]
    return rc, lines


def resources(path):
    """(type, name, language) -> bytes, as pefile reads them."""
    pe = pefile.PE(path)
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for l in n.directory.entries:
                s = l.data.struct
                key = (t.id if t.name is None else str(t.name), n.id if n.name is None else str(n.name), l.id)
                out[key] = pe.get_data(s.OffsetToData, s.Size)
    return out


def group_ids(record):
    count = struct.unpack_from("<H", record, 4)[0]
    return [struct.unpack_from("<H", record, 6 + 14 * i + 12)[0] for i in range(count)]


def ico_images(data):
    count = struct.unpack_from("<H", data, 4)[0]
    out = []
    for i in range(count):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        out.append(data[offset:offset + size])
    return out


def check_replacement(label, before_path, after_path, ico):
    """The new file holds the new group and images and everything else unchanged."""
    before, after = resources(before_path), resources(after_path)
    new_images = ico_images(ico)
    group = after.get((14, "106", CHINESE))
    if group is None:
        fail(f"{label}: no group \"106\" after the replacement")
        return
    ids = group_ids(group)
    if group[:6] != ico[:6] or len(ids) != len(new_images):
        fail(f"{label}: the group record does not copy the icon file's header")
    for i, (image_id, image) in enumerate(zip(ids, new_images)):
        if group[6 + 14 * i:6 + 14 * i + 12] != ico[6 + 16 * i:6 + 16 * i + 12]:
            fail(f"{label}: group entry {i} differs from the icon file's")
        if after.get((3, image_id, CHINESE)) != image:
            fail(f"{label}: image {i} (id {image_id}) is not the icon file's image {i}")
    old_ids = group_ids(before[(14, "106", CHINESE)])
    if ids[:len(old_ids)] != old_ids[:len(ids)]:
        fail(f"{label}: the new images do not take the old ids {old_ids} first (got {ids})")
    # Everything else as it was; old images of the group that are not reused are gone.
    for key, data in before.items():
        if key == (14, "106", CHINESE) or (key[0] == 3 and key[1] in old_ids + ids):
            continue
        if after.get(key) != data:
            fail(f"{label}: resource {key} changed or vanished")
    for key in after:
        if key not in before and not (key[0] == 3 and key[1] in ids):
            fail(f"{label}: unexpected resource {key}")
    for gone in set(old_ids) - set(ids):
        if (3, gone, CHINESE) in after:
            fail(f"{label}: old image {gone} is still there")


def directory(data, base, offset):
    """The entries of the resource directory table at offset: (Name, OffsetToData, file offset
    of the entry)."""
    named, ids = struct.unpack_from("<HH", data, base + offset + 12)
    out = []
    for j in range(named + ids):
        at = base + offset + 16 + 8 * j
        name, target = struct.unpack_from("<II", data, at)
        out.append((name, target, at))
    return out


def resource_base(path):
    pe = pefile.PE(path)
    va = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress
    section = next(s for s in pe.sections if s.VirtualAddress == va)
    return section.PointerToRawData, va - section.PointerToRawData


def share_directory(path):
    """Rewrites the program's resource directory in place so that it shares what the format
    lets it share, without changing what any resource holds: the images of group 107 are the
    same as those of "106" (both come from one icon file), so 107's first two images take
    106's language directories, the third its data entry and the fourth its bytes. The raw
    data's name becomes one of zero length."""
    pe = pefile.PE(path)
    groups = {}
    for key, record in resources(path).items():
        if key[0] == 14:
            groups[key[1]] = group_ids(record)
    a, b = groups["106"], groups[107]
    pe.close()
    data = bytearray(open(path, "rb").read())
    base, _ = resource_base(path)
    root = directory(data, base, 0)
    ids = lambda entries: {name: (target, at) for name, target, at in entries}
    icons = ids(directory(data, base, ids(root)[3][0] & 0x7FFFFFFF))
    language_dir = lambda image: icons[image][0] & 0x7FFFFFFF
    leaf = lambda image: directory(data, base, language_dir(image))[0]
    for i in (0, 1):
        struct.pack_into("<I", data, icons[b[i]][1] + 4, icons[a[i]][0])
    struct.pack_into("<I", data, leaf(b[2])[2] + 4, leaf(a[2])[1])
    struct.pack_into("<I", data, base + leaf(b[3])[1], struct.unpack_from("<I", data, base + leaf(a[3])[1])[0])
    # A name of zero length: the root table's Characteristics, which are 0.
    assert struct.unpack_from("<H", data, base)[0] == 0
    rcdata = directory(data, base, ids(root)[10][0] & 0x7FFFFFFF)
    struct.pack_into("<I", data, rcdata[0][2], 0x80000000)
    with open(path, "wb") as f:
        f.write(data)


def data_ranges(path):
    """(address, size) of every leaf's bytes, walking the directory as written."""
    data = open(path, "rb").read()
    base, _ = resource_base(path)
    out = []

    def walk(offset):
        for _, target, _ in directory(data, base, offset):
            if target & 0x80000000:
                walk(target & 0x7FFFFFFF)
            else:
                out.append(struct.unpack_from("<II", data, base + target))
    walk(0)
    return out


def set_valid_checksum(path):
    """Gives the file the checksum pefile computes for it."""
    pe = pefile.PE(data=open(path, "rb").read())
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    data = pe.write()
    with open(path, "wb") as f:
        f.write(data)


def check_checksum(label, path):
    stored, computed = oracle.checksums(path)
    if stored != computed:
        fail(f"{label}: the checksum field holds {stored:#x}, the file's checksum is {computed:#x}")


def relocation_line(lines):
    return next((l for l in lines if l.startswith("relocations:")), None)


def sections(path):
    pe = pefile.PE(data=open(path, "rb").read(), fast_load=True)
    return {s.Name.rstrip(b"\0").decode(): s for s in pe.sections}


def leaves_outside(path):
    """(type, name, language) -> address of the leaves whose bytes lie outside the resource
    section."""
    pe = pefile.PE(path)
    rsrc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress
    section = next(s for s in pe.sections if s.VirtualAddress == rsrc)
    end = rsrc + max(section.Misc_VirtualSize, section.SizeOfRawData)
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for l in n.directory.entries:
                address = l.data.struct.OffsetToData
                if not rsrc <= address < end:
                    key = (t.id if t.name is None else str(t.name), n.id if n.name is None else str(n.name), l.id)
                    out[key] = address
    return out


def grow_over_next(path):
    """Grows the resource section in place over the bytes of the section behind it (the
    relocations), as an installer builder that grew the resources may leave a file."""
    pe = pefile.PE(data=open(path, "rb").read())
    r = next(i for i, s in enumerate(pe.sections) if s.Name.rstrip(b"\0") == b".rsrc")
    rsrc, reloc = pe.sections[r], pe.sections[r + 1]
    if reloc.Name.rstrip(b"\0") != b".reloc" or reloc.PointerToRawData != rsrc.PointerToRawData + rsrc.SizeOfRawData:
        fail("slack: the sample's relocations do not follow its resources")
    rsrc.SizeOfRawData += reloc.SizeOfRawData
    data = pe.write()
    with open(path, "wb") as f:
        f.write(data)


def check_oracles(label, path, work, resenum):
    for p in oracle.check(path):
        fail(f"{label}: {p}")
    problems = []
    expected = oracle.pefile_listing(path, problems)
    rc, lines = wine(work, resenum, windows_path(path))
    if rc != 0 or sorted(lines) != sorted(expected):
        fail(f"{label}: the Wine loader enumerates\n  " + "\n  ".join(lines) + "\nbut pefile lists\n  " +
             "\n  ".join(expected))


def edit(work, resedit, exe, ico_path):
    rc, lines = wine(work, resedit, "icon", windows_path(exe), '"106"', str(CHINESE), windows_path(ico_path))
    return rc, lines


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--resedit", required=True)
    ap.add_argument("--sample", required=True)
    ap.add_argument("--sample32", required=True)
    ap.add_argument("--resenum", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)

    # The untouched program runs and shows its own icon.
    rc, lines = wine(args.work, args.sample)
    if rc != 0 or "group \"106\": 4 images" not in lines:
        fail("the sample does not run as built: " + "; ".join(lines))
    relocations = relocation_line(lines)
    if not relocations or relocations.startswith("relocations: 0 "):
        fail(f"the sample reports no relocations: {relocations}")

    def check_runs(label, exe, work, images):
        """The program runs, finds its new group and images, and its relocations as before."""
        rc, lines = wine(work, exe)
        print(f"{label}: " + "; ".join(lines))
        if rc != 0 or f"group \"106\": {len(images)} images" not in lines or any("MISSING" in l for l in lines):
            fail(f"{label}: the program does not run or does not find its new group")
        colours = {s: "%02x%02x%02x" % c for s, c in images}
        for want in (16, 32, 48):
            line = next((l for l in lines if l.startswith(f"icon {want}:")), "")
            centre = line.rsplit(" ", 1)[-1]
            if want in colours and centre != colours[want]:
                fail(f"{label}: the {want}-pixel icon is {centre}, not {colours[want]}")
            if centre not in colours.values():
                fail(f"{label}: the {want}-pixel icon ({line}) is not built from a new image")
        if relocation_line(lines) != relocations:
            fail(f"{label}: the loaded relocations are {relocation_line(lines)}, not {relocations}")

    original_size = os.path.getsize(args.sample)
    for label, images in CASES.items():
        case = os.path.join(args.work, label.replace(" ", "_"))
        os.makedirs(case)
        exe = os.path.join(case, "sample.exe")
        shutil.copy(args.sample, exe)
        set_valid_checksum(exe)
        ico = make_ico.ico(images)
        ico_path = os.path.join(case, "new.ico")
        with open(ico_path, "wb") as f:
            f.write(ico)
        rc, lines = edit(case, args.resedit, exe, ico_path)
        if rc != 0:
            fail(f"{label}: resedit failed: " + "; ".join(lines))
            continue
        size = os.path.getsize(exe)
        grew = {"grows": size > original_size, "shrinks": size < original_size, "same size": size == original_size}
        if not grew[label]:
            fail(f"{label}: the file went from {original_size} to {size} bytes")
        check_replacement(label, args.sample, exe, ico)
        check_oracles(label, exe, case, args.resenum)
        check_checksum(label, exe)

        # The program still runs and builds its icons from the new images.
        check_runs(label, exe, case, images)

    # A directory that shares subdirectories, data entries and bytes, and has a name of zero
    # length: legal, so the replacement goes through, and every shared part is written as a
    # copy of its own.
    case = os.path.join(args.work, "shared")
    os.makedirs(case)
    shared = os.path.join(case, "shared.exe")
    shutil.copy(args.sample, shared)
    share_directory(shared)
    check_oracles("shared before", shared, case, args.resenum)
    if len(set(data_ranges(shared))) == len(data_ranges(shared)):
        fail("shared: the rewritten directory shares no data")
    exe = os.path.join(case, "sample.exe")
    shutil.copy(shared, exe)
    ico = make_ico.ico(CASES["grows"])
    ico_path = os.path.join(case, "new.ico")
    with open(ico_path, "wb") as f:
        f.write(ico)
    rc, lines = edit(case, args.resedit, exe, ico_path)
    if rc != 0:
        fail("shared: resedit failed: " + "; ".join(lines))
    else:
        check_replacement("shared", shared, exe, ico)
        check_oracles("shared", exe, case, args.resenum)
        ranges = sorted(data_ranges(exe))
        if any(x[0] + x[1] > y[0] for x, y in zip(ranges, ranges[1:])):
            fail("shared: leaves still share bytes after the rewrite")
        check_runs("shared", exe, case, CASES["grows"])

    # Packed: the leaves whose bytes UPX moved into its packed section keep their addresses,
    # and its imports and relocations in the resource section keep their place.
    case = os.path.join(args.work, "packed")
    os.makedirs(case)
    exe = os.path.join(case, "sample.exe")
    shutil.copy(args.sample, exe)
    upx = shutil.which("upx") or shutil.which("upx-ucl")
    if not upx:
        print("packed: SKIPPED, no upx here (tools/setup.sh installs upx-ucl where the release or its backports have it)")
    elif subprocess.run([upx, "-q", exe], stdout=subprocess.DEVNULL).returncode != 0:
        fail("packed: upx cannot pack the sample")
    else:
        set_valid_checksum(exe)
        packed = os.path.join(case, "packed.exe")
        shutil.copy(exe, packed)
        outside = leaves_outside(packed)
        directories = pefile.PE(packed).OPTIONAL_HEADER.DATA_DIRECTORY
        rsrc = sections(packed)[".rsrc"]
        inside = [d.name for d in directories if d.Size and d.name != "IMAGE_DIRECTORY_ENTRY_RESOURCE" and
                  rsrc.VirtualAddress <= d.VirtualAddress < rsrc.VirtualAddress + rsrc.Misc_VirtualSize]
        if not outside or not inside:
            fail(f"packed: not the packed layout (leaves outside: {outside}; directories inside: {inside})")
        rc, lines = wine(case, exe)
        if rc != 0 or relocation_line(lines) is None:
            fail("packed: the packed program does not run: " + "; ".join(lines))
        relocations_packed = relocation_line(lines)
        ico = make_ico.ico(CASES["grows"])
        ico_path = os.path.join(case, "new.ico")
        with open(ico_path, "wb") as f:
            f.write(ico)
        rc, lines = edit(case, args.resedit, exe, ico_path)
        if rc != 0:
            fail("packed: resedit failed: " + "; ".join(lines))
        else:
            check_replacement("packed", packed, exe, ico)
            if leaves_outside(exe) != outside:
                fail(f"packed: the leaves outside the resource section moved: {leaves_outside(exe)}, not {outside}")
            if set(oracle.check(exe)) != set(oracle.check(packed)):
                fail("packed: the oracles find new problems:\n  " + "\n  ".join(sorted(set(oracle.check(exe)) - set(oracle.check(packed)))))
            check_checksum("packed", exe)
            saved, relocations = relocations, relocations_packed
            check_runs("packed", exe, case, CASES["grows"])
            relocations = saved

    # Relocations in the resource section's slack: given bytes of their own.
    case = os.path.join(args.work, "slack")
    os.makedirs(case)
    slack = os.path.join(case, "slack.exe")
    shutil.copy(args.sample, slack)
    grow_over_next(slack)
    set_valid_checksum(slack)
    rc, lines = wine(case, slack)
    if rc != 0 or relocation_line(lines) != relocations:
        fail("slack: the program does not run as grown over its relocations: " + "; ".join(lines))
    exe = os.path.join(case, "sample.exe")
    shutil.copy(slack, exe)
    ico = make_ico.ico(CASES["grows"])
    ico_path = os.path.join(case, "new.ico")
    with open(ico_path, "wb") as f:
        f.write(ico)
    rc, lines = edit(case, args.resedit, exe, ico_path)
    if rc != 0:
        fail("slack: resedit failed: " + "; ".join(lines))
    else:
        s = sections(exe)
        rs, rl = s[".rsrc"], s[".reloc"]
        if rl.PointerToRawData < rs.PointerToRawData + rs.SizeOfRawData:
            fail("slack: the relocations' bytes still lie inside the resource section's")
        check_replacement("slack", slack, exe, ico)
        check_oracles("slack", exe, case, args.resenum)
        check_checksum("slack", exe)
        check_runs("slack", exe, case, CASES["grows"])

    # PE32: the same replacement; the oracles and the loader's view of it as a data file.
    case = os.path.join(args.work, "pe32")
    os.makedirs(case)
    exe = os.path.join(case, "sample32.exe")
    shutil.copy(args.sample32, exe)
    set_valid_checksum(exe)
    if pefile.PE(exe).OPTIONAL_HEADER.Magic != 0x10B:
        fail("sample32 is not a PE32 file")
    ico = make_ico.ico(CASES["grows"])
    ico_path = os.path.join(case, "new.ico")
    with open(ico_path, "wb") as f:
        f.write(ico)
    check_oracles("pe32 before", exe, case, args.resenum)
    rc, lines = edit(case, args.resedit, exe, ico_path)
    if rc != 0:
        fail("pe32: resedit failed: " + "; ".join(lines))
    else:
        check_replacement("pe32", args.sample32, exe, ico)
        check_oracles("pe32", exe, case, args.resenum)
        check_checksum("pe32", exe)

    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
