"""The patch payloads: the resource pack's structure and contents, the dialog templates, the
stand-in target's files, their format checks, and repeatable output.

    patch_payload_test.py PAYLOAD_DIR
"""
import collections
import io
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))
sys.dont_write_bytecode = True

import check_payload  # noqa: E402
from pack import dialogs, strings  # noqa: E402

PAYLOAD = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else "build/native/payload")

SECTIONS = ["AppBox", "BookBox", "CleanUp", "DownloadBox", "Global", "HomeBox", "MainBox", "Migrator",
            "MovieBox", "MusicBox", "PhotoBox", "PhotoViewer", "PInfoBox", "RestoreBackup", "ToolBox",
            "WeChat", "Weibo"]
FONT_FIELDS = {"height", "weight", "charset", "outprecision", "clipprecision", "quality", "pitchandfamily"}
CYRILLIC = re.compile("[А-Яа-яЁё]")


def read(name):
    return (PAYLOAD / name).read_bytes()


class PackTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = read("res_ru.zip")
        cls.zip = zipfile.ZipFile(io.BytesIO(cls.data))
        cls.infos = cls.zip.infolist()

    def test_is_a_plain_zip_that_fills_the_file(self):
        check_payload.check_pack(self.data)
        self.assertEqual(self.data[:4], b"PK\x03\x04")
        self.assertEqual(self.data[-22:-18], b"PK\x05\x06", "end record as the last 22 bytes")
        self.assertEqual(self.data[-2:], b"\0\0", "no archive comment")
        self.assertIsNone(self.zip.testzip())
        self.assertFalse(any(i.flag_bits & 1 for i in self.infos), "no encrypted entry")
        # An outside reader agrees.
        with tempfile.TemporaryDirectory() as tmp:
            path = pathlib.Path(tmp) / "res_ru.data"
            path.write_bytes(self.data)
            out = subprocess.run(["unzip", "-tq", str(path)], capture_output=True, text=True)
            if out.returncode == 127 or "not found" in out.stderr:
                self.skipTest("unzip is not installed")
            self.assertEqual(out.returncode, 0, out.stdout + out.stderr)

    def test_entry_counts_and_methods(self):
        folders = [i for i in self.infos if i.is_dir()]
        files = [i for i in self.infos if not i.is_dir()]
        self.assertEqual((len(self.infos), len(folders), len(files)), (612, 57, 555))
        methods = collections.Counter(i.compress_type for i in self.infos)
        self.assertEqual(methods, {zipfile.ZIP_DEFLATED: 553, zipfile.ZIP_STORED: 59})
        stored_files = [i.filename for i in files if i.compress_type == zipfile.ZIP_STORED]
        self.assertEqual(len(stored_files), 2)
        self.assertTrue(all(self.zip.getinfo(n).file_size == 0 for n in stored_files), "only empty files are stored")
        self.assertTrue(all(i.file_size == 0 for i in folders))

    def test_tree(self):
        names = set(self.zip.namelist())
        top = sorted({n.split("/")[0] for n in names if "/" in n})
        self.assertEqual(top, sorted(SECTIONS + ["picture"]))
        for s in SECTIONS:
            with self.subTest(s):
                for part in ("uir.json", "images/", "fonts/"):
                    self.assertIn("%s/%s" % (s, part), names)
                uir = json.loads(self.zip.read(s + "/uir.json"))
                self.assertTrue(uir)
                for element in uir.values():
                    refs = element.values() if "image" not in element else [element]
                    for ref in refs:
                        self.assertEqual(set(ref), {"image", "rect"})
                        self.assertEqual(len(ref["rect"]), 4)
        optional = collections.Counter(n.split("/")[1] for n in names if n.count("/") == 2 and n.endswith("/"))
        self.assertEqual(optional, {"images": 17, "fonts": 17, "gif": 2, "cursor": 2, "strings": 1})
        strings_folder = [n for n in names if "/strings/" in n]
        self.assertEqual(len(strings_folder), 1, "the strings/ folder is empty")
        layouts = [n for n in names if n.endswith(".layout")]
        self.assertEqual(layouts, ["HomeBox/home.layout"])
        json.loads(self.zip.read(layouts[0]))
        self.assertEqual([n for n in names if n.startswith("picture/") and not n.endswith("/")],
                         ["picture/5000_background.jpg"])
        self.assertIn("cop.cmd", names)
        self.assertIn(b"res_ru.data", self.zip.read("cop.cmd"))

    def test_picture_and_font_files(self):
        files = [n for n in self.zip.namelist() if not n.endswith("/")]
        kinds = collections.Counter(n.rsplit(".", 1)[1] for n in files if re.search(r"\.(png|jpg|gif|bmp|cur)$", n))
        self.assertEqual(kinds, {"png": 401, "jpg": 48, "gif": 6, "bmp": 1, "cur": 8})
        for n in files:
            if re.search(r"\.(png|jpg|gif|bmp|cur)$", n):
                self.assertRegex(n.rsplit("/", 1)[1], r"^\d+_[a-z]+\.[a-z]+$")
        fonts = [n for n in files if "/fonts/" in n]
        self.assertEqual(len(fonts), 71)
        empty = 0
        for n in fonts:
            self.assertRegex(n.rsplit("/", 1)[1], r"^\d+_[A-Za-z]+$", "no extension")
            data = self.zip.read(n)
            if not data:
                empty += 1
                continue
            self.assertNotIn(b"\n", data, "one line")
            self.assertTrue(FONT_FIELDS <= set(json.loads(data)))
        self.assertEqual(empty, 2)
        # Every picture decodes with an outside reader (ImageMagick), at its stated kind.
        with tempfile.TemporaryDirectory() as tmp:
            paths = []
            for n in files:
                ext = n.rsplit(".", 1)[-1]
                if ext in ("png", "jpg", "gif", "bmp", "cur"):
                    p = pathlib.Path(tmp) / n.replace("/", "_")
                    p.write_bytes(self.zip.read(n))
                    paths.append(("%s:%s" % ({"jpg": "jpeg", "cur": "cur"}.get(ext, ext), p), ext))
            out = subprocess.run(["identify", "-format", "%m %w %h\n", *[p for p, _ in paths]],
                                 capture_output=True, text=True)
            self.assertEqual(out.returncode, 0, out.stderr[:2000])
            formats = collections.Counter(line.split()[0] for line in out.stdout.splitlines())
            # A GIF reports one line per frame.
            self.assertEqual(formats["PNG"], 401)
            self.assertEqual(formats["JPEG"], 48)
            self.assertEqual(formats["BMP"] + formats["BMP3"], 1)
            self.assertEqual(formats["CUR"], 8)
            self.assertGreaterEqual(formats["GIF"], 6)

    def test_string_table_is_russian_and_covers_the_stand_in(self):
        table = json.loads(self.zip.read("iTools_string_cn.json").decode("utf-8"))
        self.assertEqual(len(table), 3256)
        self.assertTrue(all(CYRILLIC.search(v) for v in table.values()), "every text is Russian")
        self.assertFalse(any("?" * 2 in v for v in table.values()))
        for key, _, ru in strings.STANDIN_STRINGS:
            self.assertEqual(table[key], ru)


