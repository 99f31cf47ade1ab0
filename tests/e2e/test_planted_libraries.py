"""The program started from a folder where someone planted a winmm.dll and an msimg32.dll, Wine
told to prefer such copies as Windows prefers a library beside the program over the system's
when the library is not one of the system's known libraries. The planted copies (built here)
each leave a marker file beside themselves when loaded. The program runs as an administrator,
so neither may be loaded: the show runs, the music plays through the system's winmm, and no
marker appears. A small program that imports both, run from a folder with the same copies,
shows that the planted copies and the override work."""
import os
import pathlib
import shutil
import subprocess
import sys
import unittest

import itr

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "payload" / "postlink"))
import pe  # noqa: E402

BUILD = itr.build_folder()
OVERRIDES = "msimg32,winmm=n,b"
PLANTED = ("winmm.dll", "msimg32.dll")

MARKER = r"""
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

/* Leaves NAME.loaded beside the library when a process loads it. */
static void Mark(HINSTANCE self) {
    wchar_t path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    lstrcatW(path, L".loaded");
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) Mark(self);
    return TRUE;
}
"""

# The waveOut functions an importer needs, every one answering "no driver" (the player then
# stays silent).
WINMM = MARKER + r"""
#define NO_DRIVER 6
__declspec(dllexport) UINT WINAPI waveOutOpen(void* d, UINT id, const void* f, DWORD_PTR c, DWORD_PTR i, DWORD fl) { return NO_DRIVER; }
__declspec(dllexport) UINT WINAPI waveOutPrepareHeader(void* d, void* h, UINT n) { return NO_DRIVER; }
__declspec(dllexport) UINT WINAPI waveOutUnprepareHeader(void* d, void* h, UINT n) { return NO_DRIVER; }
__declspec(dllexport) UINT WINAPI waveOutWrite(void* d, void* h, UINT n) { return NO_DRIVER; }
__declspec(dllexport) UINT WINAPI waveOutGetPosition(void* d, void* t, UINT n) { return NO_DRIVER; }
__declspec(dllexport) UINT WINAPI waveOutReset(void* d) { return NO_DRIVER; }
__declspec(dllexport) UINT WINAPI waveOutClose(void* d) { return NO_DRIVER; }
"""

# msimg32's drawing functions are gdi32's under other names: forwarded there.
MSIMG32_DEF = """LIBRARY msimg32.dll
EXPORTS
AlphaBlend = gdi32.GdiAlphaBlend
GradientFill = gdi32.GdiGradientFill
TransparentBlt = gdi32.GdiTransparentBlt
"""

# Imports both libraries, as the program did.
IMPORTER = r"""
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>
int main(int argc, char** argv) {
    (void)argv;
    if (argc > 100) {
        BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        AlphaBlend(NULL, 0, 0, 1, 1, NULL, 0, 0, 1, 1, bf);
        waveOutClose(NULL);
    }
    return 0;
}
"""


def compiler_for(exe):
    """The mingw C compiler of the program's architecture."""
    machine = pe.machine(pathlib.Path(exe).read_bytes())
    triple = {pe.MACHINE_AMD64: "x86_64-w64-mingw32", pe.MACHINE_I386: "i686-w64-mingw32"}[machine]
    for name in (f"{triple}-gcc-posix", f"{triple}-gcc"):
        if shutil.which(name):
            return name
    raise unittest.SkipTest(f"no {triple} C compiler")


def home_with_capture(root):
    """A HOME whose .asoundrc sends ALSA's default device into a file of its own."""
    home = root / "home"
    home.mkdir()
    capture = home / "audio.raw"
    (home / ".asoundrc").write_text('pcm.!default {\n  type file\n  slave.pcm { type null }\n'
                                    f'  file "{capture}"\n  format "raw"\n}}\n')
    return home, capture


