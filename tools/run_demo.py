"""The program's main job on the built-in demo target folder, as ./run shows it.

The demo folder (build/windows/demo) holds a fresh copy of the stand-in target (iTools.exe,
TSRes.dll, res_cn.data) and of the program. The program runs there under Wine: the show,
then a click on the white rabbit patches the folder. Afterwards this prints the console's
lines, what changed in the folder, and runs the patched stand-in to show the Russian string
it now loads.

Runs inside the Wine harness environment. With a display of the user's (ITR_USER_DISPLAY=1)
the user clicks the rabbit and closes the window; headless, the UI driver plays the user
and the screenshots tell what happened.
"""
import os
import pathlib
import shutil
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "e2e"))
import itr  # noqa: E402
import patchcheck as pc  # noqa: E402


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/windows").resolve()
    h = itr.Harness(build)
    demo = build / "demo"
    shutil.rmtree(demo, ignore_errors=True)
    demo.mkdir()
    for name in itr.STANDIN_FILES:
        shutil.copy2(build / "standin" / name, demo / name)
    shutil.copy2(h.exe, demo / h.exe.name)
    exe = demo / h.exe.name
    print(f"demo target folder: {demo}")
    before = pc.snapshot(demo)
    res_before = {n: pc.resources(demo / n) for n in ("iTools.exe", "TSRes.dll")}
    report = pc.standin_report(h, demo)
    print(f"the stand-in iTools.exe before: pack {report['pack']}, shows \"{report['shown']}\", "
          f"icon of {len(report['icon'])} images")

    interactive = os.environ.get("ITR_USER_DISPLAY") == "1"
    r = h.drive(f"start {itr.win_path(exe)} {itr.win_path(demo)}", "wait-window 60", "caption", "window",
                "wait-rain 20")
    caption = itr.by_cmd(r, "caption")[0]["caption"]
    rect = itr.by_cmd(r, "window")[0]["rect"]
    print(f"window shown: \"{caption}\", first rain after {itr.by_cmd(r, 'wait-rain')[0]['ms_since_start']} ms")
    shots = []
    ok = True
    if interactive:
        print("the window is on your display: wait for the white rabbit, click it, then close the window")
        r = h.drive("attach 10", "wait-exit 86400", timeout=None)
        lines = None
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
        # The user's click on the rabbit; no message box is expected, none is answered.
        r = h.drive("attach 10", "click Rabbit", "wait-lines LogMemo 22 60", "no-msgbox 2", "text LogMemo",
                    "caption", check=False)
        failed = [x for x in r if not x.get("ok")]
        if failed:
            ok = False
            print(f"the run did not end as expected: {failed[0].get('error')}")
            box = h.drive("attach 10", "msgbox 1", check=False)
            if box and box[-1].get("ok"):
                print(f"a message box is open: \"{box[-1]['text']}\" (left unanswered)")
        texts = itr.by_cmd(r, "text")
        lines = texts[0]["lines"] if texts else []
        shots.append(h.screenshot("run-4-patched.png", crop=rect))
        r = h.drive("attach 10", "close", "wait-exit 15", check=False)
    end = itr.by_cmd(r, "wait-exit")
    exit_code = end[0]["exit_code"] if end else None
    print(f"program ended with exit code {exit_code}")

    if lines is not None:
        print("console lines after the patch run:")
        for line in lines:
            print(f"    {line}")
        if lines != pc.HAPPY_LINES:
            ok = False
            print("  (not the 22 lines of a successful run)")

    after = pc.snapshot(demo)
    res_after = {n: pc.resources(demo / n) for n in ("iTools.exe", "TSRes.dll") if (demo / n).exists()}
    print("what changed in the demo folder:")
    for line in pc.describe_changes(before, after, {n: (res_before[n], res_after.get(n, {})) for n in res_before}):
        print(f"  {line}")
    if (demo / "iTools.exe").exists():
        report = pc.standin_report(h, demo)
        print(f"the patched stand-in iTools.exe opens {report['pack']}")
        print(f"  and shows: \"{report['shown']}\"")
        print(f"  its icon group \"106\" holds {len(report['icon'])} images: "
              + ", ".join(f"{im['width']}x{im['height']} ({im['bytes']} bytes)" for im in report["icon"]))
        ok = ok and report["shown"] == "Добро пожаловать в iTools"
    for s in shots:
        print(f"screenshot: {s}")
    h.cleanup()
    return 0 if ok and exit_code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
