// Reading windows through the window manager.
#include "platform/window_query_win32.h"

#include "platform/text.h"

namespace platform {

std::u16string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
    const int got = GetWindowTextW(window, reinterpret_cast<wchar_t*>(text.data()), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

bool TopLevelWindowExists(std::u16string_view className, std::u16string_view title) {
    return FindWindowW(Wide(className).c_str(), Wide(title).c_str()) != nullptr;
}

} // namespace platform
