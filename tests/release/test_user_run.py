"""The release as a user takes it, under 32-bit Wine: the archive unpacked, the 32-bit
iTools3-Rus.exe (the one to take) copied into a copy of the 32-bit stand-in folder, started
there, the rabbit clicked; the run completes and the patched stand-in shows the Russian
string."""
import shutil
import unittest

import releasetest as rt
import itr
import patchcheck as pc

X64, X86, VERSION = rt.builds()


class UserRunTest(unittest.TestCase):
    def setUp(self):
        self.h = itr.Harness(X86)
        self.addCleanup(self.h.cleanup)

    def test_the_unpacked_program_patches_the_folder_it_is_copied_into(self):
        run = rt.package(X64, X86, VERSION, self.h.scratch / "release")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        downloads = rt.unzip(rt.archive(self.h.scratch / "release", VERSION), self.h.scratch / "Загрузки")
        self.assertTrue((downloads / "ПРОЧТИ.txt").is_file())
        folder = self.h.target_folder("iTools3", "standin", program=False)
        shutil.copy2(downloads / rt.PROGRAM, folder / rt.PROGRAM)
        exe_before, dll_before = pc.resources(folder / "iTools.exe"), pc.resources(folder / "TSRes.dll")
        # Generous times: where QEMU emulates the 32-bit loader, everything is much slower.
        r = self.h.drive(itr.start(folder), "wait-window 300", "wait-visible Rabbit 600", "click Rabbit",
                         "wait-lines LogMemo 22 600", "no-msgbox 5", "text LogMemo", "close", "wait-exit 120",
                         timeout=1800)
        self.assertEqual(itr.by_cmd(r, "text")[0]["lines"], pc.HAPPY_LINES)
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
        report = pc.assert_patched(self, self.h, X86 / "payload", folder, exe_before, dll_before)
        self.assertEqual(report["shown"], "Добро пожаловать в iTools")


if __name__ == "__main__":
    unittest.main()
