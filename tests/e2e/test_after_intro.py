"""The window after the intro and a patch run, as a user meets it: the signature's hover
effect and the Tab key. The patch run stops the rain, so the pixels stay put while the test
looks at them."""
import unittest

import itr

BUILD = itr.build_folder()
# The part of the client area around the signature (left, top, right, bottom): its text and
# shadow, plain or bold, lie inside.
AROUND_SIGNATURE = (240, 20, 454, 110)


def text_columns(rows):
    """The columns around the signature that hold a pixel of its lime text."""
    left, top, right, bottom = AROUND_SIGNATURE
    return sorted({x for y in range(top, bottom) for x in range(left, right)
                   if rows[y][x][1] >= 200 and rows[y][x][0] <= 90 and rows[y][x][2] <= 90})


class AfterIntroTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.h = itr.Harness(BUILD)
        cls.folder = cls.h.target_folder("after-intro", "standin")
        cls.h.drive(itr.start(cls.folder),
                    "wait-window 30", "wait-visible Rabbit 60", "click Rabbit", "wait-lines LogMemo 22 60",
                    "no-msgbox 1")

    @classmethod
    def tearDownClass(cls):
        try:
            end = cls.h.drive("attach 10", "close", "wait-exit 10")
            assert itr.by_cmd(end, "wait-exit")[0]["exit_code"] == 0
        finally:
            cls.h.cleanup()

    def test_the_hover_repaints_the_whole_bold_signature_and_leaving_leaves_nothing_of_it(self):
        shots = {name: self.h.artefacts / f"signature-{name}.bmp" for name in ("plain", "hover", "bold", "left")}
        away = "hover-at 20 490"
        self.h.drive("attach 10", away, "redraw", "sleep 300", f"capture {itr.win_path(shots['plain'])}",
                     "hover sLabelFX1", "sleep 300", f"capture {itr.win_path(shots['hover'])}",
                     # The bold signature as a repaint of the whole window shows it.
                     "redraw", "sleep 300", f"capture {itr.win_path(shots['bold'])}",
                     away, "sleep 300", f"capture {itr.win_path(shots['left'])}")
        rows = {name: itr.read_bmp(path)[2] for name, path in shots.items()}
        left, top, right, bottom = AROUND_SIGNATURE

        def differing(a, b):
            return [(x, y) for y in range(top, bottom) for x in range(left, right) if rows[a][y][x] != rows[b][y][x]]

        plain, bold = text_columns(rows["plain"]), text_columns(rows["bold"])
        self.assertTrue(plain and bold, "the signature shows")
        print(f"the plain text ends at x = {plain[-1]}, the bold one at x = {bold[-1]}")
        self.assertGreater(bold[-1], plain[-1], "the bold text is wider")
        with self.subTest("hovering"):
            hover = text_columns(rows["hover"])
            self.assertEqual(hover[-1], bold[-1], "the bold letter right of the plain text's end shows whole")
            # The hover painted all of the bold text and its shadow, as a repaint of the whole
            # window shows them.
            changed = differing("hover", "bold")
            self.assertEqual(changed[:10], [], f"{len(changed)} pixels differ from the whole bold signature")
        with self.subTest("after leaving"):
            # The window looks as it did before the hover: no bold leftovers.
            changed = differing("left", "plain")
            self.assertEqual(changed[:10], [], f"{len(changed)} pixels differ from the plain signature")

    def test_tab_moves_the_focus_and_never_types_into_the_console(self):
        r = self.h.drive("attach 10", "text LogMemo", "focus", "key tab", "focus", "key y", "text LogMemo",
                         "click LogMemo", "key ctrl+end", "text LogMemo", "key x", "text LogMemo", "key enter",
                         "key escape", "text LogMemo", "key tab", "focus", "text LogMemo", "key shift+tab", "focus",
                         "text LogMemo", "window")
        focus = itr.by_cmd(r, "focus")
        texts = [t["text"] for t in itr.by_cmd(r, "text")]
        log, typed = texts[0], texts[1]
        self.assertTrue(focus[0]["main"], "the window itself has the focus after the run")
        self.assertEqual(focus[1]["name"], "LogMemo", "Tab moves the focus to the console")
        # Tab selects nothing in the console: a key typed next goes in beside the log's lines
        # and does not replace them.
        self.assertEqual(len(typed), len(log) + 1, f"the log after Tab and a key: {typed!r}")
        self.assertTrue(any(typed[i] == "y" and typed[:i] + typed[i + 1:] == log for i in range(len(typed))),
                        f"the log after Tab and a key: {typed!r}")
        self.assertEqual(texts[3], texts[2] + "x", "a key typed into the console goes into it")
        # The console's other keys are as they were: Enter starts a line, Escape does nothing.
        self.assertEqual(texts[4], texts[3] + "\r\n")
        self.assertTrue(itr.by_cmd(r, "window")[0]["visible"], "Escape leaves the window open")
        self.assertNotIn("\t", texts[5] + texts[6])
        self.assertEqual(texts[5], texts[4], "Tab in the console types nothing")
        self.assertEqual(texts[6], texts[4], "Shift+Tab in the console types nothing")
        # The console is the window's one control that takes the focus: Tab comes back to it.
        self.assertEqual([f["name"] for f in focus[2:]], ["LogMemo", "LogMemo"])


if __name__ == "__main__":
    unittest.main()
