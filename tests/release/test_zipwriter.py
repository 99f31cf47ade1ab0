"""The release archive's ZIP writer and the packaging step's pure parts, checked against
Python's zipfile, Info-ZIP's unzip and 7-Zip as outside readers."""
import io
import os
import pathlib
import struct
import subprocess
import tempfile
import time
import unittest
import zipfile
import zlib

import releasetest  # also puts tools/release on the path
import package
import zipwriter

STAMP = (30 << 25) | (3 << 21) | (15 << 16) | (9 << 11) | (30 << 5) | 10  # 2010-03-15 09:30:20
CP866_README = b"\x8f\x90\x8e\x97\x92\x88.txt"  # ПРОЧТИ.txt in the Russian OEM code page


def entries_of(data):
    return {e["name"]: e for e in zipwriter.central_directory(data)}


def local_header(data, offset):
    """(flags, name bytes, extra bytes) of the local header at offset."""
    sig, _, flags = struct.unpack_from("<IHH", data, offset)
    assert sig == zipwriter.LOCAL_HEADER
    name_len, extra_len = struct.unpack_from("<HH", data, offset + 26)
    name = data[offset + 30:offset + 30 + name_len]
    return flags, name, data[offset + 30 + name_len:offset + 30 + name_len + extra_len]


class NamesTest(unittest.TestCase):
    def test_how_each_kind_of_name_is_stored(self):
        # name -> the bytes Windows' zip folder reads (OEM code page), or None when the
        # name is ASCII and needs no Unicode field.
        cases = {
            "README.txt": None,
            "x64/iTools3-Rus.exe": None,
            "ПРОЧТИ.txt": CP866_README,
            "x64/Ёлка №1.txt": b"x64/\xf0\xab\xaa\xa0 \xfc1.txt",
        }
        for name, oem in cases.items():
            with self.subTest(name=name):
                data = zipwriter.build([(name, b"text")], STAMP)
                (entry,) = zipwriter.central_directory(data)
                self.assertEqual(entry["flags"] & zipwriter.UTF8_FLAG, 0, "never the UTF-8 flag")
                flags, local_name, local_extra = local_header(data, entry["offset"])
                self.assertEqual(flags, entry["flags"])
                self.assertEqual(local_name, entry["name"])
                if oem is None:
                    self.assertEqual(entry["name"], name.encode("ascii"))
                    self.assertEqual(entry["extras"], {})
                    self.assertEqual(local_extra, b"")
                    continue
                self.assertEqual(entry["name"], oem)
                unicode_path = entry["extras"][zipwriter.UNICODE_PATH_EXTRA]
                version, crc = struct.unpack_from("<BI", unicode_path)
                self.assertEqual(version, 1)
                self.assertEqual(crc, zlib.crc32(oem), "the CRC of the stored (CP866) name")
                self.assertEqual(unicode_path[5:].decode("utf-8"), name)
                self.assertEqual(local_extra, struct.pack("<HH", 0x7075, len(unicode_path)) + unicode_path,
                                 "the local header carries the same field")

    def test_names_that_cannot_be_stored_are_refused(self):
        for name in ("", "/etc/passwd", "a\\b.txt", "../up.txt", "x/../../up.txt", "日本.txt", "€.txt"):
            with self.subTest(name=name), self.assertRaises(zipwriter.ZipError) as caught:
                zipwriter.build([(name, b"x")], STAMP)
            self.assertIn(repr(name), str(caught.exception))

    def test_folders_and_files_are_told_apart_and_names_are_unique(self):
        for entries in ([("x64", None)], [("x64/", b"data")], [("a.txt", b"1"), ("a.txt", b"2")]):
            with self.subTest(entries=entries), self.assertRaises(zipwriter.ZipError):
                zipwriter.build(entries, STAMP)


