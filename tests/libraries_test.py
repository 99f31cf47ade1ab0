"""What the built executables let into their process before their own code runs: the import
tables name only the system's known libraries (which Windows takes from the system folder
whatever lies beside the program) of every supported Windows, 7 to 11, and comctl32, which the
program's manifest binds side by side; and each image's load configuration asks Windows 10 and
later to take the image's imports from the system folder."""
import pathlib
import re
import struct
import subprocess
import sys
import tempfile
import unittest

import pefile

BUILD = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else "build/windows").resolve()
SOURCE = pathlib.Path(__file__).resolve().parent.parent
EXECUTABLES = {"iTools3-Rus.exe": "app/iTools3-Rus.map", "bin/resedit.exe": "tools/resedit/resedit.map",
               "xmrender.exe": "music/xmrender.map"}

# The values of HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs.
KNOWN_WINDOWS_7 = {
    "advapi32", "clbcatq", "comdlg32", "difxapi", "gdi32", "iertutil", "imagehlp", "imm32", "kernel32", "lpk",
    "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4", "sechost", "setupapi",
    "shell32", "shlwapi", "urlmon", "user32", "usp10", "wininet", "wldap32", "ws2_32",
}
KNOWN_WINDOWS_10_11 = {
    "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus", "imagehlp", "imm32",
    "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4", "sechost",
    "setupapi", "shcore", "shell32", "shlwapi", "user32", "wldap32", "ws2_32",
}
# Known on every one of them: a library known only on some is looked for beside the program
# on the others.
KNOWN_EVERYWHERE = KNOWN_WINDOWS_7 & KNOWN_WINDOWS_10_11
# Bound by the program's manifest to the system's side-by-side copy.
SIDE_BY_SIDE = {"iTools3-Rus.exe": {"comctl32"}}

LOAD_CONFIG_ENTRY = 10
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
# Offsets in the load configuration directory.
DEPENDENT_LOAD_FLAGS = {"PE32": 54, "PE32+": 78}
SE_HANDLER_TABLE = {"PE32": 64, "PE32+": 96}
IMAGE_DLLCHARACTERISTICS_GUARD_CF = 0x4000


def base(name):
    return name.lower().removesuffix(".dll")


class Image:
    def __init__(self, path):
        self.pe = pefile.PE(str(path))
        self.kind = "PE32+" if self.pe.OPTIONAL_HEADER.Magic == 0x20B else "PE32"

    def imports(self):
        found = [base(e.dll.decode()) for e in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", [])]
        found += [base(e.dll.decode()) for e in getattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
        return found

    def load_configuration(self):
        """(directory size, the structure's bytes as far as its own size says)."""
        entry = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG_ENTRY]
        if entry.VirtualAddress == 0:
            return entry.Size, b""
        size, = struct.unpack("<I", self.pe.get_data(entry.VirtualAddress, 4))
        return entry.Size, self.pe.get_data(entry.VirtualAddress, size)


class LibrariesTest(unittest.TestCase):
    def test_the_known_libraries_are_known_on_windows_7_to_11(self):
        # Those of each list that the other lacks, as found on the systems.
        self.assertEqual(KNOWN_WINDOWS_7 - KNOWN_WINDOWS_10_11, {"iertutil", "lpk", "urlmon", "usp10", "wininet"})
        self.assertEqual(KNOWN_WINDOWS_10_11 - KNOWN_WINDOWS_7, {"combase", "coml2", "gdiplus", "shcore"})

    def test_only_known_libraries_are_imported(self):
        for name in EXECUTABLES:
            with self.subTest(name):
                imports = Image(BUILD / name).imports()
                self.assertTrue(imports)
                allowed = KNOWN_EVERYWHERE | SIDE_BY_SIDE.get(name, set())
                self.assertEqual(sorted(set(imports) - allowed), [], f"imports: {sorted(imports)}")

    def test_the_side_by_side_library_is_bound_by_the_manifest(self):
        pe = pefile.PE(str(BUILD / "iTools3-Rus.exe"))
        manifest = next(pe.get_data(leaf.data.struct.OffsetToData, leaf.data.struct.Size)
                        for t in pe.DIRECTORY_ENTRY_RESOURCE.entries if t.id == 24
                        for n in t.directory.entries for leaf in n.directory.entries)
        self.assertIn(b'name="Microsoft.Windows.Common-Controls"', manifest)
        self.assertRegex(manifest, rb'version="6\.0\.0\.0"')

    def test_each_load_configuration_asks_for_the_system_folder(self):
        for name in EXECUTABLES:
            with self.subTest(name):
                image = Image(BUILD / name)
                directory_size, config = image.load_configuration()
                self.assertTrue(config, "no load configuration")
                # The header and the structure agree on its size, which covers the flags.
                self.assertEqual(directory_size, len(config))
                flags_at = DEPENDENT_LOAD_FLAGS[image.kind]
                self.assertGreaterEqual(len(config), flags_at + 2)
                flags, = struct.unpack_from("<H", config, flags_at)
                self.assertEqual(flags, LOAD_LIBRARY_SEARCH_SYSTEM32)
                # Nothing else is asked of the loader: every other field is zero.
                rest = bytearray(config[4:])
                rest[flags_at - 4:flags_at - 2] = b"\0\0"
                self.assertEqual(bytes(rest), bytes(len(rest)))
                self.assertFalse(image.pe.OPTIONAL_HEADER.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_GUARD_CF)
                if image.kind == "PE32":
                    # A 32-bit loader that saw the exception handler fields would refuse every
                    # handler missing from a table this image does not have.
                    self.assertLessEqual(len(config), SE_HANDLER_TABLE["PE32"])
                self.assertEqual(image.pe.OPTIONAL_HEADER.CheckSum, image.pe.generate_checksum())

    def test_the_load_configuration_step_refuses_what_it_cannot_place(self):
        script = SOURCE / "payload" / "postlink" / "loadconfig.py"
        exe = BUILD / "bin" / "resedit.exe"
        link_map = (BUILD / EXECUTABLES["bin/resedit.exe"]).read_text(errors="replace")
        with tempfile.TemporaryDirectory() as work:
            work = pathlib.Path(work)
            copy = work / "resedit.exe"

            def run(map_text):
                copy.write_bytes(exe.read_bytes())
                (work / "x.map").write_text(map_text)
                return subprocess.run([sys.executable, "-B", str(script), str(copy), str(work / "x.map")],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                      timeout=60)

            # Run again on its own output, it changes nothing.
            done = run(link_map)
            self.assertEqual(done.returncode, 0, done.stdout)
            self.assertEqual(copy.read_bytes(), exe.read_bytes())
            # No object in the map, or one elsewhere than the header says: refused, unchanged.
            symbol = re.compile(r"(0x)([0-9a-f]+)(\s+_?_load_config_used)")
            for label, text in [("missing", symbol.sub(r"\1\2 other", link_map)),
                                ("moved", symbol.sub(lambda m: m.group(1) + "%016x" % (int(m.group(2), 16) + 8)
                                                     + m.group(3), link_map))]:
                with self.subTest(label):
                    done = run(text)
                    self.assertEqual(done.returncode, 1, done.stdout)
                    self.assertIn(b"loadconfig:", done.stdout)
                    self.assertEqual(copy.read_bytes(), exe.read_bytes())


if __name__ == "__main__":
    unittest.main()