class DialogTest(unittest.TestCase):
    def test_templates_follow_the_tables(self):
        for dialog_id, (size, style, charset, title, items) in dialogs.TEMPLATES.items():
            with self.subTest(dialog_id):
                data = read("dialog%d.bin" % dialog_id)
                check_payload.check_dialog(data, dialog_id)
                header, parsed = check_payload.parse_dialog(data)
                self.assertEqual((header["size"], header["style"], header["charset"], header["title"]),
                                 (size, style, charset, title))
                self.assertEqual((header["font"], header["points"], header["weight"], header["italic"]),
                                 ("MS Shell Dlg", 8, 400, 0))
                self.assertEqual(header["style"] & 0x48, 0x48, "DS_SETFONT and DS_FIXEDSYS")
                for item, (item_id, atom, item_style, _, caption) in zip(parsed, items):
                    self.assertEqual((item["id"], item["class"], item["style"], item["caption"]),
                                     (item_id, atom, item_style, caption))
                    self.assertEqual((item["help"], item["exstyle"], item["extra"]), (0, 0, 0))
                    self.assertFalse(item["caption"] and set(item["caption"]) <= {"?"}, "no placeholder captions")

    def test_captions_are_russian_except_the_kept_ones(self):
        kept = {"KB/s", "(10-10240)", "AppleID:", "Перевод:brisk_fenor"}
        for dialog_id in dialogs.TEMPLATES:
            _, parsed = check_payload.parse_dialog(read("dialog%d.bin" % dialog_id))
            for item in parsed:
                if item["caption"] and item["caption"] not in kept:
                    self.assertRegex(item["caption"], CYRILLIC, "dialog %d item %d" % (dialog_id, item["id"]))
        self.assertEqual(check_payload.parse_dialog(read("dialog226.bin"))[0]["title"], "Dialog")


