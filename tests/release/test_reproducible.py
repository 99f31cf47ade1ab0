"""Two releases of the same sources, built in two different folders, are the same bytes.

The sources are copied to a folder elsewhere (the files git knows, as they are in the working
tree); both Windows programs are built there from scratch, with the presets' settings, and
packed with the same SOURCE_DATE_EPOCH as the two build folders of this checkout. The two
archives must be identical, and no program of either may hold the folder it was built in.
"""
import os
import pathlib
import shutil
import subprocess
import tempfile
import time
import unittest

import releasetest as rt
import zipwriter

X64, X86, VERSION = rt.builds()
PRESETS = {"windows": X64, "windows-i686": X86}
# Another parent and another length than the checkout's, so a path that goes into a binary
# changes its bytes and its layout. It lies in the build folder, as the other tests' scratch
# folders do, so whatever a killed run leaves goes with the build.
COPY_PREFIX = "itr-reproducible-elsewhere-"


def source_files(root):
    """The checkout's files: what git tracks or would add, else everything but build/."""
    r = subprocess.run(["git", "-C", str(root), "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                       capture_output=True, stdin=subprocess.DEVNULL)
    if r.returncode == 0:
        names = [n for n in r.stdout.decode().split("\0") if n]
        return [n for n in names if (root / n).is_file()]
    return [str(p.relative_to(root)) for p in root.rglob("*")
            if p.is_file() and p.relative_to(root).parts[0] not in ("build", ".git")]


def copy_sources(root, target):
    for name in source_files(root):
        (target / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(root / name, target / name)


# A maintainer's own payloads, set when a build folder was configured: the copy embeds the same.
PAYLOAD_OPTIONS = ("RES_RU_PACK", "PATCHDATA_ICON", "DIALOG_101", "DIALOG_226", "DIALOG_520")


def payload_options(build):
    """-D options giving the copy's build the payload files this build embeds."""
    out = []
    cache = build / "CMakeCache.txt"
    for line in cache.read_text(errors="replace").splitlines() if cache.is_file() else []:
        name, _, value = line.partition("=")
        if name.split(":")[0] in PAYLOAD_OPTIONS and value:
            out.append(f"-D{name}={value}")
    return out


def places(data, needle):
    out, at = [], data.find(needle)
    while at >= 0 and len(out) < 5:
        out.append(at)
        at = data.find(needle, at + 1)
    return out


class ReproducibleTest(unittest.TestCase):
    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix=COPY_PREFIX, dir=X64))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def build_copy(self, source):
        # One compiler at a time: ./test runs two tests at once on two cores, and the timed
        # end-to-end tests beside this one should keep their core.
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(rt.EPOCH))
        builds = {}
        for preset in PRESETS:
            started = time.monotonic()
            for command in (["cmake", "--preset", preset, "-DITR_WERROR=ON", *payload_options(PRESETS[preset])],
                            ["cmake", "--build", "--preset", preset, "--parallel", "1", "--target", "iTools3-Rus"]):
                r = subprocess.run(command, cwd=source, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, errors="replace", timeout=1500)
                self.assertEqual(r.returncode, 0, f"{' '.join(command)} in the copy:\n{r.stdout[-4000:]}")
            print(f"{preset} built in the copy in {time.monotonic() - started:.0f} s")
            builds[preset] = source / "build" / preset
        return builds

    def test_a_second_checkout_elsewhere_builds_the_same_archive(self):
        source = self.tmp / "checkout"
        copy_sources(rt.ROOT, source)
        copies = self.build_copy(source)

        here = rt.package(X64, X86, VERSION, self.tmp / "release-here")
        there = rt.package(copies["windows"], copies["windows-i686"], VERSION, self.tmp / "release-there")
        self.assertEqual(here.returncode, 0, here.stderr)
        self.assertEqual(there.returncode, 0, there.stderr)

        # No folder of either build in any program: the checkouts and the build folders, as
        # bytes and as UTF-16.
        folders = {str(rt.ROOT), str(source), str(X64), str(X86), *map(str, copies.values())}
        for exe in [X64 / rt.PROGRAM, X86 / rt.PROGRAM, *(b / rt.PROGRAM for b in copies.values())]:
            data = exe.read_bytes()
            for folder in folders:
                for needle in (folder.encode(), folder.encode("utf-16-le")):
                    self.assertEqual(places(data, needle), [], f"{exe} holds {folder!r}")

        a = rt.archive(self.tmp / "release-here", VERSION).read_bytes()
        b = rt.archive(self.tmp / "release-there", VERSION).read_bytes()
        if a != b:
            here_files = rt.snapshot(self.tmp / "release-here")
            there_files = rt.snapshot(self.tmp / "release-there")
            differ = []
            for name in sorted(here_files):
                x, y = here_files[name], there_files.get(name, b"")
                if x != y:
                    first = next((i for i, (p, q) in enumerate(zip(x, y)) if p != q), min(len(x), len(y)))
                    differ.append(f"{name}: {len(x)} against {len(y)} bytes, first difference at {first:#x}: "
                                  f"{x[first:first + 32]!r} against {y[first:first + 32]!r}")
            self.fail("the two archives differ:\n" + "\n".join(differ))
        self.assertEqual([e["name"] for e in zipwriter.central_directory(a)][0], "ПРОЧТИ.txt".encode("cp866"))
        print(f"the same {len(a)} bytes from {rt.ROOT} and {source}")


if __name__ == "__main__":
    unittest.main()
