// The restore as a user meets it: its host of message boxes and the open-file dialog.
#include "app/restore.h"

#include "app/message_boxes.h"
#include "app/opendialog.h"
#include "app/window_rules.h"
#include "patch/backup.h"
#include "platform/file.h"
#include "platform/resource.h"
#include "platform/text.h"
#include "platform/window_query_win32.h"

#include <windows.h>

#include <shellapi.h>

namespace app {

namespace {

// The restore's host: message boxes of their own (there is no window to own them) and an
// open-file dialog as the window's.
class RestoreHost final : public patch::TargetHost {
public:
    void ShowMessage(const std::u16string& text) override {
        ShowMessageBox(nullptr, text, MB_OK | MB_SETFOREGROUND);
    }
    bool TopLevelWindowExists(std::u16string_view className, std::u16string_view title) override {
        return platform::TopLevelWindowExists(className, title);
    }
    bool ExecuteOpenDialog() override { return dialog_.Execute(nullptr); }
    std::u16string OpenDialogFileName() override { return dialog_.FileName; }

private:
    TOpenDialog dialog_{std::u16string(patch::kDefaultTargetPath),
                        std::u16string(patch::kOpenDialogFilter)};
};

} // namespace

bool RestoreRequested() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) {
        return false;
    }
    bool requested = false;
    for (int i = 1; i < count && !requested; ++i) {
        requested = IsRestoreSwitch(platform::U(args[i]));
    }
    LocalFree(args);
    return requested;
}

int RunRestore() {
    RestoreHost host;
    std::u16string targetDir =
        TargetDirFromExePath(platform::SystemResources().OwnExecutablePath());
    patch::RestoreRun(host, platform::SystemOs(), targetDir);
    return 0;
}

} // namespace app
