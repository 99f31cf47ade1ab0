"""Support for end-to-end tests: the real iTools3-Rus.exe under Wine, driven by uidriver.exe.

Runs inside the Wine harness environment (tools/wine/harness exec STATE ...), which provides
WINEPREFIX, DISPLAY and HOME. Wine's own helper processes can hold any pipe handed to a
Windows program, so every Windows program's output goes to a file, never to a pipe.
"""
import json
import os
import pathlib
import pwd
import shlex
import shutil
import struct
import subprocess
import tempfile
import time


class DriverError(AssertionError):
    pass


def win_path(path):
    """The Wine path of a Unix path (Wine maps / to Z:)."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def unix_user():
    return pwd.getpwuid(os.getuid()).pw_name


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

    def target_folder(self, name):
        """A fresh folder holding a copy of the program, as a user would set it up."""
        folder = self.scratch / name
        folder.mkdir(parents=True)
        shutil.copy2(self.exe, folder / self.exe.name)
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
