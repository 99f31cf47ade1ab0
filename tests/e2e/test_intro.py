"""The typed intro, the About box and the close during typing, as a user meets them."""
import os
import subprocess
import sys
import unittest

import itr

BUILD = itr.build_folder()
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

QUOTATIONS = [
    "Get up Trinity. Just get up. Get up.",
    "Wake up, Neo...",
    "The Matrix has you...",
    "Follow the white rabbit.",
]
ABOUT_LINES = [
    "Потрачено на перевод около 150 часов",
    "Написано 1931 строка кода",
    "Используется:",
    "Муз.движок -> unit XmPlayer",
    "Парсер JSON: Tovan Rusk -> unit dwsJSON",
    "Музыка - Another worlds",
    "Спасибо, что загрузили и запустили программу!",
    "Всегда качественный софт, для любых целей(asm,delphi,c++)",
    "Связь: о проблемах сообщайте туда, откуда получили программу",
    "",
]


class IntroTest(itr.ProgramTest):
    build = BUILD

    def test_about_box_before_the_intro_in_the_users_regional_formats(self):
        folder = self.h.target_folder("about")
        exe = folder / "iTools3-Rus.exe"
        # A build of 15 March 2010, 09:30:20, shown with Russian settings.
        env = dict(os.environ, SOURCE_DATE_EPOCH="1268645420")
        subprocess.run([sys.executable, os.path.join(ROOT, "payload", "postlink", "buildstamp.py"), str(exe)], check=True, env=env)
        with itr.russian_formats():
            r = self.h.drive(itr.start(folder), "wait-window 30", "caption", "controls", "click-title-button",
                             "press OK 10", "sleep 300", "caption", "controls", "no-msgbox 1", "close",
                             "wait-exit 10")
        box = itr.by_cmd(r, "press")[0]
        self.assertEqual(box["caption"], "iTools3-Rus")
        self.assertEqual(box["text"], "\n\r".join(ABOUT_LINES + ["Дата компиляции: 15.03.2010",
                                                                   "Время компиляции: 9:30:20"]))
        before, after = [c["caption"] for c in itr.by_cmd(r, "caption")]
        self.assertEqual(before, after)
        controls = itr.by_cmd(r, "controls")
        if controls[1]["t"] < 9500:  # still before the intro (the machine may be slow)
            self.assertEqual(controls[0]["controls"], controls[1]["controls"], "closing the box changes nothing")
            self.assertNotIn("LogMemo", [c["name"] for c in controls[1]["controls"]], "no console yet")
        else:
            print(f"the box closed only {controls[1]['t']} ms after the start; skipped the before-intro checks")
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)

    def test_intro_types_the_four_quotations_then_shows_the_rabbit(self):
        folder = self.h.target_folder("intro")
        r = self.h.drive(itr.start(folder), "wait-window 30", "caption", "wait-visible sLabelFX1 30",
                         "wait-visible LogMemo 5", "wait-visible Rabbit 60", "text LogMemo", "sleep 500", "text Label2",
                         "controls", "window", "sleep 1500", "text Label2", "caption")
        sig = itr.by_cmd(r, "wait-visible")
        started, ended = sig[0]["ms_since_start"], sig[2]["ms_since_start"]
        print(f"intro typed in {(ended - started) / 1000:.1f} s (signature at {started / 1000:.1f} s)")
        self.assertTrue(12 <= (ended - started) / 1000 <= 37)
        self.assertGreater(started, 9500, "the intro starts on the hundredth tick, about ten seconds in")

        memo = itr.by_cmd(r, "text")[0]
        self.assertEqual(memo["lines"], QUOTATIONS)
        self.assertEqual(memo["text"], "".join(q + "\r\n" for q in QUOTATIONS))
        visible = {c["name"]: c["visible"] for c in itr.by_cmd(r, "controls")[0]["controls"] if c["name"]}
        self.assertTrue(visible["Rabbit"] and visible["sLabelFX1"] and visible["LogMemo"])
        label_after, label_later = itr.by_cmd(r, "text")[1:]
        self.assertEqual(label_after["text"], label_later["text"], "the marquee stopped with the intro")
        self.assertEqual(sorted(label_after["text"]), sorted('"Vemu7ka"'), "a turned form of the nickname")
        captions = [c["caption"] for c in itr.by_cmd(r, "caption")]
        self.assertEqual(captions[0], captions[1], "the caption does not scroll")

        rect = itr.by_cmd(r, "window")[0]["rect"]
        self.h.screenshot("intro.png", crop=rect)
        # The signature label opens the About box too.
        r = self.h.drive("attach 10", "click sLabelFX1", "press OK 10", "close", "wait-exit 10")
        self.assertTrue(itr.by_cmd(r, "press")[0]["text"].startswith(ABOUT_LINES[0]))
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)

    def test_closing_while_a_quotation_is_typed_ends_within_one_pause(self):
        folder = self.h.target_folder("close")
        r = self.h.drive(itr.start(folder), "wait-window 30", "wait-visible sLabelFX1 30", "sleep 2500",
                         "text LogMemo", "close", "wait-exit 10")
        self.assertTrue(itr.by_cmd(r, "text")[0]["text"], "typing was under way")
        end = itr.by_cmd(r, "wait-exit")[0]
        self.assertEqual(end["exit_code"], 0)
        print(f"ended {end['ms_since_close']} ms after the close")
        # The close waits in the queue through at most one pause before the pump runs it, and
        # the flag test follows at most one pause after that.
        self.assertLess(end["ms_since_close"], 700)


if __name__ == "__main__":
    unittest.main()
