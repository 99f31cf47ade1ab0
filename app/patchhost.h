// The main window as the patch run's host: its console, message boxes, open-file dialog,
// caption, timer and message pump, and the platform's window and file look-ups.
#pragma once

#include "patch/host.h"

#include <windows.h>

namespace app {

class TForm1;

// The platform's look-ups that the patch run and the restore share: a top-level window by
// class and title, and a path that names an existing file (not a folder).
bool TopLevelWindowExists(std::u16string_view className, std::u16string_view title);
bool IsExistingFile(const std::u16string& path);

class FormPatchHost final : public patch::PatchHost {
public:
    explicit FormPatchHost(TForm1& form) : form_(form) {}

    void AppendLog(const std::u16string& line) override;
    void ShowMessage(const std::u16string& text) override;
    void ClearLog() override;
    void HideConsoleCaret() override;
    bool TopLevelWindowExists(std::u16string_view className, std::u16string_view title) override;
    bool FileExists(const std::u16string& path) override;
    bool RemoveFile(const std::u16string& path) override;
    bool ExecuteOpenDialog() override;
    std::u16string OpenDialogFileName() override;
    void SetCaption(const std::u16string& caption) override;
    void ProcessMessages() override;
    [[noreturn]] void EndProgram() override;
    void SetTimerEnabled(bool enabled) override;
    void RepaintWindow() override;

private:
    TForm1& form_;
};

} // namespace app
