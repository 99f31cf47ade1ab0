"""The program's music as a user meets it: iTools3-Rus.exe under Wine plays its module from
the window's creation to its close through waveOut, and runs on in silence without a sound
device. Each case has a HOME of its own (ALSA reads ~/.asoundrc), so the capture is its own.

    e2e_music_test.py BUILD_DIR GOLDEN_HEADER
"""
import os
import pathlib
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tests" / "e2e"))
import itr  # noqa: E402
from golden import RING, first_ring_digest, fnv1a  # noqa: E402

BUILD = sys.argv.pop(1)
GOLDEN = first_ring_digest(sys.argv.pop(1))


class MusicTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.h = itr.Harness(BUILD)
        cls.home = os.environ.get("HOME")

    @classmethod
    def tearDownClass(cls):
        if cls.home is not None:
            os.environ["HOME"] = cls.home
        cls.h.cleanup()

    def run_program(self, name, capture):
        home = self.h.scratch / ("home-" + name)
        home.mkdir()
        if capture:
            (home / ".asoundrc").write_text(
                'pcm.!default {\n  type file\n  slave.pcm { type null }\n'
                f'  file "{home / "audio.raw"}"\n  format "raw"\n}}\n')
        os.environ["HOME"] = str(home)
        folder = self.h.target_folder(name)
        r = self.h.drive(
            f"start {itr.win_path(folder / 'iTools3-Rus.exe')} {itr.win_path(folder)}",
            "wait-window 30", "sleep 3000", "close", "wait-exit 10")
        return home, itr.by_cmd(r, "wait-exit")[0]

    def test_plays_from_creation_to_close(self):
        home, end = self.run_program("music", capture=True)
        self.assertEqual(end["exit_code"], 0)
        audio = (home / "audio.raw").read_bytes()
        # The three seconds between start and close, at least, at 192,000 bytes a second.
        self.assertGreater(len(audio), 3 * 192000)
        self.assertEqual(fnv1a(audio[:RING]), GOLDEN, "the module's first ring, as rendered natively")

    def test_runs_on_without_a_sound_device(self):
        home, end = self.run_program("silent", capture=False)
        self.assertEqual(end["exit_code"], 0)
        self.assertFalse((home / "audio.raw").exists())


if __name__ == "__main__":
    unittest.main()