class FormatCheckTest(unittest.TestCase):
    """The configure-time checks refuse what the patch run could not use."""

    def refused(self, kind, data):
        with self.assertRaises(check_payload.FormatError):
            check_payload.CHECKS[kind](data)

    def test_pack_refusals(self):
        good = read("res_ru.zip")
        check_payload.check_pack(read("standin_res_cn.data"))
        with_comment = bytearray(good)
        with_comment[-2:] = b"\x03\x00"
        cases = {
            "empty": b"",
            "not a zip": b"MZ" + good[2:],
            "comment": bytes(with_comment) + b"abc",
            "trailing bytes": good + b"\0",
            "truncated": good[: len(good) // 2],
        }
        for name, data in cases.items():
            with self.subTest(name):
                self.refused("pack", data)
        out = io.BytesIO()
        with zipfile.ZipFile(out, "w") as z:
            z.writestr("a.txt", b"x")
        with self.subTest("no string table"):
            self.refused("pack", out.getvalue())

    def test_icon_refusals(self):
        good = bytearray(read("mainicon.ico"))
        check_payload.check_icon(bytes(good))
        check_payload.check_icon(read("standin.ico"))
        cases = {}
        bad = bytearray(good); bad[2] = 2; cases["a cursor"] = bad
        bad = bytearray(good); bad[4:6] = b"\0\0"; cases["no image"] = bad
        cases["cut short"] = good[:-1]
        bad = bytearray(good); bad[102 + 14] = 24; cases["24-bit image"] = bad
        for name, data in cases.items():
            with self.subTest(name):
                self.refused("icon", bytes(data))

    def test_dialog_refusals(self):
        good = read("dialog520.bin")
        self.refused("dialog101", good)
        self.refused("dialog520", good[:-6])
        bad = bytearray(good); bad[0] = 2
        self.refused("dialog520", bytes(bad))

    def test_command_line(self):
        script = HERE.parent / "check_payload.py"
        ok = subprocess.run([sys.executable, "-B", str(script), "pack", str(PAYLOAD / "res_ru.zip")],
                            capture_output=True, text=True)
        self.assertEqual((ok.returncode, ok.stdout), (0, ""))
        bad = subprocess.run([sys.executable, "-B", str(script), "icon", str(PAYLOAD / "res_ru.zip")],
                             capture_output=True, text=True)
        self.assertEqual(bad.returncode, 1)
        self.assertIn("not an icon file", bad.stdout)


class StandInFilesTest(unittest.TestCase):
    def test_icon_and_pack(self):
        ico = read("standin.ico")
        self.assertEqual(ico[4], 3, "three images")
        z = zipfile.ZipFile(io.BytesIO(read("standin_res_cn.data")))
        table = json.loads(z.read("iTools_string_cn.json"))
        self.assertEqual(table, {k: cn for k, cn, _ in strings.STANDIN_STRINGS})


class RepeatableTest(unittest.TestCase):
    def test_a_second_run_writes_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            subprocess.run([sys.executable, "-B", str(HERE.parent / "gen_payloads.py"), tmp], check=True)
            for name in sorted(os.listdir(tmp)):
                with self.subTest(name):
                    self.assertEqual(pathlib.Path(tmp, name).read_bytes(), read(name))


if __name__ == "__main__":
    unittest.main()
