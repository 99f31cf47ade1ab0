// The program's message boxes, captioned with the application's title.
#include "app/message_boxes.h"

#include "platform/path.h"
#include "platform/resource.h"
#include "platform/text.h"

namespace app {

std::u16string ApplicationTitle() {
    return platform::FileNameWithoutExtension(platform::SystemResources().OwnExecutablePath());
}

void ShowMessageBox(HWND owner, const std::u16string& text, UINT flags) {
    MessageBoxW(owner, platform::W(text), platform::W(ApplicationTitle()), flags);
}

void ShowException(HWND owner, const std::u16string& text) {
    ShowMessageBox(owner, text, MB_OK | MB_ICONSTOP);
}

} // namespace app
