"""The patch run as a user meets it: the real program under Wine, driven by the UI driver,
on copies of the stand-in target (iTools.exe, TSRes.dll, res_cn.data)."""
import subprocess
import time
import unittest

import itr
import patchcheck as pc

BUILD = itr.build_folder()
PAYLOAD = BUILD / "payload"
DEFAULT = r"C:\Program Files (x86)\ThinkSky\iTools 3\iTools.exe"
CLOSE_ITOOLS = "Please, close iTools!"


def not_found_text(target_dir):
    return f"Не найден файл: {target_dir}\"iTools.exe\"\n\r\n\rВыберите файл \"iTools.exe\" вручную!"


def again_text(name):
    return f"Вы опять не правильно указали файл!: {name}"


class PatchTest(itr.ProgramTest):
    build = BUILD

    def folder(self, name, standin="standin", program=True):
        """A folder holding a copy of the stand-in target and, if program, of the program."""
        return self.h.target_folder(name, standin, program)

    def lines(self, results):
        return itr.by_cmd(results, "text")[-1]["lines"]

    def wait_rewritten(self, path, mtime, seconds=30):
        """Waits until the file's modification time moves on (a run has rewritten it)."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if path.exists() and path.stat().st_mtime_ns != mtime:
                return
            time.sleep(0.05)
        self.fail(f"{path.name} was not rewritten")

    def assert_patched(self, folder, exe_before, dll_before, runnable=True):
        pc.assert_patched(self, self.h, PAYLOAD, folder, exe_before, dll_before, runnable)

    def test_target_running_then_the_whole_run_then_a_second_run(self):
        folder = self.folder("happy")
        exe_before, dll_before = pc.resources(folder / "iTools.exe"), pc.resources(folder / "TSRes.dll")
        # The target itself, running from its folder.
        target_out = open(self.h.scratch / "standin.out", "wb")
        target = subprocess.Popen(["wine", str(folder / "iTools.exe")], stdin=subprocess.DEVNULL, stdout=target_out,
                                  stderr=subprocess.STDOUT, env=self.h.env)
        try:
            self.h.drive("wait-top-window 30 CHWindow iTools 3")
            files = pc.snapshot(folder)
            r = self.h.drive(itr.start(folder), "wait-window 30", "wait-visible Rabbit 60", "rain-pixels",
                             "click Rabbit", "press OK 10", "no-msgbox 2", "text LogMemo", "sleep 300", "rain-pixels",
                             "caption")
            self.assertEqual(itr.by_cmd(r, "press")[0]["text"], CLOSE_ITOOLS)
            self.assertEqual(itr.by_cmd(r, "press")[0]["caption"], "iTools3-Rus")
            self.assertEqual(self.lines(r), [], "the console stays empty")
            self.assertEqual(pc.snapshot(folder), files, "nothing is touched")
            before, after = [x["pixels"] for x in itr.by_cmd(r, "rain-pixels")]
            self.assertGreater(before, 0, "it rained before the click")
            self.assertEqual(after, 0, "the rain stops for good")
            self.h.drive("close-top-window CHWindow iTools 3")
            self.assertEqual(target.wait(30), 0)
        finally:
            if target.poll() is None:
                target.kill()
            target_out.close()

        # The target closed: the same rabbit now patches the folder.
        r = self.h.drive("attach 10", "click Rabbit", "wait-lines LogMemo 22 60", "no-msgbox 2", "text LogMemo",
                         "caption", "rain-pixels")
        self.assertEqual(self.lines(r), pc.HAPPY_LINES)
        self.assertEqual(self.lines(r)[-2], "have nice day!")
        self.assertTrue(itr.by_cmd(r, "caption")[0]["caption"].startswith("The Thruth Is Out There для "))
        self.assertEqual(itr.by_cmd(r, "rain-pixels")[0]["pixels"], 0)
        self.assert_patched(folder, exe_before, dll_before)
        patched = pc.snapshot(folder)

        # A second run over the patched target: the same lines, nothing left to rewrite.
        mtime = (folder / "res_ru.data").stat().st_mtime_ns
        r = self.h.drive("attach 10", "click Rabbit")
        self.wait_rewritten(folder / "res_ru.data", mtime)
        r = self.h.drive("attach 10", "wait-lines LogMemo 22 30", "no-msgbox 2", "text LogMemo")
        self.assertEqual(self.lines(r), pc.HAPPY_LINES)
        self.assertEqual(pc.utf16_count(folder / "iTools.exe", "res_ru.data"), 1)
        self.assert_patched(folder, exe_before, dll_before)
        self.assertEqual({k: v for k, v in pc.snapshot(folder).items() if k != "TSRes.dll"},
                         {k: v for k, v in patched.items() if k != "TSRes.dll"},
                         "the second run writes the same files")
        shot = self.h.screenshot("patched.png", crop=itr.by_cmd(self.h.drive("attach 10", "window"), "window")[0]["rect"])
        self.assertGreater(shot.stat().st_size, 1000)
        end = self.h.drive("attach 10", "close", "wait-exit 10")
        self.assertEqual(itr.by_cmd(end, "wait-exit")[0]["exit_code"], 0)

    def test_elsewhere_a_pick_in_the_dialog_and_later_runs_there(self):
        # The program in a folder of its own; the 32-bit target in another; a Chinese pack
        # beside the program shows which folder the removal works on.
        home = self.folder("home", standin=None)
        (home / "res_cn.data").write_bytes(b"not the target's")
        target = self.folder("target32", standin="standin-i686", program=False)
        exe_before, dll_before = pc.resources(target / "iTools.exe"), pc.resources(target / "TSRes.dll")
        r = self.h.drive(itr.start(home), "wait-window 30", "wait-visible Rabbit 60", "click Rabbit", "press OK 10",
                         f"file-type {itr.win_path(target / 'iTools.exe')} 10", "wait-lines LogMemo 22 60",
                         "no-msgbox 2", "text LogMemo")
        self.assertEqual(itr.by_cmd(r, "press")[0]["text"], not_found_text(itr.win_path(home) + "\\"))
        shown = itr.by_cmd(r, "file-type")[0]["file_name_shown"]
        self.assertTrue(shown.endswith("iTools.exe"), f"the dialog starts from the default name, shows {shown!r}")
        self.assertEqual(self.lines(r), pc.HAPPY_LINES)
        self.assert_patched(target, exe_before, dll_before, runnable=False)
        self.assertEqual(sorted(p.name for p in home.iterdir()), ["iTools3-Rus.exe", "res_cn.data"],
                         "nothing is written beside the program")

        # A later run goes to the picked folder at once: no message, no dialog.
        mtime = (target / "res_ru.data").stat().st_mtime_ns
        self.h.drive("attach 10", "click Rabbit")
        self.wait_rewritten(target / "res_ru.data", mtime)
        r = self.h.drive("attach 10", "wait-lines LogMemo 22 30", "no-msgbox 2", "text LogMemo", "close",
                         "wait-exit 10")
        self.assertEqual(self.lines(r), pc.HAPPY_LINES)
        self.assert_patched(target, exe_before, dll_before, runnable=False)

    def test_a_cancel_with_the_default_name_missing_ends_the_program(self):
        home = self.folder("cancel", standin=None)
        r = self.h.drive(itr.start(home), "wait-window 30", "wait-visible Rabbit 60", "click Rabbit", "press OK 10",
                         "file-cancel 10", "press OK 10", "wait-exit 10")
        first, second = itr.by_cmd(r, "press")
        self.assertEqual(first["text"], not_found_text(itr.win_path(home) + "\\"))
        self.assertEqual(second["text"], again_text(DEFAULT))
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
        self.assertEqual(sorted(p.name for p in home.iterdir()), ["iTools3-Rus.exe"])

    def test_a_typed_name_that_does_not_exist_ends_the_program(self):
        home = self.folder("typo", standin=None)
        typed = itr.win_path(home) + "\\iTool.exe"
        r = self.h.drive(itr.start(home), "wait-window 30", "wait-visible Rabbit 60", "click Rabbit", "press OK 10",
                         f"file-type {typed} 10", "press OK 10", "wait-exit 10")
        self.assertEqual(itr.by_cmd(r, "press")[1]["text"], again_text(typed))
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
        self.assertEqual(sorted(p.name for p in home.iterdir()), ["iTools3-Rus.exe"])

    def test_a_payload_that_cannot_be_written_then_an_icon_step_that_fails(self):
        folder = self.folder("failures")
        exe_before, dll_before = pc.resources(folder / "iTools.exe"), pc.resources(folder / "TSRes.dll")
        # A folder where the icon file goes: the file cannot be created.
        (folder / "patchdata.data").mkdir()
        files = pc.snapshot(folder)
        # Without a temporary folder the editor cannot hold the two large icon images (the
        # second click).
        no_temp = itr.win_path(self.h.scratch / "no-such-temp")
        r = self.h.drive("env TEMP " + no_temp, "env TMP " + no_temp, itr.start(folder), "wait-window 30",
                         "wait-visible Rabbit 60", "click Rabbit", "press OK 10", "no-msgbox 1", "text LogMemo",
                         "sleep 1000", "rain-pixels", "caption")
        box = itr.by_cmd(r, "press")[0]
        self.assertEqual(box["caption"], "iTools3-Rus")
        path = itr.win_path(folder / "patchdata.data")
        self.assertTrue(box["text"].startswith(f'Cannot create file "{path}". '), box["text"])
        self.assertGreater(len(box["text"]), len(f'Cannot create file "{path}". '), "with the system's reason")
        self.assertEqual(self.lines(r), ["Working Please wait!"], "the rest of the run is abandoned")
        self.assertEqual(pc.snapshot(folder), files)
        self.assertGreater(itr.by_cmd(r, "rain-pixels")[0]["pixels"], 0, "the timer was not stopped: it still rains")

        # Without a temporary folder the platform's update functions cannot write TSRes.dll
        # either: each transplant reports that, and the run goes on to its end.
        (folder / "patchdata.data").rmdir()
        r = self.h.drive("attach 10", "click Rabbit", "press OK 10", "press OK 10", "press OK 10",
                         "wait-lines LogMemo 22 60", "no-msgbox 2", "text LogMemo", "caption", "close", "wait-exit 10")
        self.assertEqual(itr.by_cmd(r, "caption")[0]["caption"], "Иконка не установлена!!!")
        self.assertEqual([b["text"] for b in itr.by_cmd(r, "press")], ["Could not write changes to file:TSRes.dll"] * 3)
        self.assertEqual(self.lines(r), pc.HAPPY_LINES, "the run completes")
        # The icon and the dialogs stay as they were; the pack name, the packs are done.
        self.assertEqual(pc.resources(folder / "iTools.exe"), exe_before)
        self.assertEqual(pc.resources(folder / "TSRes.dll"), dll_before)
        self.assertEqual(pc.oracle(folder / "iTools.exe", exe_before), "")
        self.assertEqual(pc.utf16_count(folder / "iTools.exe", "res_ru.data"), 1)
        self.assertEqual(sorted(p.name for p in folder.iterdir()),
                         ["TSRes.dll", "iTools.exe", "iTools3-Rus backup", "iTools3-Rus.exe", "res_ru.data"])
        report = pc.standin_report(self.h, folder)
        self.assertEqual(report["shown"], "Добро пожаловать в iTools")
        self.assertEqual(len(report["icon"]), 3)


if __name__ == "__main__":
    unittest.main()
