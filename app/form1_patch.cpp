// The main window as the patch run's host: the rabbit's click, message boxes, the open-file
// dialog and the caption.
#include "app/form1.h"

#include "app/message_boxes.h"
#include "patch/systemsteps.h"
#include "patch/user_error.h"
#include "platform/file.h"
#include "platform/resource.h"
#include "platform/text.h"
#include "platform/window_query_win32.h"

namespace app {

void TForm1::RabbitClick() {
    patch::SystemSteps steps(patch::Reporter{*this, *this}, platform::SystemResources(),
                             platform::SystemOs(), state_.TargetDir);
    const binary::Status run =
        patch::RabbitClick(*this, *this, *this, steps, platform::SystemOs(), state_.TargetDir);
    if (!run) {
        // A payload that could not be written ends the handler as any error that no handler
        // caught does: in the application's default error handler's box.
        ShowException(hwnd_, patch::UserText(run.error()));
    }
}

void TForm1::ShowMessage(const std::u16string& text) {
    ShowMessageBox(hwnd_, text, MB_OK);
}

bool TForm1::TopLevelWindowExists(std::u16string_view className, std::u16string_view title) {
    return platform::TopLevelWindowExists(className, title);
}

bool TForm1::ExecuteOpenDialog() {
    return OpenDialog1.Execute(hwnd_);
}

std::u16string TForm1::OpenDialogFileName() {
    return OpenDialog1.FileName;
}

void TForm1::SetCaption(const std::u16string& caption) {
    SetWindowTextW(hwnd_, platform::W(caption));
}

} // namespace app
