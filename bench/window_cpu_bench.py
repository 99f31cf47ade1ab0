#!/usr/bin/env python3
"""CPU use of the running program under Wine: while only the rain falls, and after the intro.

    tools/wine/harness exec build/windows/wine python3 bench/window_cpu_bench.py build/windows \\
        [--runs N] [--seconds S] [--exe OTHER.exe]

Each run starts the real program through the UI driver in a fresh folder and samples the CPU
time of all its threads (from /proc: the scheduler's nanosecond run times) and that of the X
server of the harness. Two windows of each run are measured:

  rain   from 3 s after the window shows (the 20 whole-window repaints are over) to the
         intro's start (tick 100): the frame timer draws the rain, nothing else changes
  intro  from 1 s after the rabbit shows, for S seconds (default 20): the rain goes on, the
         signature, console and rabbit are up, the frame timer repaints the rabbit

and prints, per run and as the median over the runs, the CPU use in percent of one core of
the program (all threads: the music's playback and Wine's audio threads run in both windows),
of its GUI thread alone, and of the X server. A benchmark, never a timed test."""
import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import itr  # noqa: E402


def cpu_ns(pid, main_only=False):
    """CPU time of every thread of a process so far (or of its main thread only), in
    nanoseconds; None once it has ended."""
    total = 0
    try:
        for task in [str(pid)] if main_only else os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
    except (FileNotFoundError, ProcessLookupError):
        return None
    return total


def find_process(folder):
    """The Unix process of the program started from folder (Wine names it by its Windows path)."""
    path = itr.win_path(folder / "iTools3-Rus.exe").lower()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv0 = f.read().split(b"\0")[0].decode("utf-8", "replace")
        except OSError:
            continue
        if argv0.lower() == path:
            return int(entry)
    return None


def one_run(build, seconds, exe=None):
    h = itr.Harness(build)
    folder = h.target_folder("cpu")
    if exe:
        shutil.copy2(exe, folder / "iTools3-Rus.exe")  # another build, for a comparison
    report = h.scratch / "driver.jsonl"
    commands = [f"start {itr.win_path(folder / 'iTools3-Rus.exe')} {itr.win_path(folder)}", "wait-window 30",
                "wait-visible sLabelFX1 60", "wait-visible Rabbit 90", f"sleep {int((seconds + 2) * 1000)}", "close",
                "wait-exit 10"]
    out = open(h.scratch / "driver.out", "wb")
    driver = subprocess.Popen(["wine", str(h.driver), "--out", itr.win_path(report), *commands],
                              stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
    xvfb_pid = None
    state = os.environ.get("ITR_WINE_STATE")
    if state and (pathlib.Path(state) / "xvfb.pid").exists():
        xvfb_pid = int((pathlib.Path(state) / "xvfb.pid").read_text().strip())
    seen = {}  # command -> time it was reported
    samples = []  # (time, program ns, GUI thread ns, X server ns)
    pid = None
    try:
        while driver.poll() is None:
            now = time.monotonic()
            if report.exists():
                for line in report.read_text(encoding="utf-8").splitlines():
                    key = line.split('"cmd":"')[1].split('"')[0] if '"cmd":"' in line else ""
                    if key == "wait-visible":
                        key += " Rabbit" if '"Rabbit"' in line else " sLabelFX1"
                    seen.setdefault(key, now)
            if pid is None:
                pid = find_process(folder)
            if pid is not None:
                ns, gui = cpu_ns(pid), cpu_ns(pid, main_only=True)
                if ns is not None and gui is not None:
                    samples.append((now, ns, gui, cpu_ns(xvfb_pid) if xvfb_pid else 0))
            time.sleep(0.05)
    finally:
        if driver.poll() is None:
            driver.kill()
        out.close()
    rc = driver.wait()
    text = report.read_text(encoding="utf-8") if report.exists() else ""
    h.cleanup()
    if rc != 0 or "wait-visible Rabbit" not in seen:
        raise SystemExit(f"the run failed (driver exit {rc}):\n{text}")

    def use(t0, t1):
        a = min(samples, key=lambda s: abs(s[0] - t0))
        b = min(samples, key=lambda s: abs(s[0] - t1))
        wall = b[0] - a[0]
        return [100 * (b[i] - a[i]) / 1e9 / wall for i in (1, 2, 3)] + [wall]

    rain = use(seen["wait-window"] + 3.0, seen["wait-visible sLabelFX1"] - 0.3)
    intro = use(seen["wait-visible Rabbit"] + 1.0, seen["wait-visible Rabbit"] + 1.0 + seconds)
    return rain, intro


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("build", nargs="?", default="build/windows")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--seconds", type=float, default=20.0)
    ap.add_argument("--exe", help="measure this build of the program instead (copied as iTools3-Rus.exe)")
    args = ap.parse_args()
    if not shutil.which("wine") or "WINEPREFIX" not in os.environ:
        raise SystemExit("run it through the Wine harness: tools/wine/harness exec STATE python3 ...")
    results = []
    for i in range(args.runs):
        rain, intro = one_run(args.build, args.seconds, args.exe)
        results.append((rain, intro))
        print(f"run {i + 1}: rain {rain[0]:.2f} % (GUI thread {rain[1]:.2f} %, X server {rain[2]:.2f} %, "
              f"{rain[3]:.1f} s), after the intro {intro[0]:.2f} % (GUI thread {intro[1]:.2f} %, "
              f"X server {intro[2]:.2f} %, {intro[3]:.1f} s)", flush=True)
    med = [[statistics.median(r[w][i] for r in results) for i in range(3)] for w in range(2)]
    print(f"median of {args.runs}, in percent of one core, while only the rain falls / after the intro:")
    for i, what in enumerate(("program (all threads)", "its GUI thread", "X server")):
        print(f"  {what:22} {med[0][i]:5.2f} / {med[1][i]:5.2f}")


if __name__ == "__main__":
    main()
