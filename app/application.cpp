#include "app/application.h"

#include "platform/path.h"
#include "platform/resource.h"
#include "platform/text.h"

namespace app {

std::u16string ApplicationTitle() {
    return platform::FileNameWithoutExtension(platform::SystemResources().OwnExecutablePath());
}

void ShowException(HWND owner, const std::u16string& text) {
    MessageBoxW(owner, platform::W(text), platform::W(ApplicationTitle()), MB_OK | MB_ICONSTOP);
}

} // namespace app