class ArchiveTest(unittest.TestCase):
    ENTRIES = [("ПРОЧТИ.txt", "Привет, мир!\r\n".encode("utf-8") * 50), ("README.txt", b""),
               ("random.bin", os.urandom(3000)), ("x64/", None), ("x64/program.exe", bytes(range(256)) * 64)]

    def test_fields_order_and_bytes_are_fixed(self):
        data = zipwriter.build(self.ENTRIES, STAMP)
        self.assertEqual(data, zipwriter.build(self.ENTRIES, STAMP), "the same input, the same bytes")
        cd = zipwriter.central_directory(data)
        self.assertEqual([e["name"] for e in cd], [CP866_README, b"README.txt", b"random.bin", b"x64/",
                                                   b"x64/program.exe"])
        for e in cd:
            self.assertEqual((e["date"], e["time"]), (STAMP >> 16, STAMP & 0xFFFF))
            self.assertEqual(e["made_by"], 20, "MS-DOS host, format 2.0")
            self.assertEqual(e["attributes"], 0x10 if e["name"].endswith(b"/") else 0x20)
        methods = {e["name"]: e["method"] for e in cd}
        self.assertEqual(methods, {CP866_README: 8, b"README.txt": 0, b"random.bin": 0, b"x64/": 0,
                                   b"x64/program.exe": 8}, "deflated only where it is smaller")
        other = zipwriter.build(self.ENTRIES, STAMP + 1)
        self.assertEqual(len(other), len(data))
        self.assertNotEqual(other, data)

    def test_outside_readers_get_every_name_and_byte(self):
        data = zipwriter.build(self.ENTRIES, STAMP)
        z = zipfile.ZipFile(io.BytesIO(data))
        self.assertIsNone(z.testzip())
        # zipfile reads the stored bytes as CP437 (it ignores the Unicode field): the contents
        # in order are what counts here.
        self.assertEqual([z.read(i) for i in z.infolist()], [b"" if d is None else d for _, d in self.ENTRIES])
        with tempfile.TemporaryDirectory() as tmp:
            path = pathlib.Path(tmp) / "t.zip"
            path.write_bytes(data)
            test = subprocess.run(["unzip", "-t", str(path)], capture_output=True, text=True)
            self.assertEqual(test.returncode, 0, test.stdout + test.stderr)
            out = releasetest.unzip(path, pathlib.Path(tmp) / "unzip")
            for name, content in self.ENTRIES:
                if content is not None:
                    self.assertEqual((out / name).read_bytes(), content, name)
                self.assertEqual((out / name).stat().st_mtime, time.mktime((2010, 3, 15, 9, 30, 20, 0, 0, -1)),
                                 "unzip takes the MS-DOS time as local time")
            listing = subprocess.run(["7z", "l", "-slt", str(path)], capture_output=True, text=True,
                                     env=dict(os.environ, LANG="C.UTF-8"))
            self.assertEqual(listing.returncode, 0, listing.stdout)
            paths = [line[len("Path = "):] for line in listing.stdout.splitlines() if line.startswith("Path = ")]
            self.assertEqual(paths[1:], ["ПРОЧТИ.txt", "README.txt", "random.bin", "x64", "x64/program.exe"])


class ReleasePartsTest(unittest.TestCase):
    def test_the_release_time_is_taken_as_utc_in_every_zone(self):
        cases = {
            1268645420: (2010, 3, 15, 9, 30, 20),
            1268645421: (2010, 3, 15, 9, 30, 20),  # odd seconds go down to the even one
            315532800: (1980, 1, 1, 0, 0, 0),  # the first MS-DOS time
            4354819199: (2107, 12, 31, 23, 59, 58),  # the last
        }
        saved = os.environ.get("TZ")
        try:
            for zone in ("UTC", "Asia/Vladivostok", "America/Los_Angeles"):
                os.environ["TZ"] = zone
                time.tzset()
                for epoch, fields in cases.items():
                    with self.subTest(zone=zone, epoch=epoch):
                        _, stamp = package.build_time(epoch)
                        self.assertEqual(package.buildstamp.decode(stamp), fields)
            for epoch in (0, 315532799, 4354819200):
                with self.subTest(epoch=epoch), self.assertRaises(package.ReleaseError):
                    package.build_time(epoch)
        finally:
            if saved is None:
                os.environ.pop("TZ", None)
            else:
                os.environ["TZ"] = saved
            time.tzset()

    def test_a_read_me_comes_out_as_notepad_reads_it(self):
        t, _ = package.build_time(1268645421)
        out = package.render_readme("Версия @VERSION@\nот @DATE@ @TIME@ (@ISO_DATE@)\r\nконец\n", "1.2.3", t)
        self.assertEqual(out, b"\xef\xbb\xbf" + "Версия 1.2.3\r\nот 15.03.2010 9:30:20 (2010-03-15)\r\nконец\r\n"
                         .encode("utf-8"))
        with self.assertRaises(package.ReleaseError) as caught:
            package.render_readme("@VERSION@ @UNKNOWN@", "1.2.3", t)
        self.assertIn("@UNKNOWN@", str(caught.exception))


if __name__ == "__main__":
    unittest.main()
