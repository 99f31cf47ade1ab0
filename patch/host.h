// What the patch run needs of the main window and the user interface. The window implements
// PatchHost; native tests implement it with a recorder.
#pragma once

#include <string>
#include <string_view>

namespace patch {

// Where the patch routines report: console lines and modal message boxes.
class Reporter {
public:
    virtual ~Reporter() = default;
    // Appends one line to the console LogMemo.
    virtual void AppendLog(const std::u16string& line) = 0;
    // A modal message box with an OK button; returns when the user has closed it.
    virtual void ShowMessage(const std::u16string& text) = 0;
};

// What finding the target takes: the running-target check and the open-file dialog. The
// patch run and the restore share it.
class TargetHost : public Reporter {
public:
    // Whether a top-level window of this class and title exists.
    [[nodiscard]] virtual bool TopLevelWindowExists(std::u16string_view className,
                                                    std::u16string_view title) = 0;
    // Whether the path names an existing file (not a folder).
    [[nodiscard]] virtual bool FileExists(const std::u16string& path) = 0;
    // Shows the open-file dialog; true when the user confirmed a file. The dialog's file name
    // persists: after a confirmation it is the picked path, after a cancel what it was.
    [[nodiscard]] virtual bool ExecuteOpenDialog() = 0;
    [[nodiscard]] virtual std::u16string OpenDialogFileName() = 0;
    // Ends the program at once with exit code 0.
    [[noreturn]] virtual void EndProgram() = 0;
};

class PatchHost : public TargetHost {
public:
    // Clears all text of the console.
    virtual void ClearLog() = 0;
    virtual void HideConsoleCaret() = 0;
    // True when the file is gone.
    virtual bool RemoveFile(const std::u16string& path) = 0;
    // Replaces the whole caption of the main window.
    virtual void SetCaption(const std::u16string& caption) = 0;
    // Handles every pending window message once.
    virtual void ProcessMessages() = 0;
    // The frame timer Timer1, and a repaint of the whole window at once.
    virtual void SetTimerEnabled(bool enabled) = 0;
    virtual void RepaintWindow() = 0;
};

} // namespace patch
