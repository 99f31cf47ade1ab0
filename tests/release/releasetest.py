"""Shared set-up of the release tests: the two Windows build folders a release packs, and the
packaging step run as ./release runs it.

A test script takes --x64 BUILD --x86 BUILD --version VERSION before unittest's own arguments
(the CMake registration passes them); the build folders default to build/windows and
build/windows-i686.
"""
import argparse
import os
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
PACKAGE = ROOT / "tools" / "release" / "package.py"
sys.path.insert(0, str(ROOT / "tools" / "release"))
sys.path.insert(0, str(ROOT / "payload" / "postlink"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

# A fixed release time, on an odd second (MS-DOS times hold even seconds): 15 March 2010,
# 09:30:21 UTC.
EPOCH = 1268645421
PROGRAM = "iTools3-Rus.exe"
X64_PROGRAM = "x64/iTools3-Rus.exe"
README_RU = "ПРОЧТИ.txt"


def builds():
    """(x64 build folder, x86 build folder, version), taken off sys.argv."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--x64", default=str(ROOT / "build" / "windows"))
    parser.add_argument("--x86", default=str(ROOT / "build" / "windows-i686"))
    parser.add_argument("--version")
    known, rest = parser.parse_known_args(sys.argv[1:])
    sys.argv[1:] = rest
    x64, x86 = pathlib.Path(known.x64).resolve(), pathlib.Path(known.x86).resolve()
    version = known.version or (x64 / "version.txt").read_text().strip()
    for folder in (x64, x86):
        if not (folder / PROGRAM).is_file():
            sys.exit(f"{folder / PROGRAM} is missing: the release packs both Windows builds, "
                     "so build the windows and windows-i686 presets first")
    return x64, x86, version


def package(x64, x86, version, out, epoch=EPOCH, args=(), env=None):
    """Runs the packaging step as ./release does; returns the completed process (text)."""
    env = dict(os.environ if env is None else env, SOURCE_DATE_EPOCH=str(epoch))
    command = [sys.executable, "-B", str(PACKAGE), "--x86", str(pathlib.Path(x86) / PROGRAM), "--x64",
               str(pathlib.Path(x64) / PROGRAM), "--version", version, "--out", str(out), *map(str, args)]
    return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=300)


def archive(out, version):
    return pathlib.Path(out) / f"iTools3-Rus-{version}.zip"


def unzip(zip_path, folder):
    """Extracts an archive with Info-ZIP's unzip, as a user's tool would."""
    pathlib.Path(folder).mkdir(parents=True, exist_ok=True)
    subprocess.run(["unzip", "-q", "-o", str(zip_path), "-d", str(folder)], check=True, stdin=subprocess.DEVNULL,
                   timeout=120)
    return pathlib.Path(folder)


def snapshot(folder):
    """{relative path: bytes} of every file below a folder."""
    folder = pathlib.Path(folder)
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*")) if p.is_file()}


def dos_fields(epoch):
    """(MS-DOS date, MS-DOS time) of an epoch taken as UTC, computed here field by field."""
    t = time.gmtime(epoch)
    return ((t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday, t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2)
