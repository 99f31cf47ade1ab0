"""The way back as a user takes it: the real program under Wine patches a copy of the stand-in
target twice, keeping the originals in a backup folder before the first run changes anything;
then `iTools3-Rus.exe /restore`, refused while the target runs, puts the folder back byte for
byte and the target opens its Chinese pack again."""
import subprocess
import time
import unittest

import itr
import patchcheck as pc

BUILD = itr.build_folder()
BACKUP = "iTools3-Rus backup"


class RestoreTest(itr.ProgramTest):
    build = BUILD

    def wait_rewritten(self, path, mtime, seconds=30):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if path.exists() and path.stat().st_mtime_ns != mtime:
                return
            time.sleep(0.05)
        self.fail(f"{path.name} was not rewritten")

    def restore(self, folder, *commands):
        """Starts the program in folder with /restore, as Win+R or a shortcut does."""
        return self.h.drive(f"{itr.start(folder)} /restore", *commands)

    def test_patch_twice_then_restore_gives_the_folder_back_byte_for_byte(self):
        folder = self.h.target_folder("restore", "standin")
        before = pc.tree(folder)
        originals = {n: before[n] for n in itr.STANDIN_FILES}

        # The first run keeps the originals, then patches as always.
        r = self.h.drive(itr.start(folder), "wait-window 30", "wait-visible Rabbit 60", "click Rabbit",
                         "wait-lines LogMemo 22 60", "no-msgbox 2", "text LogMemo")
        self.assertEqual(itr.by_cmd(r, "text")[-1]["lines"], pc.HAPPY_LINES, "the console as before")
        kept = {k.split("/", 1)[1]: v for k, v in pc.tree(folder).items() if k.startswith(BACKUP + "/")}
        self.assertEqual(kept, originals, "the three originals and nothing else")

        # A second run leaves the backup as it was.
        mtime = (folder / "res_ru.data").stat().st_mtime_ns
        self.h.drive("attach 10", "click Rabbit")
        self.wait_rewritten(folder / "res_ru.data", mtime)
        r = self.h.drive("attach 10", "wait-lines LogMemo 22 30", "no-msgbox 2", "text LogMemo", "close",
                         "wait-exit 10")
        self.assertEqual(itr.by_cmd(r, "text")[-1]["lines"], pc.HAPPY_LINES)
        patched = pc.tree(folder)
        self.assertEqual({k.split("/", 1)[1]: v for k, v in patched.items() if k.startswith(BACKUP + "/")},
                         originals)

        # While the target runs the restore refuses, with the run's message, and changes nothing.
        target_out = open(self.h.scratch / "standin.out", "wb")
        target = subprocess.Popen(["wine", str(folder / "iTools.exe")], stdin=subprocess.DEVNULL, stdout=target_out,
                                  stderr=subprocess.STDOUT, env=self.h.env)
        try:
            self.h.drive("wait-top-window 30 CHWindow iTools 3")
            r = self.restore(folder, "press OK 30", "wait-exit 10")
            self.assertEqual(itr.by_cmd(r, "press")[0]["text"], "Please, close iTools!")
            self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
            self.assertEqual(pc.tree(folder), patched)
            self.h.drive("close-top-window CHWindow iTools 3")
            self.assertEqual(target.wait(30), 0)
        finally:
            if target.poll() is None:
                target.kill()
            target_out.close()

        # The restore: no window, one message listing what it did, the folder as it was.
        r = self.restore(folder, "msgbox 30", f"top-window TForm1 The Thruth Is Out There для {itr.unix_user()}",
                         "press OK 10", "wait-exit 10")
        box = itr.by_cmd(r, "msgbox")[0]
        self.assertEqual(box["caption"], "iTools3-Rus")
        self.assertEqual(box["text"],
                         f'Исходные файлы iTools восстановлены в папке "{itr.win_path(folder)}\\": '
                         "res_cn.data, TSRes.dll, iTools.exe.\n\r"
                         "Удалены файлы русификации: res_ru.data.\n\r"
                         f'Папка копий "{BACKUP}" удалена.')
        self.assertFalse(itr.by_cmd(r, "top-window")[0]["exists"], "no show")
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
        self.assertEqual(pc.tree(folder), before, "byte for byte, no file added or removed")
        report = pc.standin_report(self.h, folder)
        self.assertEqual(report["pack"], itr.win_path(folder / "res_cn.data"))
        self.assertTrue(report["pack_opened"], report)

        # Again: there is no backup any more; that is said and nothing changes.
        r = self.restore(folder, "press OK 30", "wait-exit 10")
        self.assertEqual(itr.by_cmd(r, "press")[0]["text"],
                         f'Копия исходных файлов iTools не найдена (папка "{itr.win_path(folder)}\\{BACKUP}").'
                         "\n\rНичего не изменено.")
        self.assertEqual(pc.tree(folder), before)


if __name__ == "__main__":
    unittest.main()
