// What the patch run and the restore need of the user interface besides the window's console
// and loop (show/console.h, show/window_loop.h). The window implements PatchHost, the restore
// a TargetHost of its own; native tests implement them with recorders.
#pragma once

#include "show/console.h"

#include <string>
#include <string_view>

namespace patch {

// Modal message boxes.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A modal message box with an OK button; returns when the user has closed it.
    virtual void ShowMessage(const std::u16string& text) = 0;
};

// Where the patch routines report: console lines and message boxes.
struct Reporter {
    show::Console& console;
    MessageBoxes& boxes;
};

// What finding the target takes besides the file system: the running-target check, the
// open-file dialog and the messages about them. The patch run and the restore share it.
class TargetHost : public MessageBoxes {
public:
    // Whether a top-level window of this class and title exists.
    [[nodiscard]] virtual bool TopLevelWindowExists(std::u16string_view className,
                                                    std::u16string_view title) = 0;
    // Shows the open-file dialog; true when the user confirmed a file. The dialog's file name
    // persists: after a confirmation it is the picked path, after a cancel what it was.
    [[nodiscard]] virtual bool ExecuteOpenDialog() = 0;
    [[nodiscard]] virtual std::u16string OpenDialogFileName() = 0;
};

class PatchHost : public TargetHost {
public:
    // Replaces the whole caption of the main window.
    virtual void SetCaption(const std::u16string& caption) = 0;
};

} // namespace patch
