#!/usr/bin/env python3
"""xmrender end to end: a WAV of the program's module whose first output ring has the
golden digest, the song's end found (order list, repeat, time limit) and said, --loops, the
file written as it renders with its header completed, and clear refusals, also of a file
that cannot be written (no half-written file passes for a whole one).

    xmrender_test.py XMRENDER TRACK.xm GOLDEN.h [--wine]
With --wine the tool is a Windows program run under Wine (harness environment given).
"""

import os
import re
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "payload"))
from music import xmwrite as xw  # noqa: E402
from golden import RING, first_ring_digest, fnv1a  # noqa: E402

tool, track, golden_header = sys.argv[1:4]
wine = "--wine" in sys.argv[4:]


def run(*args):
    cmd = (["wine", tool] if wine else [tool]) + list(args)
    with tempfile.TemporaryFile() as out:
        # A file, never a pipe: Wine's helpers may inherit and hold it.
        rc = subprocess.call(cmd, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                             timeout=300)
        out.seek(0)
        return rc, out.read().decode("utf-8", "replace")


golden = first_ring_digest(golden_header)
failures = []


def check(ok, what, detail=""):
    print(("ok   " if ok else "FAIL ") + what + ("" if ok else ": " + detail))
    if not ok:
        failures.append(what)


with tempfile.TemporaryDirectory(prefix="xmrender_") as tmp:
    wav = os.path.join(tmp, "out.wav")
    rc, text = run("--seconds", "2.5", track, wav)
    check(rc == 0 and "120000 frames rendered" in text
          and re.search(r"engine: [0-9.]+ ns per frame; whole run: [0-9.]+ s", text)
          and "ended by the time limit" in text
          and "song length: more than 2.500 s (the time limit came first)" in text,
          "renders 2.5 s, says the time limit ended it and how fast", text)
    data = open(wav, "rb").read() if os.path.exists(wav) else b""
    ok_header = len(data) >= 44 and data[:4] == b"RIFF" and data[8:16] == b"WAVEfmt "
    fmt = struct.unpack("<HHIIHH", data[20:36]) if ok_header else None
    check(fmt == (1, 2, 48000, 192000, 4, 16), "48 kHz stereo 16-bit PCM header", repr(fmt))
    check(ok_header and struct.unpack("<I", data[40:44])[0] == 120000 * 4 == len(data) - 44,
          "data size matches the frames")
    check(fnv1a(data[44:44 + RING]) == golden, "first ring has the golden digest",
          "%016x" % fnv1a(data[44:44 + RING]))

    # A module whose order list ends after one short pattern: the render stops there.
    mod = bytearray(open(track, "rb").read())
    mod[64:66] = struct.pack("<H", 1)  # song length 1
    short = os.path.join(tmp, "short.xm")
    open(short, "wb").write(mod)
    rc, text = run("--no-loop", short, wav)
    frames = int(text.split()[0]) if rc == 0 and text.split() else -1
    check(0 < frames < 64 * 6 * 1081 + 1024 and "ended by the end of the order list" in text
          and "song length: %.3f s, ended by the end of the order list" % (frames / 48000) in text,
          "the end of the order list ends the song", text)

    # Two patterns of 8 rows, the second jumping back to the first: the song is 16 rows of
    # 6 ticks at 125 BPM (5,760 frames each), then it would repeat.
    row = 5760
    silent = [(0, 0, 0, 0, 0)]
    p0 = [[(49, 1, 0, 0, 0)]] + [silent] * 7
    p1 = [silent] * 7 + [[(0, 0, 0, 0x0B, 0)]]
    tone = xw.Instrument(samples=[xw.Sample(data=[40] * 64, loop=1, loop_length=64)])
    jump = os.path.join(tmp, "jump.xm")
    open(jump, "wb").write(xw.write(xw.Module("jump", 1, [0, 1], [p0, p1], [tone])))

    def rendered(*args):
        rc, text = run(*args)
        frames = int(text.split()[0]) if rc == 0 and text.split() else -1
        return rc, text, frames

    repeat = "song length: 1.920 s, ended by a repeat (order position 0, row 0 would play again)"
    rc, text, frames = rendered(jump, wav)
    check(frames == 60 * 48000 and "ended by the time limit" in text and repeat in text,
          "without options it loops for a minute, as the program plays", text)
    for how in (["--no-loop"], ["--loops", "1"]):
        rc, text, frames = rendered(*how, jump, wav)
        check(frames == 16 * row and "1 pass, ended by a repeat" in text and repeat in text,
              "a jump back ends the song %s" % " ".join(how), text)
    data = open(wav, "rb").read()
    check(len(data) == 44 + 16 * row * 4 and struct.unpack("<I", data[40:44])[0] == 16 * row * 4
          and struct.unpack("<I", data[4:8])[0] == 36 + 16 * row * 4,
          "the WAV holds the song once", str(len(data)))
    rc, text, frames = rendered("--loops", "3", jump, wav)
    check(frames == 48 * row and "3 passes, ended by a repeat" in text and repeat in text,
          "--loops 3 renders it three times through", text)
    rc, text, frames = rendered("--loops", "3", "--seconds", "3", jump, wav)
    check(frames == 144000 and "1 pass, ended by the time limit" in text and repeat in text,
          "--seconds limits --loops", text)

    # Ten minutes, looping: the file gets its sizes at the end, and (natively) the memory
    # stays that of the module, not of the sound (which is 110 MB).
    long_wav = os.path.join(tmp, "long.wav")
    rc, text = run("--loops", "1000", "--seconds", "600", track, long_wav)
    size = os.path.getsize(long_wav) if os.path.exists(long_wav) else 0
    with open(long_wav, "rb") as f:
        head = f.read(44)
    os.remove(long_wav)
    check(rc == 0 and size == 44 + 600 * 48000 * 4 and len(head) == 44
          and struct.unpack("<II", head[4:8] + head[40:44]) == (36 + size - 44, size - 44),
          "ten minutes streamed with the header's sizes completed", text)
    if not wine:
        import resource

        peak_kb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        check(peak_kb < 40 * 1024, "memory stays flat", "peak %d KB" % peak_kb)

    # Files that cannot be written: a folder that does not exist, a full device, and
    # (natively) a file size limit reached halfway. Exit 1 with the reason, no file left.
    nowhere = os.path.join(tmp, "missing", "out.wav")
    rc, text = run(jump, nowhere)
    check(rc == 1 and "cannot write" in text and not os.path.exists(nowhere),
          "an unwritable path is reported", text)
    if os.path.exists("/dev/full"):
        rc, text = run(jump, "/dev/full")
        check(rc == 1 and "cannot write /dev/full" in text, "a full disk is reported", text)
    if not wine:
        import resource
        import signal

        def small_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (200000, 200000))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        cut = os.path.join(tmp, "cut.wav")
        with tempfile.TemporaryFile() as out:
            rc = subprocess.call([tool, jump, cut], stdout=out, stderr=subprocess.STDOUT,
                                 preexec_fn=small_files, timeout=300)
            out.seek(0)
            text = out.read().decode("utf-8", "replace")
        check(rc == 1 and "cannot write" in text and not os.path.exists(cut),
              "a write failing halfway leaves no cut file", text)

    bad = os.path.join(tmp, "bad.xm")
    open(bad, "wb").write(b"Extended Module: " + b"\0" * 400)
    rc, text = run(bad, wav)
    check(rc == 1 and "not an XM module the player accepts" in text and "no patterns" in text,
          "a refused module is reported with its reason", text)
    rc, text = run(os.path.join(tmp, "missing.xm"), wav)
    check(rc == 1 and "cannot open" in text, "a missing file is reported", text)
    for args, word in ((["--seconds", "-3"], "--seconds"), (["--seconds", "22370"], "WAV"),
                       (["--loops", "0"], "--loops"),
                       (["--loops", "2x"], "--loops"), (["--no-loop", "--loops", "2"], "--no-loop")):
        rc, text = run(*args, track, wav)
        check(rc == 2 and word in text, "a bad option is reported: %s" % " ".join(args), text)

sys.exit(1 if failures else 0)
