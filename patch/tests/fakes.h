// Stand-ins for the window, the platform's resource functions and the file services, for
// the patch run's native tests. Everything the run does lands in one list of events, so a
// test can check the order of steps and every text.
#pragma once

#include "platform/tests/intercepting_os.h"

#include "patch/patchrun.h"
#include "platform/file.h"
#include "platform/resource.h"
#include "resedit/tests/support.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace patch::testing {

using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<std::string>;

std::string U8(std::u16string_view text);

// The console and the message boxes: lines ("log:"), clears, caret hiding and boxes ("box:")
// in the order they came.
class RecordingReporter : public show::Console, public MessageBoxes {
public:
    explicit RecordingReporter(Events& events) : events_(events) {}
    void AppendLog(const std::u16string& line) override;
    void ClearLog() override {
        lines.clear();
        events_.push_back("clear");
    }
    void ReplaceLine(int index, const std::u16string& text) override {
        if (index >= 0 && static_cast<std::size_t>(index) < lines.size()) {
            lines[static_cast<std::size_t>(index)] = U8(text);
        }
    }
    void HideCaret() override { events_.push_back("hide-caret"); }
    void ShowMessage(const std::u16string& text) override;
    // Where the patch routines report: here, both.
    operator Reporter() { return Reporter{*this, *this}; }
    std::vector<std::string> lines;
    std::vector<std::string> boxes;

protected:
    Events& events_;
};

// The file services, looked up on disk unless `files` (shared with the test) is set: whether
// a file exists ("exists:") and its removal ("delete:") are recorded; every other call goes
// to the disk.
class RecordingOs : public platform::testing::InterceptingOs {
public:
    RecordingOs(Events& events, std::optional<std::set<std::u16string>>& files)
        : InterceptingOs(platform::SystemOs()), events_(events), files_(files) {}
    bool Kind(std::u16string_view path, platform::PathKind& kind) override;
    bool Delete(std::u16string_view path) override;

protected:
    bool Fails(const char*) override { return false; }

private:
    Events& events_;
    std::optional<std::set<std::u16string>>& files_;
};

// Thrown by EndProgram, which must not return.
struct ProgramEnded {};

// The window: its console (`reporter`), its loop and the host's questions, answered from its
// settings; files are looked up on disk unless `files` is set.
class RecordingHost : public PatchHost, public show::WindowLoop {
public:
    explicit RecordingHost(Events& events) : reporter(events), os(events, files), events_(events) {}
    RecordingReporter reporter;

    bool targetRunning = false;
    // Files that exist, when not looked up on disk.
    std::optional<std::set<std::u16string>> files;
    RecordingOs os;
    // The dialog: what the user does at each showing (true: confirm `pick`, false: cancel).
    std::vector<std::pair<bool, std::u16string>> dialogAnswers;
    std::u16string dialogFileName{kDefaultTargetPath};
    std::u16string caption = u"The Thruth Is Out There для alice";
    bool timerEnabled = true;

    void ShowMessage(const std::u16string& text) override { reporter.ShowMessage(text); }
    bool TopLevelWindowExists(std::u16string_view className, std::u16string_view title) override {
        events_.push_back("find-window:" + U8(className) + "|" + U8(title));
        return targetRunning;
    }
    bool ExecuteOpenDialog() override;
    std::u16string OpenDialogFileName() override { return dialogFileName; }
    void SetCaption(const std::u16string& text) override {
        caption = text;
        events_.push_back("caption:" + U8(text));
    }
    void ProcessMessages() override { events_.push_back("pump"); }
    bool WindowClosed() const override { return false; }
    [[noreturn]] void EndProgram() override {
        events_.push_back("end-program");
        throw ProgramEnded{};
    }
    void SetTimerEnabled(bool enabled) override {
        timerEnabled = enabled;
        events_.push_back(enabled ? "timer-on" : "timer-off");
    }
    void RepaintWindow() override { events_.push_back("repaint"); }

    // The rabbit's click and the run as the window makes them: with its console, its loop and
    // these files.
    binary::Status RabbitClick(PatchSteps& steps, std::u16string& targetDir) {
        return patch::RabbitClick(*this, reporter, *this, steps, os, targetDir);
    }
    binary::Status GoClick(PatchSteps& steps, std::u16string& targetDir) {
        return patch::GoClick(*this, reporter, *this, steps, os, targetDir);
    }

private:
    Events& events_;
    std::size_t dialogShown_ = 0;
};

// The steps, recorded with their arguments. saveFailsFor names a resource whose writing
// fails; openFails and replaceFails make the editor report failure.
class RecordingSteps : public PatchSteps {
public:
    explicit RecordingSteps(Events& events) : events_(events) {}
    std::u16string saveFailsFor;
    bool openFails = false;
    bool replaceFails = false;
    bool stringPatchFails = false;
    // Occurrences the string patch rewrites (0: a target localised before).
    std::uint64_t stringPatchRewrites = 1;
    // The backup's error, when it is to fail.
    std::optional<std::u16string> backupFails;

