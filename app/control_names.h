// How the main window's drawn (non-windowed) controls are made visible to assistive tools and
// to the UI test driver: each has a child window with an empty window region (it draws
// nothing, takes no clicks and clips nothing) whose class tells the control's kind, whose text
// is its accessible name, whose rectangle and visibility are the control's, and whose window
// property platform::kComponentNameProp holds a global atom with the component's name.
#pragma once

#include "platform/component_name_win32.h"

namespace app {

inline constexpr wchar_t kMainWindowClass[] = L"TForm1";

} // namespace app
