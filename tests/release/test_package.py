"""The release as ./release packs it from the two Windows builds: the archive's raw central
directory (what Windows' zip folder reads), what Info-ZIP's unzip and 7-Zip make of it, the
read-me files, the sums, and the two programs' stamps and version resources."""
import os
import pathlib
import shutil
import struct
import subprocess
import tempfile
import unittest
import zlib

import pefile

import releasetest as rt
import buildstamp
import pe

X64, X86, VERSION = rt.builds()
ENTRY_ORDER = ["ПРОЧТИ.txt", "README.txt", "iTools3-Rus.exe", "x64/", "x64/iTools3-Rus.exe"]
# Every message box text (its fixed part) and caption the program can show a user: the
# read-me explains each.
MESSAGES = [
    "Please, close iTools!",
    "Не найден файл: ",
    "Выберите файл \"iTools.exe\" вручную!",
    "Вы опять не правильно указали файл!: ",
    "Cannot create file \"",
    "Stream write error",
    "Resource res_ru not found",
    "Could not write changes to file:",
    "Может он у вас запущен? проверьте в диспетчере задач \"itools.exe\"",
    "Could not open file for writing.",
    "Could not add resource:",
    "Could not locate :",
    "Could not load dialog box:",
    "Could not lock dialog box:",
    "Could not free executable:",
    "Could not load:",
    "Иконка не установлена!!!",
    "The main window could not be created.",
    # The backup the run keeps, and /restore.
    "Не удалось создать папку для копий исходных файлов",
    "Не удалось сохранить копию файла",
    "Не удалось прочитать",
    "Русификация отменена, файлы iTools не изменены.",
    "Исходные файлы iTools восстановлены в папке",
    "Копия исходных файлов iTools не найдена",
    "Не удалось восстановить файл",
    "Не удалось удалить файл",
]


