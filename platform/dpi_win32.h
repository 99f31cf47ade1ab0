// The display's pixels per inch: the system's and a window's, from the newest functions the
// running Windows has (looked up at run time), else from the screen's device context.
#pragma once

#include <windows.h>

namespace platform {

int SystemDpi();
// The DPI of the monitor the window is on; the system's where the window cannot tell.
int WindowDpi(HWND window);

} // namespace platform
