"""The program as a user starts it: its window, caption and layout, the rain, and its end."""
import unittest

import itr

BUILD = itr.build_folder()

# The drawn controls in z-order: name, class, client rectangle, visible at start, text.
CONTROLS = [
    ("sImage1", "TsImage", [56, 0, 346, 140], True, None),
    ("Label1", "TLabel", [88, 116, 224, 14], True, 'Thnk\'s "Vemu7ka" for the          icon '),
    ("Label2", "TLabel", [132, 116, 65, 14], True, '"Vemu7ka"'),
    ("sLabelFX1", "TsLabelFX", [296, 54, 97, 25], False, "Quilmar0 zero"),
    ("Rabbit", "TImage", [164, 408, 73, 65], False, None),
    ("Image1", "TImage", [80, 0, 49, 833], False, None),
    ("Image2", "TImage", [33, 0, 41, 825], False, None),
    ("Image3", "TImage", [246, 106, 45, 34], True, None),
]


class WindowTest(itr.ProgramTest):
    build = BUILD

    def test_shows_its_window_rains_and_ends_cleanly_when_closed(self):
        folder = self.h.target_folder("plain")
        bmp = folder / "client.bmp"
        r = self.h.drive(
            itr.start(folder),
            "wait-window 30", "caption", "window", "controls", "wait-rain 10", "sleep 3000",
            f"capture {itr.win_path(bmp)}", "close", "wait-exit 10")

        caption = itr.by_cmd(r, "caption")[0]["caption"]
        self.assertEqual(caption, "The Thruth Is Out There для " + itr.unix_user())

        win = itr.by_cmd(r, "window")[0]
        self.assertFalse(win["thickframe"] or win["minimizebox"] or win["maximizebox"])
        self.assertEqual(win["dpi"], 96)
        self.assertEqual(win["client"][2:], [454, 513])
        x, y, w, hgt = win["rect"]
        sw, sh = win["screen"]
        self.assertEqual((x, y), ((sw - w) // 2, (sh - hgt) // 2), "centred on the screen")

        controls = itr.by_cmd(r, "controls")[0]["controls"]
        drawn = [c for c in controls if c["name"]]
        self.assertEqual([c["name"] for c in drawn], [c[0] for c in CONTROLS], "z-order")
        for c, (name, cls, rect, visible, text) in zip(drawn, CONTROLS):
            with self.subTest(name):
                self.assertEqual(c["class"], cls)
                self.assertEqual(c["rect"], rect)
                self.assertEqual(c["visible"], visible)
                if text is not None:
                    self.assertEqual(c["text"], text)
                self.assertTrue(c["text"], "every control has an accessible name")
        self.assertEqual(len(drawn[1]["text"]), 39)

        # After a few seconds the trails have built up: plenty of green-only glyph pixels.
        width, height, rows = itr.read_bmp(bmp)
        green = sum(1 for row in rows for (pr, pg, pb) in row if pg >= 90 and pr == 0 and pb == 0)
        self.assertGreater(green, 3000, "green glyphs rain on the window")

        end = itr.by_cmd(r, "wait-exit")[0]
        self.assertEqual(end["exit_code"], 0)
        self.assertLess(end["ms_since_close"], 1500)

    def test_scales_with_the_displays_dpi(self):
        # Wine fixes a session's DPI when its first program starts, so the test gets a prefix
        # and a display of its own, at 144 DPI from the start.
        state = self.h.build / "wine-dpi144"
        harness = str(itr.HARNESS)
        quiet = dict(stdin=itr.subprocess.DEVNULL, stdout=itr.subprocess.DEVNULL, stderr=itr.subprocess.DEVNULL)
        itr.subprocess.run([harness, "setup", str(state)], check=True, timeout=300, **quiet)
        try:
            env = itr.harness_env(state)
            key = r"HKCU\Control Panel\Desktop"
            query = itr.subprocess.run(["wine", "reg", "query", key, "/v", "LogPixels"], env=env, timeout=60,
                                       stdin=itr.subprocess.DEVNULL, stdout=itr.subprocess.PIPE,
                                       stderr=itr.subprocess.DEVNULL).stdout.decode()
            if "0x90" not in query:
                itr.subprocess.run(["wine", "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144",
                                    "/f"], env=env, check=True, timeout=60, **quiet)
                itr.subprocess.run([harness, "cleanup", str(state)], check=True, timeout=60, **quiet)
                itr.subprocess.run([harness, "setup", str(state)], check=True, timeout=300, **quiet)
                env = itr.harness_env(state)
            h = itr.Harness(self.h.build, env=env)
            folder = h.target_folder("dpi144")
            r = h.drive(
                itr.start(folder),
                "wait-window 30", "window", "controls", "close", "wait-exit 10")
            h.cleanup()
        finally:
            itr.subprocess.run([harness, "cleanup", str(state)], timeout=60, **quiet)
        win = itr.by_cmd(r, "window")[0]
        self.assertEqual(win["dpi"], 144)
        self.assertEqual(win["client"][2:], [681, 770], "454 x 513 at 96 DPI, scaled by 1.5")
        x, y, w, hgt = win["rect"]
        sw, sh = win["screen"]
        self.assertEqual((x, y), ((sw - w) // 2, (sh - hgt) // 2))
        rects = {c["name"]: c["rect"] for c in itr.by_cmd(r, "controls")[0]["controls"] if c["name"]}
        self.assertEqual(rects["Rabbit"], [246, 612, 110, 98])
        self.assertEqual(rects["sImage1"], [84, 0, 519, 210])
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)

    def test_screenshot_of_the_rain(self):
        folder = self.h.target_folder("shot")
        r = self.h.drive(
            itr.start(folder),
            "wait-window 30", "window", "sleep 4000")
        rect = itr.by_cmd(r, "window")[0]["rect"]
        shot = self.h.screenshot("rain.png", crop=rect)
        self.h.drive("attach 10", "close", "wait-exit 10")
        self.assertGreater(shot.stat().st_size, 10000)


if __name__ == "__main__":
    unittest.main()
