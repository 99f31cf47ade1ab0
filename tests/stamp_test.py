"""The build stamp in the root resource directory of the built program, and the header checksum
that stamping keeps valid."""
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import pefile

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXE = pathlib.Path(sys.argv.pop(1)) if len(sys.argv) > 1 else ROOT / "build/windows/iTools3-Rus.exe"
TOOL = ROOT / "payload" / "postlink" / "buildstamp.py"


def decode(stamp):
    date, clock = stamp >> 16, stamp & 0xFFFF
    return (1980 + (date >> 9), (date >> 5) & 0xF, date & 0x1F, clock >> 11, (clock >> 5) & 0x3F, (clock & 0x1F) * 2)


def checksum_offset(data):
    """Where the optional header's CheckSum lies, as pefile finds it."""
    pe = pefile.PE(data=bytes(data), fast_load=True)
    return pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")


def root_stamp(path):
    pe = pefile.PE(str(path), fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    return pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp


class StampTest(unittest.TestCase):
    def test_the_built_program_carries_its_build_time(self):
        y, mo, d, h, mi, s = decode(root_stamp(EXE))
        built = time.mktime((y, mo, d, h, mi, s, 0, 0, -1))
        # Local build time against the file's time: equal up to a time zone and the link.
        self.assertLess(abs(built - EXE.stat().st_mtime), 15 * 3600)

    def test_source_date_epoch_reproduces_the_stamp_byte_for_byte(self):
        with tempfile.TemporaryDirectory() as tmp:
            copies = [pathlib.Path(tmp) / f"{i}.exe" for i in range(2)]
            env = dict(os.environ, SOURCE_DATE_EPOCH="1268645420")  # 15 March 2010, 09:30:20 UTC
            for c in copies:
                shutil.copy2(EXE, c)
                subprocess.run([sys.executable, str(TOOL), str(c)], check=True, env=env)
            self.assertEqual(copies[0].read_bytes(), copies[1].read_bytes())
            self.assertEqual(decode(root_stamp(copies[0])), (2010, 3, 15, 9, 30, 20))
            out = subprocess.run([sys.executable, str(TOOL), "--read", str(copies[0])], check=True,
                                 capture_output=True, text=True).stdout.strip()
            self.assertEqual(out, "2010-03-15 09:30:20")
            # Nothing but the four stamp bytes and the checksum changed, and the checksum is valid.
            a, b = EXE.read_bytes(), copies[0].read_bytes()
            self.assertEqual(len(a), len(b))
            checksum = checksum_offset(b)
            self.assertLessEqual(sum(x != y for x, y in zip(a[:checksum] + a[checksum + 4:],
                                                            b[:checksum] + b[checksum + 4:])), 4)
            pe = pefile.PE(str(copies[0]), fast_load=True)
            self.assertNotEqual(pe.OPTIONAL_HEADER.CheckSum, 0)
            self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())

    def test_a_zero_checksum_stays_zero(self):
        with tempfile.TemporaryDirectory() as tmp:
            copy = pathlib.Path(tmp) / "copy.exe"
            data = bytearray(EXE.read_bytes())
            struct.pack_into("<I", data, checksum_offset(data), 0)
            copy.write_bytes(data)
            subprocess.run([sys.executable, str(TOOL), str(copy)], check=True,
                           env=dict(os.environ, SOURCE_DATE_EPOCH="1268645420"))
            self.assertEqual(pefile.PE(str(copy), fast_load=True).OPTIONAL_HEADER.CheckSum, 0)
            self.assertEqual(decode(root_stamp(copy)), (2010, 3, 15, 9, 30, 20))

    def test_a_file_without_resources_is_refused(self):
        with tempfile.NamedTemporaryFile(suffix=".exe") as f:
            f.write(b"MZ" + b"\0" * 200)
            f.flush()
            r = subprocess.run([sys.executable, str(TOOL), f.name], capture_output=True, text=True)
            self.assertEqual(r.returncode, 1)
            self.assertIn("buildstamp:", r.stderr)


if __name__ == "__main__":
    unittest.main()
