// Libraries that are not among the system's known libraries (which Windows always takes from
// the system folder) are not imported: they are loaded at first use from the system folder by
// full path, so a copy planted beside the program is never loaded.
#pragma once

#include <windows.h>

namespace platform {

// The library of that file name in the system folder, loaded (and kept until the process
// ends), or null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// A function of a loaded library as a pointer of type F, null when the library or the
// function is missing.
template <typename F> F LibraryFunction(HMODULE library, const char* name) {
    if (!library) {
        return nullptr;
    }
    // Through void (*)(): the one cast between function types the compiler takes as intended.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

} // namespace platform
