"""Support for end-to-end tests: the real iTools3-Rus.exe under Wine, driven by uidriver.exe.

Runs inside the Wine harness environment (tools/wine/harness exec STATE ...), which provides
WINEPREFIX, DISPLAY and HOME. Wine's own helper processes can hold any pipe handed to a
Windows program, so every Windows program's output goes to a file, never to a pipe.
"""
import contextlib
import json
import os
import pathlib
import pwd
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest


# The stand-in target's files, as an installed iTools 3 folder holds them.
STANDIN_FILES = ("iTools.exe", "TSRes.dll", "res_cn.data")


class DriverError(AssertionError):
    pass


def build_folder(default="build/windows"):
    """The build folder a test script runs on: its first argument, taken off sys.argv so
    that unittest does not read it, else the default."""
    return pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else default).resolve()


def win_path(path):
    """The Wine path of a Unix path (Wine maps / to Z:)."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def unix_user():
    return pwd.getpwuid(os.getuid()).pw_name


def start(folder):
    """The driver's command that starts the program in folder, as a user starts it there."""
    return f"start {win_path(pathlib.Path(folder) / 'iTools3-Rus.exe')} {win_path(folder)}"


HARNESS = pathlib.Path(__file__).resolve().parent.parent.parent / "tools" / "wine" / "harness"


def harness_env(state):
    """The environment of the Wine harness kept in the state folder (after its setup)."""
    out = subprocess.run([str(HARNESS), "env", str(state)], check=True, stdout=subprocess.PIPE,
                         stdin=subprocess.DEVNULL, timeout=60).stdout.decode()
    env = dict(os.environ)
    for line in out.splitlines():
        key, _, value = line.partition("=")
        env[key] = "".join(shlex.split(value))  # printf %q quoting
    return env


class Harness:
    def __init__(self, build_dir, env=None):
        self.env = env
        self.build = pathlib.Path(build_dir).resolve()
        self.exe = self.build / "iTools3-Rus.exe"
        self.driver = self.build / "tools" / "uidriver.exe"
        self.artefacts = self.build / "artefacts"
        self.artefacts.mkdir(exist_ok=True)
        self.scratch = pathlib.Path(tempfile.mkdtemp(prefix="itr-e2e-", dir=self.build))

    def cleanup(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def wine(self, args, timeout=120):
        """Runs a Windows program to its end; returns (exit code, output)."""
        with tempfile.TemporaryFile(dir=self.scratch) as out:
            proc = subprocess.run(["wine", *map(str, args)], stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout, env=self.env)
            out.seek(0)
            return proc.returncode, out.read().decode("utf-8", "replace")

    def drive(self, *commands, timeout=180, check=True):
        """Runs the UI driver with the given commands; returns its reports (one dict each)."""
        report = self.scratch / f"driver-{time.monotonic_ns()}.jsonl"
        rc, output = self.wine([self.driver, "--out", win_path(report), *commands], timeout=timeout)
        lines = report.read_text(encoding="utf-8").splitlines() if report.exists() else []
        results = [json.loads(line) for line in lines if line.strip()]
        if check and (rc != 0 or len(results) < len([c for c in commands if c.strip()])):
            failed = results[-1] if results else {}
            raise DriverError(f"driver failed (exit {rc}): {failed}\noutput: {output}\nreports: {results}")
        return results

    def target_folder(self, name, standin=None, program=True):
        """A fresh folder as a user would set it up: a copy of the program (unless program is
        false) and, given a stand-in folder of the build ("standin"), a copy of that target."""
        folder = self.scratch / name
        folder.mkdir(parents=True)
        if program:
            shutil.copy2(self.exe, folder / self.exe.name)
        if standin:
            for n in STANDIN_FILES:
                shutil.copy2(self.build / standin / n, folder / n)
        return folder

    def screenshot(self, name, crop=None):
        """Saves the display (cropped to crop = [x, y, w, h] if given) as artefacts/name."""
        target = self.artefacts / name
        args = ["import", "-window", "root"]
        if crop:
            x, y, w, h = crop
            args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        subprocess.run([*args, str(target)], check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        return target


class ProgramTest(unittest.TestCase):
    """Tests of the program of one build folder (the class attribute build) that share one
    harness, self.h, for the whole class."""
    build = "build/windows"

    @classmethod
    def setUpClass(cls):
        cls.h = Harness(cls.build)

    @classmethod
    def tearDownClass(cls):
        cls.h.cleanup()


INTERNATIONAL = r"HKCU\Control Panel\International"


def reg_query(name):
    """A value of the Wine user's regional settings, or None."""
    out = subprocess.run(["wine", "reg", "query", INTERNATIONAL, "/v", name], stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60).stdout.decode()
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0] == name:
            return parts[2]
    return None


def reg_set(name, value):
    subprocess.run(["wine", "reg", "add", INTERNATIONAL, "/v", name, "/d", value, "/f"], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=True)


@contextlib.contextmanager
def russian_formats():
    """The user's short date and long time formats as Russian settings have them (15.03.2010,
    9:30:20) while the block runs; the old ones afterwards."""
    saved = {k: reg_query(k) for k in ("sShortDate", "sTimeFormat")}
    try:
        reg_set("sShortDate", "dd.MM.yyyy")
        reg_set("sTimeFormat", "H:mm:ss")
        yield
    finally:
        for k, v in saved.items():
            if v is not None:
                reg_set(k, v)


def by_cmd(results, cmd):
    """The reports of one command, in order."""
    return [r for r in results if r["cmd"] == cmd]


def read_bmp(path):
    """A 24-bit bottom-up BMP as (width, height, rows of (r, g, b))."""
    data = pathlib.Path(path).read_bytes()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    assert bits == 24, bits
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        src = height - 1 - y if height > 0 else y
        row = data[offset + src * stride: offset + src * stride + width * 3]
        rows.append([(row[3 * x + 2], row[3 * x + 1], row[3 * x]) for x in range(width)])
    return width, abs(height), rows
