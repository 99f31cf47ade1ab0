// Time of the whole patch run on copies of the stand-in target folder, with the program's
// own payloads and the real steps; the console and the message boxes are counted, not shown.
// Then the time of the backup alone (the copies of the target's files that the run makes
// before it changes anything), on fresh copies of the same folder.
//
//   patch_run_bench STANDIN_FOLDER [RUNS]
#include "patch/backup.h"
#include "patch/patchrun.h"
#include "patch/systemsteps.h"
#include "platform/file.h"
#include "platform/resource.h"
#include "platform/window_query_win32.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The window: console lines and message boxes counted, nothing shown.
class BenchHost final : public patch::PatchHost, public show::Console, public show::WindowLoop {
public:
    std::vector<std::u16string> lines;
    std::vector<std::u16string> boxes;
    void AppendLog(const std::u16string& line) override { lines.push_back(line); }
    void ClearLog() override { lines.clear(); }
    void ReplaceLine(int, const std::u16string&) override {}
    void HideCaret() override {}
    void ShowMessage(const std::u16string& text) override { boxes.push_back(text); }
    bool TopLevelWindowExists(std::u16string_view cls, std::u16string_view title) override {
        return platform::TopLevelWindowExists(cls, title);
    }
    bool ExecuteOpenDialog() override { return false; }
    std::u16string OpenDialogFileName() override { return u""; }
    void SetCaption(const std::u16string&) override {}
    void ProcessMessages() override {}
    bool WindowClosed() const override { return false; }
    [[noreturn]] void EndProgram() override { ExitProcess(1); }
    void SetTimerEnabled(bool) override {}
    void RepaintWindow() override {}
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: patch_run_bench STANDIN_FOLDER [RUNS]\n");
        return 2;
    }
    const std::filesystem::path standin = argv[1];
    const int runs = argc > 2 ? _wtoi(argv[2]) : 10;
    const std::filesystem::path work =
        std::filesystem::temp_directory_path() / "itr-patch-run-bench";
    auto freshCopy = [&] {
        std::filesystem::remove_all(work);
        std::filesystem::create_directories(work);
        for (const char* name : {"iTools.exe", "TSRes.dll", "res_cn.data"}) {
            std::filesystem::copy_file(standin / name, work / name);
        }
    };
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        freshCopy();
        BenchHost host;
        std::u16string targetDir = work.u16string() + u"\\";
        patch::SystemSteps steps(patch::Reporter{host, host}, platform::SystemResources(),
                                 platform::SystemOs(), targetDir);
        const auto t0 = std::chrono::steady_clock::now();
        const binary::Status run =
            patch::GoClick(host, host, host, steps, platform::SystemOs(), targetDir);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        if (!run) {
            std::fprintf(stderr, "run %d: %s\n", i, run.error().Text().c_str());
            return 1;
        }
        if (host.lines.size() != 22 || !host.boxes.empty()) {
            std::fprintf(stderr, "run %d: %zu lines, %zu message boxes\n", i, host.lines.size(),
                         host.boxes.size());
            return 1;
        }
    }
    std::vector<double> backup;
    for (int i = 0; i < runs; ++i) {
        freshCopy();
        const std::u16string targetDir = work.u16string() + u"\\";
        const auto t0 = std::chrono::steady_clock::now();
        const binary::Status kept = patch::KeepOriginals(platform::SystemOs(), targetDir);
        backup.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        if (!kept) {
            std::fprintf(stderr, "backup %d: %s\n", i, kept.error().Text().c_str());
            return 1;
        }
    }
    std::filesystem::remove_all(work);
    for (auto* times : {&ms, &backup}) {
        std::sort(times->begin(), times->end());
    }
    std::printf("whole patch run on the stand-in target, %d runs: median %.1f ms, fastest %.1f ms, "
                "slowest %.1f ms\n",
                runs, ms[ms.size() / 2], ms.front(), ms.back());
    std::printf("of which the backup of the target's files: median %.1f ms, fastest %.1f ms, "
                "slowest %.1f ms\n",
                backup[backup.size() / 2], backup.front(), backup.back());
    return 0;
}
