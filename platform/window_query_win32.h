// Reading windows: a window's text, and whether a top-level window of a class and title exists.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform {

// The window's text (a caption, an edit control's contents); empty when there is none.
std::u16string WindowText(HWND window);

// Whether a top-level window of this class and title exists.
bool TopLevelWindowExists(std::u16string_view className, std::u16string_view title);

} // namespace platform
