"""The order table of platform/collation_table.inc made again: collation_dump.exe records how
the system's CompareStringW orders the table's characters, gen_collation.py turns that into
the table, which must be the committed one byte for byte. Runs in the Wine harness.

    collation_test.py DUMPER COMMITTED_TABLE MADE_TABLE

MADE_TABLE keeps the table made here: where the system orders otherwise, it is what the
committed table would become.
"""
import difflib
import pathlib
import subprocess
import sys
import tempfile
import unittest

DUMPER, COMMITTED, MADE = (pathlib.Path(a).resolve() for a in sys.argv[1:4])
del sys.argv[1:4]
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
import gen_collation  # noqa: E402


def win_path(path):
    """The Wine path of a Unix path (Wine maps / to Z:)."""
    return "Z:" + str(path).replace("/", "\\")


class CollationTableTest(unittest.TestCase):
    def test_the_system_order_makes_the_committed_table(self):
        with tempfile.TemporaryDirectory() as tmp:
            dump = pathlib.Path(tmp) / "dump.txt"
            run = subprocess.run(["wine", str(DUMPER), win_path(dump)], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            self.assertEqual(run.returncode, 0, "collation_dump.exe failed")
            lines = dump.read_text().splitlines()
            MADE.parent.mkdir(parents=True, exist_ok=True)
            gen_collation.main(str(dump), str(MADE))
        # Every character of the table's ranges, once.
        self.assertEqual(len(lines), sum(hi - lo for lo, hi in gen_collation.RANGES))
        made, committed = MADE.read_text(), COMMITTED.read_text()
        if made != committed:
            self.fail(f"{MADE} differs from {COMMITTED}:\n" + "".join(difflib.unified_diff(
                committed.splitlines(True), made.splitlines(True), str(COMMITTED), str(MADE))))


if __name__ == "__main__":
    unittest.main()
