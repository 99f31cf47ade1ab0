// The main window's rules that need no window: its caption, its target folder, its lengths at
// a DPI, and the switch that starts the restore instead of it. Portable, tested natively.
#pragma once

#include <string>
#include <string_view>

namespace app {

inline constexpr char16_t kStoredCaption[] = u"The Thruth Is Out There";

// The caption after creation: the stored caption, " для " and the user's name (which may be
// empty, leaving a trailing space).
std::u16string ComposeCaption(std::u16string_view caption, std::u16string_view userName);

// The target folder derived from the program's own path: its folder with a trailing backslash.
std::u16string TargetDirFromExePath(std::u16string_view exePath);

// Whether a command-line argument asks for the restore of the target's originals instead of
// the show: "/restore", "-restore" or "--restore", in any case.
bool IsRestoreSwitch(std::u16string_view argument);

// Pixels at the given DPI for a length given at 96 DPI.
int ScaleForDpi(int pixels96, int dpi);

} // namespace app
