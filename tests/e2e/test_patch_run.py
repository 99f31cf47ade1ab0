"""One patch run as a user makes it, in whichever build this is (the i686 build runs it: the
32-bit program on the 32-bit stand-in, under 32-bit Wine): the program in the target folder,
the intro, a click on the rabbit, every console line, no message; then the patched stand-in
itself opens res_ru.data, shows the Russian string and carries the six new images."""
import unittest

import itr
import patchcheck as pc

BUILD = itr.build_folder("build/windows-i686")


class PatchRunTest(unittest.TestCase):
    def setUp(self):
        self.h = itr.Harness(BUILD)
        self.addCleanup(self.h.cleanup)

    def test_the_program_patches_its_folder(self):
        folder = self.h.target_folder("target", "standin")
        exe_before, dll_before = pc.resources(folder / "iTools.exe"), pc.resources(folder / "TSRes.dll")
        # Generous times: where QEMU emulates the 32-bit loader, everything is much slower.
        r = self.h.drive(itr.start(folder),
                         "wait-window 300", "wait-visible Rabbit 600", "click Rabbit", "wait-lines LogMemo 22 600",
                         "no-msgbox 5", "text LogMemo", "close", "wait-exit 120", timeout=1800)
        self.assertEqual(itr.by_cmd(r, "text")[0]["lines"], pc.HAPPY_LINES)
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
        report = pc.assert_patched(self, self.h, BUILD / "payload", folder, exe_before, dll_before)
        self.assertEqual([(im["width"], im["height"]) for im in report["icon"]],
                         [(16, 16), (32, 32), (48, 48), (64, 64), (128, 128), (256, 256)])


if __name__ == "__main__":
    unittest.main()