    binary::Status KeepOriginals(const std::u16string& targetDir) override;
    binary::Status SaveResourceToFile(std::u16string_view resName,
                                      const std::u16string& fileName) override;
    resedit::TResEditHandle* ResEditOpen(const std::u16string& fileName,
                                         bool dropExisting) override {
        events_.push_back("resedit-open:" + U8(fileName) + (dropExisting ? ",drop" : ",keep"));
        return openFails ? nullptr : &handle_;
    }
    bool ResEditReplaceIconGroup(resedit::TResEditHandle* handle, const resedit::ResKey& groupName,
                                 std::uint16_t language,
                                 const std::u16string& icoFileName) override;
    bool ResEditClose(resedit::TResEditHandle* handle, bool discard) override {
        events_.push_back(std::string("resedit-close:") +
                          (handle == &handle_ ? "handle," : "other,") +
                          (discard ? "discard" : "keep"));
        return true;
    }
    binary::Status PatchExeString(std::u16string_view replacement,
                                  std::uint64_t& rewritten) override;
    binary::Status RevertExeString(std::u16string_view replacement) override {
        events_.push_back("string-revert:" + U8(replacement));
        return binary::Ok();
    }
    binary::Status TransplantDialog(const std::u16string& fileName, std::uint16_t resType,
                                    std::uint16_t resId) override {
        events_.push_back("transplant:" + U8(fileName) + "," + std::to_string(resType) + "," +
                          std::to_string(resId));
        return binary::Ok();
    }

private:
    Events& events_;
    resedit::TResEditHandle handle_;
};

// The program's own module and the update functions. The own module's resources are a
// table; updates go to files on disk only in the record (`committed`), the files are not
// rewritten. Each knob makes one function fail.
class FakeResources : public platform::Resources {
public:
    struct Entry {
        platform::ResourceName type;
        platform::ResourceName name;
        std::uint16_t language;
        Bytes bytes;
    };
    struct UpdateRecord {
        std::u16string path;
        std::uint16_t type = 0;
        std::uint16_t name = 0;
        std::uint16_t language = 0;
        Bytes bytes;
    };
    struct Commit {
        std::u16string path;
        bool discard = false;
        std::vector<UpdateRecord> updates;
    };

    std::u16string ownPath = u"/nowhere/iTools3-Rus.exe";
    std::vector<Entry> own;
    bool failLoadLibrary = false, failFind = false, failLoad = false, failLock = false,
         failBegin = false, failUpdate = false, failEnd = false, failFree = false;

    std::vector<Commit> committed;
    Events calls; // every platform call, by name
    int loadedModules = 0;

    platform::ModuleHandle LoadModule(std::u16string_view path) override;
    bool UnloadModule(platform::ModuleHandle module) override;
    platform::ResourceHandle Find(platform::ModuleHandle module, const platform::ResourceName& name,
                                  const platform::ResourceName& type) override;
    platform::ResourceData Load(platform::ModuleHandle module,
                                platform::ResourceHandle resource) override;
    const void* Lock(platform::ResourceData data) override;
    std::uint32_t SizeOf(platform::ModuleHandle module, platform::ResourceHandle resource) override;
    platform::UpdateHandle BeginUpdate(std::u16string_view path, bool deleteExisting) override;
    bool Update(platform::UpdateHandle update, const platform::ResourceName& type,
                const platform::ResourceName& name, std::uint16_t language, const void* data,
                std::uint32_t size) override;
    bool EndUpdate(platform::UpdateHandle update, bool discard) override;
    std::u16string OwnExecutablePath() override { return ownPath; }
    std::uint32_t LastError() override { return lastError_; }

private:
    std::uint32_t lastError_ = 0;
    std::map<platform::UpdateHandle, Commit> open_;
    platform::UpdateHandle nextUpdate_ = 100;
};

// Passes every call to the real file services and counts them by name; the call numbered
// failAt (from 1) of the operation named failOp fails instead with failCode ("Close" too: the
// file is closed and the failure reported).
class CountingOs : public platform::testing::InterceptingOs {
public:
    using InterceptingOs::InterceptingOs;
    std::map<std::string, int> counts;
    std::string failOp;
    int failAt = 0;
    std::uint32_t failCode = platform::error::kAccessDenied;

protected:
    bool Fails(const char* op) override;
    void Seen(const char* op) override { ++counts[op]; }
    bool FailsClose() override;
};

Bytes Utf16Bytes(std::u16string_view text);
// Whole files, as the editor's tests read and write them.
using resedit::testing::ReadFileBytes;
using resedit::testing::WriteFileBytes;

} // namespace patch::testing
