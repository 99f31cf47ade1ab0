"""The program as a standard user meets it: run by a Unix user without rights on a target
folder that user may read but not write (as Program Files is to a standard Windows user who
declines the program's request for an administrator's rights). The first write, the backup
folder's, fails with the system's "access denied", the run is abandoned, and not one byte of
the folder changes.

The test creates its user once (useradd) and gives it a Wine state of its own (prefix, Xvfb
display, wineserver) in a folder under the temporary folder that the user can reach
whatever the build folder's permissions; the prefix stays there for the next run. Needs
root, or sudo without a password.
"""
import hashlib
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

import itr

BUILD = itr.build_folder()
USER = "itr-user"
ROOT = pathlib.Path(tempfile.gettempdir()) / ("itr-unprivileged-" + hashlib.sha1(str(BUILD).encode()).hexdigest()[:8])
ERROR_ACCESS_DENIED = 5

SUDO = [] if os.geteuid() == 0 else ["sudo", "-n"]
CANNOT_BECOME_ROOT = bool(SUDO) and subprocess.run(["sudo", "-n", "true"], capture_output=True).returncode != 0


def as_root(*args, **kw):
    return subprocess.run([*SUDO, *map(str, args)], stdin=subprocess.DEVNULL, **kw)


def as_user(*args, **kw):
    return as_root("runuser", "-u", USER, "--", *args, **kw)


def ensure_user():
    """Creates the test user unless it exists (a second test run, or another one beside it)."""
    if subprocess.run(["id", "-u", USER], capture_output=True).returncode == 0:
        return
    made = as_root("useradd", "--no-create-home", "--home-dir", "/nonexistent", "--shell", "/usr/sbin/nologin",
                   "--comment", "iTools3-Rus unprivileged test", USER, capture_output=True, text=True)
    if made.returncode != 0 and subprocess.run(["id", "-u", USER], capture_output=True).returncode != 0:
        raise AssertionError(f"cannot create the user {USER}: {made.stderr}")


def tree(folder):
    """{relative path: sha256} of every file below folder, and the set of its folders."""
    files, folders = {}, set()
    for path in sorted(pathlib.Path(folder).rglob("*")):
        rel = str(path.relative_to(folder))
        if path.is_dir():
            folders.add(rel)
        else:
            files[rel] = hashlib.sha256(path.read_bytes()).hexdigest()
    return files, folders


class UserHarness(itr.Harness):
    """The UI driver and Windows programs run as the test user, in its Wine state."""

    def __init__(self):
        super().__init__(BUILD)
        super().cleanup()
        self.state = ROOT / "state"
        self.scratch = self.state / "reports"
        self.exe = ROOT / "bin" / self.exe.name
        self.driver = ROOT / "bin" / self.driver.name
        self.harness = ROOT / "bin" / "harness"

    def wine(self, args, timeout=120):
        with tempfile.TemporaryFile() as out:
            proc = as_user(self.harness, "wine", self.state, *args, stdout=out, stderr=subprocess.STDOUT,
                           timeout=timeout)
            out.seek(0)
            return proc.returncode, out.read().decode("utf-8", "replace")

    def cleanup(self):
        shutil.rmtree(ROOT / "work", ignore_errors=True)


class UnprivilegedTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if CANNOT_BECOME_ROOT:
            raise unittest.SkipTest("needs root, or sudo without a password, to create and become the test user")
        ensure_user()
        # Everything the user runs lies in ROOT, which only root may change; the user owns
        # its Wine state alone.
        for folder in (ROOT, ROOT / "bin", ROOT / "work"):
            folder.mkdir(exist_ok=True)
            folder.chmod(0o755)
        if ROOT.stat().st_uid != os.geteuid():
            raise AssertionError(f"{ROOT} belongs to someone else")
        for source in (BUILD / "iTools3-Rus.exe", BUILD / "tools" / "uidriver.exe", itr.HARNESS):
            shutil.copy2(source, ROOT / "bin" / source.name)
            (ROOT / "bin" / source.name).chmod(0o755)
        as_root("install", "-d", "-o", USER, "-g", USER, "-m", "0755", ROOT / "state", check=True)
        as_user("rm", "-rf", ROOT / "state" / "reports", check=True)
        as_user("mkdir", ROOT / "state" / "reports", check=True)
        cls.h = UserHarness()
        setup = as_user(cls.h.harness, "setup", cls.h.state, capture_output=True, text=True, timeout=600)
        if setup.returncode != 0:
            raise AssertionError(f"the user's Wine state: {setup.stdout}{setup.stderr}")
        # The user's own Xvfb display, for the screenshot.
        os.environ["DISPLAY"] = (cls.h.state / "display").read_text().strip()

    @classmethod
    def tearDownClass(cls):
        as_user(cls.h.harness, "cleanup", cls.h.state, capture_output=True, timeout=120)
        cls.h.cleanup()

    def target(self, name):
        """A stand-in target folder with the program in it, which the user may read only."""
        folder = ROOT / "work" / name
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for n in itr.STANDIN_FILES:
            shutil.copy2(BUILD / "standin" / n, folder / n)
        shutil.copy2(self.h.exe, folder / self.h.exe.name)
        for p in [folder, *folder.iterdir()]:
            p.chmod(0o755 if p.is_dir() else 0o644)
        self.assertNotEqual(as_user("test", "-w", folder).returncode, 0, "the user must not write the folder")
        self.assertEqual(as_user("test", "-r", folder / "iTools.exe").returncode, 0, "the user reads the target")
        return folder

    def test_a_click_reports_access_denied_and_changes_nothing(self):
        folder = self.target("ThinkSky-iTools3")
        before = tree(folder)
        r = self.h.drive(itr.start(folder),
                         "wait-window 30", "caption", "wait-visible Rabbit 60", "click Rabbit", "msgbox 10")
        self.h.screenshot("access-denied.png")
        r += self.h.drive("attach 10", "press OK 10", "no-msgbox 2", "text LogMemo", "sleep 1000", "rain-pixels",
                          "click Rabbit", "press OK 10", "no-msgbox 2", "text LogMemo", f"error-text {ERROR_ACCESS_DENIED}",
                          "close", "wait-exit 10")

        self.assertEqual(itr.by_cmd(r, "caption")[0]["caption"], f"The Thruth Is Out There для {USER}",
                         "the program runs as the unprivileged user")
        denied = itr.by_cmd(r, "error-text")[0]["text"].rstrip()
        self.assertTrue(denied, "the system has a text for access denied")
        expected = (f'Не удалось создать папку для копий исходных файлов "{itr.win_path(folder)}\\iTools3-Rus backup".'
                    f"\n\rПричина: {denied}\n\rРусификация отменена, файлы iTools не изменены.")
        # The first write of the run, the backup folder, fails; the run is abandoned: no other
        # message, the console keeps its first line, the rain goes on. A second click meets
        # the same.
        self.assertEqual(itr.by_cmd(r, "msgbox")[0]["text"], expected)
        self.assertEqual([(b["caption"], b["text"]) for b in itr.by_cmd(r, "press")], [("iTools3-Rus", expected)] * 2)
        self.assertEqual([t["lines"] for t in itr.by_cmd(r, "text")], [["Working Please wait!"]] * 2)
        self.assertGreater(itr.by_cmd(r, "rain-pixels")[0]["pixels"], 0)
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
        self.assertEqual(tree(folder), before, "not one byte of the target folder changed")


if __name__ == "__main__":
    unittest.main()
