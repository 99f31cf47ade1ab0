"""The program's main job on the built-in demo target folder, as ./run shows it.

Runs inside the Wine harness environment. With a display of the user's (ITR_USER_DISPLAY=1)
the window stays until the user closes it; headless, the UI driver plays the user and the
screenshots tell what happened.
"""
import os
import pathlib
import shutil
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "e2e"))
import itr  # noqa: E402


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/windows").resolve()
    h = itr.Harness(build)
    demo = build / "demo"
    shutil.rmtree(demo, ignore_errors=True)
    demo.mkdir()
    shutil.copy2(h.exe, demo / h.exe.name)
    exe = demo / h.exe.name
    print(f"demo target folder: {demo}")

    interactive = os.environ.get("ITR_USER_DISPLAY") == "1"
    r = h.drive(f"start {itr.win_path(exe)} {itr.win_path(demo)}", "wait-window 60", "caption", "window",
                "wait-rain 20")
    caption = itr.by_cmd(r, "caption")[0]["caption"]
    rect = itr.by_cmd(r, "window")[0]["rect"]
    rain_ms = itr.by_cmd(r, "wait-rain")[0]["ms_since_start"]
    print(f"window shown: \"{caption}\", first rain after {rain_ms} ms")
    shots = []
    if interactive:
        print("the window is on your display; close it to end")
        r = h.drive("attach 10", "wait-exit 86400", timeout=None)
    else:
        shots.append(h.screenshot("run-1-rain.png", crop=rect))
        r = h.drive("attach 10", "wait-visible sLabelFX1 60", "sleep 4000")
        print(f"intro started after {itr.by_cmd(r, 'wait-visible')[0]['t'] / 1000:.1f} s")
        shots.append(h.screenshot("run-2-typing.png", crop=rect))
        r = h.drive("attach 10", "wait-visible Rabbit 60", "sleep 500", "text LogMemo")
        print("the rabbit is shown; the console reads:")
        for line in itr.by_cmd(r, "text")[0]["lines"]:
            print(f"    {line}")
        shots.append(h.screenshot("run-3-rabbit.png", crop=rect))
        r = h.drive("attach 10", "close", "wait-exit 15")
    end = itr.by_cmd(r, "wait-exit")[0]
    print(f"program ended with exit code {end['exit_code']}")
    for s in shots:
        print(f"screenshot: {s}")
    h.cleanup()
    return 0 if end["exit_code"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