def version_strings(path):
    pe = pefile.PE(str(path))
    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
               fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF, fixed.ProductVersionLS >> 16)
    pe.close()
    return strings, numbers


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = pathlib.Path(tempfile.mkdtemp(prefix="itr-release-"))
        cls.out = cls.tmp / "release"
        cls.packaging = rt.package(X64, X86, VERSION, cls.out)
        if cls.packaging.returncode != 0:
            raise AssertionError(f"packaging failed: {cls.packaging.stdout}{cls.packaging.stderr}")
        cls.zip = rt.archive(cls.out, VERSION)
        cls.data = cls.zip.read_bytes()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_the_raw_central_directory_as_windows_zip_folder_reads_it(self):
        import zipwriter

        cd = zipwriter.central_directory(self.data)
        names = [e["name"] for e in cd]
        self.assertEqual(names, [n.encode("cp866") for n in ENTRY_ORDER])
        readme = cd[0]
        self.assertEqual(readme["name"], b"\x8f\x90\x8e\x97\x92\x88.txt", "ПРОЧТИ in CP866")
        self.assertEqual(readme["flags"] & 0x0800, 0, "no UTF-8 flag")
        field = readme["extras"][0x7075]
        self.assertEqual(field[0], 1, "Unicode Path field, version 1")
        self.assertEqual(struct.unpack_from("<I", field, 1)[0], zlib.crc32(readme["name"]),
                         "the field's CRC is that of the stored name")
        self.assertEqual(field[5:], "ПРОЧТИ.txt".encode("utf-8"))
        date, clock = rt.dos_fields(rt.EPOCH)
        for e in cd:
            self.assertEqual((e["date"], e["time"]), (date, clock), e["name"])
            self.assertEqual(e["flags"], 0)
        print(f"{self.zip.name}: {len(self.data)} bytes")

    def test_unzip_and_7zip_extract_what_was_packed(self):
        out = rt.unzip(self.zip, self.tmp / "unzip")
        self.assertEqual(rt.snapshot(out), {n: (self.out / n).read_bytes() for n in ENTRY_ORDER if not n.endswith("/")},
                         "unzip gives ПРОЧТИ.txt by its UTF-8 name, and each file as laid out beside the archive")
        listing = subprocess.run(["7z", "l", "-slt", str(self.zip)], capture_output=True, text=True,
                                 env=dict(os.environ, LANG="C.UTF-8"))
        self.assertEqual(listing.returncode, 0, listing.stdout)
        paths = [line[len("Path = "):] for line in listing.stdout.splitlines() if line.startswith("Path = ")]
        self.assertEqual(paths[1:], [n.rstrip("/") for n in ENTRY_ORDER])

    def test_the_read_me_files(self):
        for name, language_marker in (("ПРОЧТИ.txt", "права администратора"), ("README.txt", "administrator rights")):
            with self.subTest(name=name):
                raw = (self.out / name).read_bytes()
                self.assertTrue(raw.startswith(b"\xef\xbb\xbf"), "a byte-order mark")
                self.assertEqual(raw.count(b"\n"), raw.count(b"\r\n"), "CR LF line ends only")
                text = raw[3:].decode("utf-8")
                self.assertNotRegex(text, r"@[A-Z_]+@")
                self.assertIn(language_marker, text)
                self.assertIn(f"iTools3-Rus {VERSION}", text)
                self.assertIn("certutil -hashfile", text)
                self.assertIn("SHA256SUMS", text)
                for message in MESSAGES:
                    self.assertIn(message, text)
                for file_name in ("iTools.exe", "TSRes.dll", "res_ru.data", "res_cn.data"):
                    self.assertIn(file_name, text)
        ru = (self.out / "ПРОЧТИ.txt").read_text(encoding="utf-8-sig")
        self.assertIn(r"C:\Program Files (x86)\ThinkSky\iTools 3", ru)
        self.assertIn("15.03.2010, 9:30:20", ru, "the build date and time the About box shows")

    def test_the_sums_check_out(self):
        sums = (self.out / "SHA256SUMS").read_bytes()
        self.assertEqual([line.split(b"  ")[1] for line in sums.split(b"\r\n") if line],
                         [self.zip.name.encode(), b"iTools3-Rus.exe", b"x64/iTools3-Rus.exe"])
        check = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=self.out, capture_output=True,
                               text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_the_programs_carry_the_version_and_the_release_time(self):
        for name, build, machine in (("iTools3-Rus.exe", X86, 0x14C), ("x64/iTools3-Rus.exe", X64, 0x8664)):
            with self.subTest(name=name):
                packed = (self.out / name).read_bytes()
                self.assertEqual(pe.machine(packed), machine)
                self.assertEqual(buildstamp.decode(buildstamp.read_stamp(packed)), (2010, 3, 15, 9, 30, 20))
                built = (build / "iTools3-Rus.exe").read_bytes()
                self.assertEqual(len(packed), len(built))
                checksum = pe.checksum_offset(pe.parse_layout(packed))
                self.assertLessEqual(sum(a != b for a, b in zip(packed[:checksum] + packed[checksum + 4:],
                                                                built[:checksum] + built[checksum + 4:])), 4,
                                     "only the stamp and the checksum differ")
                # Re-stamped after the build, the program still carries a valid checksum.
                image = pefile.PE(str(self.out / name), fast_load=True)
                self.assertNotEqual(image.OPTIONAL_HEADER.CheckSum, 0)
                self.assertEqual(image.OPTIONAL_HEADER.CheckSum, image.generate_checksum())
                image.close()
                strings, numbers = version_strings(self.out / name)
                self.assertEqual(strings["FileVersion"], VERSION)
                self.assertEqual(strings["ProductVersion"], VERSION)
                self.assertEqual(strings["FileDescription"], "Русификатор iTools 3")
                self.assertEqual(numbers, tuple(map(int, VERSION.split("."))) * 2)
        self.assertTrue(self.packaging.stdout.rstrip().splitlines()[-1].endswith(
            "UNSIGNED (no --sign): Windows will name no publisher"), self.packaging.stdout)

    def test_another_folder_and_another_time_zone_give_the_same_bytes(self):
        other = self.tmp / "elsewhere" / "deeper"
        env = dict(os.environ, TZ="Asia/Vladivostok")
        run = rt.package(X64, X86, VERSION, other, env=env)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(rt.snapshot(other), rt.snapshot(self.out))

    def test_a_failed_release_changes_nothing(self):
        before = rt.snapshot(self.out)
        cases = [
            ("swapped programs", dict(x64=X86, x86=X64), "right way round"),
            ("a time before 1980", dict(epoch=315532799), "SOURCE_DATE_EPOCH"),
            ("signing without a password", dict(args=["--sign", self.out / "SHA256SUMS"]), "password"),
        ]
        for what, change, reason in cases:
            with self.subTest(what):
                kwargs = dict(x64=X64, x86=X86, version=VERSION, out=self.out)
                kwargs.update(change)
                env = {k: v for k, v in os.environ.items() if k != "ITR_SIGN_PASSWORD"}
                run = rt.package(**kwargs, env=env)
                self.assertEqual(run.returncode, 1)
                self.assertIn(reason, run.stderr)
                self.assertEqual(rt.snapshot(self.out), before)

    def test_release_refuses_bad_arguments_before_it_builds(self):
        cases = [(["--bogus"], "unknown argument --bogus"), (["--sign"], "--sign needs a value"),
                 (["--timestamp", "http://tsa.invalid/"], "go with --sign"),
                 (["--sign", str(self.tmp / "missing.p12")], "no such file")]
        for args, reason in cases:
            with self.subTest(args=args):
                run = subprocess.run([str(rt.ROOT / "release"), *args], capture_output=True, text=True,
                                     stdin=subprocess.DEVNULL, timeout=60)
                self.assertEqual(run.returncode, 2)
                self.assertIn(reason, run.stderr)


if __name__ == "__main__":
    unittest.main()
