"""What the patch run did to a target folder: files written and removed, resources replaced,
the stand-in's report, and the outside PE tools' verdict. Used by the end-to-end tests and
by ./run."""
import hashlib
import json
import pathlib
import struct
import subprocess
import sys

import pefile

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
ORACLE = ROOT / "resedit" / "tests" / "oracle.py"
# The listing's checksum is the oracle's own.
sys.path.append(str(ORACLE.parent))
from oracle import fnv1a  # noqa: E402

RT_ICON, RT_DIALOG, RT_GROUP_ICON = 3, 5, 14
CHINESE = 2052

# The console of a run in which every step succeeds.
HAPPY_LINES = ["Working Please wait!"]
for _id in (101, 226, 520):
    HAPPY_LINES += ["Load: TSRes.dll", "Find resources in: TSRes.dll", "Read resources in: TSRes.dll",
                    "Open file for writing: TSRes.dll", f"Adding patched resources: {_id} in file:TSRes.dll",
                    "Clean up..."]
HAPPY_LINES += ["", "have nice day!", "Blorn rulezzz 4ever!!!"]


def snapshot(folder):
    """{file name: (size, sha256)} of the files in a folder."""
    out = {}
    for p in sorted(pathlib.Path(folder).iterdir()):
        if p.is_file():
            data = p.read_bytes()
            out[p.name] = (len(data), hashlib.sha256(data).hexdigest())
    return out


def tree(folder):
    """{relative path: (size, sha256)} of every file below a folder, None for each folder."""
    out = {}
    for p in sorted(pathlib.Path(folder).rglob("*")):
        rel = p.relative_to(folder).as_posix()
        if p.is_dir():
            out[rel] = None
        else:
            data = p.read_bytes()
            out[rel] = (len(data), hashlib.sha256(data).hexdigest())
    return out


def resources(path):
    """{(type, name, language): bytes} of a PE file; names as str, ids as int."""
    pe = pefile.PE(str(path))
    out = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return out

    def key(e):
        return str(e.name) if e.name is not None else e.id

    for t in root.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                s = lang.data.struct
                out[(key(t), key(n), lang.id)] = pe.get_data(s.OffsetToData, s.Size)
    pe.close()
    return out


def listing(res):
    """The oracle's listing lines of a resources() dict."""
    def k(v):
        return f'"{v}"' if isinstance(v, str) else str(v)
    return sorted(f"{k(t)}/{k(n)}/{lang} {len(b)} {fnv1a(b)}" for (t, n, lang), b in res.items())


def ico_images(data):
    """[(ICONDIRENTRY's first 12 bytes, image bytes)] of an .ico file."""
    count, = struct.unpack_from("<H", data, 4)
    out = []
    for i in range(count):
        entry = data[6 + 16 * i: 6 + 16 * i + 16]
        size, offset = struct.unpack_from("<II", entry, 8)
        out.append((entry[:12], data[offset:offset + size]))
    return out


def group_ids(record):
    count, = struct.unpack_from("<H", record, 4)
    return [struct.unpack_from("<H", record, 6 + 14 * i + 12)[0] for i in range(count)]


def expected_after_patch(exe_before, dll_before, ico, dialogs):
    """The resources iTools.exe and TSRes.dll must hold after a successful run."""
    exe = dict(exe_before)
    old = exe.pop((RT_GROUP_ICON, "106", CHINESE))
    old_ids = group_ids(old)
    for i in old_ids:
        exe.pop((RT_ICON, i, CHINESE))
    used = {n for (t, n, _) in exe if t == RT_ICON}
    images = ico_images(ico)
    ids = list(old_ids[: len(images)])
    candidate = min(old_ids) if old_ids else 50
    while len(ids) < len(images):
        while candidate in used or candidate in ids:
            candidate += 1
        ids.append(candidate)
    record = bytes(ico[:6])
    for (head, image), i in zip(images, ids):
        exe[(RT_ICON, i, CHINESE)] = image
        record += head + struct.pack("<H", i)
    exe[(RT_GROUP_ICON, "106", CHINESE)] = record
    dll = dict(dll_before)
    for dialog_id, data in dialogs.items():
        dll[(RT_DIALOG, dialog_id, CHINESE)] = data
    return exe, dll


