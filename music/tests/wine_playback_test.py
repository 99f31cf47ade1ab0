#!/usr/bin/env python3
"""The player through winmm's waveOut under Wine, as the program meets it.

Each case runs the probe in a HOME of its own: with an .asoundrc that sends ALSA's default
device into a capture file, or without one (no sound device at all). Run through
`tools/wine/harness exec STATE`, which provides WINEPREFIX, DISPLAY and the wineserver.
"""

import os
import subprocess
import sys
import tempfile

from golden import RING, fnv1a

PROBE = sys.argv[1]


def run(home, *args):
    env = dict(os.environ, HOME=home)
    out_path = os.path.join(home, "probe.out")
    # Output to a file, never a pipe: Wine's helpers may inherit and hold it.
    with open(out_path, "w") as out:
        rc = subprocess.call(["wine", PROBE, *args], stdin=subprocess.DEVNULL, stdout=out,
                             stderr=subprocess.STDOUT, env=env, timeout=120)
    with open(out_path) as f:
        text = f.read()
    return rc, text


def home_with_capture(root, name):
    home = os.path.join(root, name)
    os.makedirs(home)
    capture = os.path.join(home, "audio.raw")
    with open(os.path.join(home, ".asoundrc"), "w") as f:
        f.write('pcm.!default {\n  type file\n  slave.pcm { type null }\n'
                '  file "%s"\n  format "raw"\n}\n' % capture)
    return home, capture


failures = []


def check(ok, what, detail=""):
    print(("ok   " if ok else "FAIL ") + what + ((": " + detail) if detail and not ok else ""))
    if not ok:
        failures.append(what)


with tempfile.TemporaryDirectory(prefix="music_wine_") as root:
    # Plays: the captured first ring equals the engine's render and the native digest.
    home, capture = home_with_capture(root, "play")
    rc, text = run(home, "play", "800")
    check(rc == 0, "PlayModule plays and StopModule ends the thread", text)
    captured = open(capture, "rb").read() if os.path.exists(capture) else b""
    check(len(captured) >= RING, "the device received at least the first 16 blocks",
          "%d bytes" % len(captured))
    rc, text = run(home, "golden")
    golden = int(text.split()[0], 16) if rc == 0 else None
    render = os.path.join(home, "render.raw")
    run(home, "render", "16", render)
    expected = open(render, "rb").read()
    check(captured[:RING] == expected[:RING], "captured ring equals the engine's render")
    check(fnv1a(captured[:RING]) == golden, "captured ring has the native render's digest",
          "%016x vs %016x" % (fnv1a(captured[:RING]), golden or 0))

    home, capture = home_with_capture(root, "twice")
    rc, text = run(home, "twice")
    check(rc == 0, "a second PlayModule ends the first completely", text)

    home, capture = home_with_capture(root, "idle")
    rc, text = run(home, "idle-stop")
    check(rc == 0, "StopModule while idle does nothing", text)

    home, capture = home_with_capture(root, "noloop")
    rc, text = run(home, "noloop-short")
    check(rc == 0, "NoLoop with a module shorter than the first fill gives null", text)

    # No .asoundrc and no sound card: no device.
    home = os.path.join(root, "nodevice")
    os.makedirs(home)
    rc, text = run(home, "nodevice")
    check(rc == 0 and "running on" in text, "no device gives null and the program runs on", text)

sys.exit(1 if failures else 0)
