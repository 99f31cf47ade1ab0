// The window's open-file dialog OpenDialog1: a file name that persists between showings and
// a filter of display text and pattern pairs separated by '|'.
#pragma once

#include <windows.h>

#include <string>

namespace app {

struct TOpenDialog {
    std::u16string FileName;
    std::u16string Filter;

    // Shows the dialog with the framework's default options (a typed name of a file that does
    // not exist is accepted). True when the user confirmed; FileName is then the chosen path.
    bool Execute(HWND owner);
};

} // namespace app