def oracle(path, expected=None):
    """Runs objdump -p, pefile and wrestool -l on a file; returns their complaints ('' when none)."""
    args = [sys.executable, "-B", str(ORACLE), str(path)]
    listing_file = None
    if expected is not None:
        listing_file = pathlib.Path(str(path) + ".expected")
        listing_file.write_text("\n".join(listing(expected)) + "\n", encoding="utf-8")
        args += ["--expect", str(listing_file)]
    r = subprocess.run(args, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if listing_file:
        listing_file.unlink()
    return (r.stdout + r.stderr).strip() if r.returncode else ""


def utf16_count(path, text):
    data = pathlib.Path(path).read_bytes()
    needle = text.encode("utf-16-le")
    count, at = 0, data.find(needle)
    while at >= 0:
        count += 1
        at = data.find(needle, at + 1)
    return count


def standin_report(harness, folder):
    """Runs the stand-in iTools.exe of a folder in its report mode; its report as a dict."""
    out = pathlib.Path(folder) / "standin-report.json"
    rc, text = harness.wine([pathlib.Path(folder) / "iTools.exe", "--report", _win_path(out)], timeout=600)
    if rc != 0 or not out.exists():
        raise AssertionError(f"the stand-in's report failed (exit {rc}): {text}")
    report = json.loads(out.read_text(encoding="utf-8"))
    out.unlink()
    return report


def assert_patched(test, harness, payload, folder, exe_before, dll_before, runnable=True):
    """Every file of a patched target, checked against what the run must have written from
    the build's payloads; if runnable, the patched stand-in is run for its report (the pack
    it opened, the string it shows, its icon's images)."""
    payload = pathlib.Path(payload)
    ico = (payload / "mainicon.ico").read_bytes()
    dialogs = {i: (payload / f"dialog{i}.bin").read_bytes() for i in (101, 226, 520)}
    files = sorted(p.name for p in folder.iterdir())
    test.assertNotIn("patchdata.data", files)
    test.assertNotIn("res_cn.data", files)
    test.assertEqual((folder / "res_ru.data").read_bytes(), (payload / "res_ru.zip").read_bytes())
    exe_expected, dll_expected = expected_after_patch(exe_before, dll_before, ico, dialogs)
    test.assertEqual(resources(folder / "iTools.exe"), exe_expected)
    test.assertEqual(resources(folder / "TSRes.dll"), dll_expected)
    for name, expected in (("iTools.exe", exe_expected), ("TSRes.dll", dll_expected)):
        test.assertEqual(oracle(folder / name, expected), "", f"the outside tools on {name}")
    test.assertEqual(utf16_count(folder / "iTools.exe", "res_cn.data"), 0)
    test.assertEqual(utf16_count(folder / "iTools.exe", "res_ru.data"), 1)
    if runnable:
        report = standin_report(harness, folder)
        test.assertEqual(report["pack"], _win_path(folder / "res_ru.data"))
        test.assertTrue(report["pack_opened"], report)
        test.assertEqual(report["error"], "")
        test.assertEqual(report["shown"], "Добро пожаловать в iTools")
        test.assertEqual([im["bytes"] for im in report["icon"]], [len(b) for _, b in ico_images(ico)])
        return report
    return None


def _win_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def _differences(before, after, removed, added, changed):
    """One line for each key whose value differs between two dicts, in key order:
    removed(key, old), added(key, new) or changed(key, old, new)."""
    for key in sorted(set(before) | set(after), key=str):
        if key not in after:
            yield removed(key, before[key])
        elif key not in before:
            yield added(key, after[key])
        elif before[key] != after[key]:
            yield changed(key, before[key], after[key])


def describe_changes(before, after, resource_pairs=None):
    """Human-readable lines: files written and removed, resources replaced, added and removed.
    resource_pairs: {file name: (resources before, resources after)}."""
    lines = list(_differences(before, after,
                              lambda name, old: f"removed  {name}",
                              lambda name, new: f"written  {name} ({new[0]} bytes)",
                              lambda name, old, new: f"changed  {name} ({old[0]} -> {new[0]} bytes)"))
    for file_name, (rb, ra) in (resource_pairs or {}).items():
        def label(key, file_name=file_name):
            t, n, lang = key
            return f"{file_name}: type {t}, name {n!r}, language {lang}"
        lines += _differences(
            rb, ra,
            lambda key, old: f"  resource removed   {label(key)} ({len(old)} bytes)",
            lambda key, new: f"  resource added     {label(key)} ({len(new)} bytes)",
            lambda key, old, new: f"  resource replaced  {label(key)} ({len(old)} -> {len(new)} bytes)")
    return lines
