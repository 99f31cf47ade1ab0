// The program as an application: its title and its default error handler.
#pragma once

#include <windows.h>

#include <string>

namespace app {

// The application's title: the executable's file name without extension.
std::u16string ApplicationTitle();
// The application's default error handler: the error's text in a message box.
void ShowException(HWND owner, const std::u16string& text);

} // namespace app
