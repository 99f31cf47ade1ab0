// Program-wide state that the main window keeps for the other parts of the program.
#pragma once

#include "platform/gdi.h"

#include <cstdint>
#include <string>

namespace app {

// Device context of the main window's client area, obtained once at creation and released
// at program end; the rain draws into it.
extern platform::Dc WindowDC;
// The target folder with a trailing backslash.
extern std::u16string TargetDir;
extern std::u16string UserName;
extern std::u16string UserDomain;
// 0 until the window closes, then -1.
extern std::int32_t WindowClosing;

// Releases WindowDC; runs at program end, also when the intro ends the program early.
void ReleaseWindowDC();

} // namespace app
