// The program's message boxes: captioned with the application's title (the executable's file
// name without extension), the plain ones and the default error handler's.
#pragma once

#include <windows.h>

#include <string>

namespace app {

// The application's title: the executable's file name without extension.
std::u16string ApplicationTitle();
// A modal box with the given MB_ flags, captioned with the application's title.
void ShowMessageBox(HWND owner, const std::u16string& text, UINT flags);
// The application's default error handler: the error's text in a message box.
void ShowException(HWND owner, const std::u16string& text);

} // namespace app