class PlantedLibrariesTest(itr.ProgramTest):
    build = BUILD

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.libs = cls.h.scratch / "libs"
        cls.libs.mkdir()
        cc = compiler_for(cls.h.exe)
        (cls.libs / "winmm.c").write_text(WINMM)
        (cls.libs / "marker.c").write_text(MARKER)
        (cls.libs / "msimg32.def").write_text(MSIMG32_DEF)
        (cls.libs / "importer.c").write_text(IMPORTER)
        common = ["-O2", "-static-libgcc", "-Wl,--kill-at"]
        for args in (["-shared", "winmm.c", "-o", "winmm.dll"],
                     ["-shared", "marker.c", "msimg32.def", "-o", "msimg32.dll"],
                     ["importer.c", "-lmsimg32", "-lwinmm", "-o", "importer.exe"]):
            subprocess.run([cc, *common, *args], cwd=cls.libs, check=True, timeout=120,
                           stdin=subprocess.DEVNULL)
        home, cls.capture = home_with_capture(cls.h.scratch)
        # The harness's overrides, and the planted libraries preferred to the system's.
        overrides = ";".join(filter(None, [os.environ.get("WINEDLLOVERRIDES"), OVERRIDES]))
        cls.h.env = dict(os.environ, HOME=str(home), WINEDLLOVERRIDES=overrides)

    def plant(self, folder):
        for name in PLANTED:
            shutil.copy2(self.libs / name, folder / name)

    @staticmethod
    def markers(folder):
        return sorted(p.name.lower() for p in folder.glob("*.loaded"))

    def test_an_importer_loads_the_planted_copies(self):
        folder = self.h.target_folder("importer", program=False)
        shutil.copy2(self.libs / "importer.exe", folder / "importer.exe")
        self.plant(folder)
        rc, output = self.h.wine([folder / "importer.exe"])
        self.assertEqual(rc, 0, output)
        self.assertEqual(self.markers(folder), [n + ".loaded" for n in sorted(PLANTED)])

    def test_the_program_loads_neither(self):
        folder = self.h.target_folder("planted")
        self.plant(folder)
        bmp = folder / "client.bmp"
        r = self.h.drive(itr.start(folder), "wait-window 30", "wait-rain 10", "sleep 3000",
                         f"capture {itr.win_path(bmp)}", "close", "wait-exit 10")
        self.assertEqual(self.markers(folder), [], "a planted library was loaded")
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
        # The show ran: the rain's green glyphs are on the window, over the blended header.
        _, _, rows = itr.read_bmp(bmp)
        green = sum(1 for row in rows for (pr, pg, pb) in row if pg >= 90 and pr == 0 and pb == 0)
        self.assertGreater(green, 3000, "green glyphs rain on the window")
        # The music played through the system's winmm.
        self.assertTrue(self.capture.exists() and self.capture.stat().st_size > 0, "no music was played")

    def test_without_the_libraries_the_show_runs_silent(self):
        # Wine told to load neither (as a system without them would): no sound and a plain
        # copy for the blended header, the window as usual.
        folder = self.h.target_folder("without")
        home, capture = home_with_capture(folder)
        bmp = folder / "client.bmp"
        planted_env = self.h.env
        self.h.env = dict(planted_env, HOME=str(home),
                          WINEDLLOVERRIDES=";".join(filter(None, [os.environ.get("WINEDLLOVERRIDES"),
                                                                  "msimg32,winmm=d"])))
        try:
            r = self.h.drive(itr.start(folder), "wait-window 30", "wait-rain 10", "sleep 2000",
                             f"capture {itr.win_path(bmp)}", "close", "wait-exit 10")
        finally:
            self.h.env = planted_env
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
        _, _, rows = itr.read_bmp(bmp)
        green = sum(1 for row in rows for (pr, pg, pb) in row if pg >= 90 and pr == 0 and pb == 0)
        self.assertGreater(green, 3000, "green glyphs rain on the window")
        self.assertFalse(capture.exists() and capture.stat().st_size > 0, "music played without winmm")


if __name__ == "__main__":
    unittest.main()
