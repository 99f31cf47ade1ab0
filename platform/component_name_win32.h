// The component name of a window, for assistive tools and the UI test driver: a window
// property holding a global atom with the name.
#pragma once

#include <windows.h>

namespace platform {

inline constexpr wchar_t kComponentNameProp[] = L"ComponentName";

inline void SetComponentName(HWND hwnd, const wchar_t* name) {
    const ATOM atom = GlobalAddAtomW(name);
    SetPropW(hwnd, kComponentNameProp, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(atom)));
}

// Call while the window is being destroyed (WM_NCDESTROY).
inline void RemoveComponentName(HWND hwnd) {
    if (auto atom =
            static_cast<ATOM>(reinterpret_cast<UINT_PTR>(RemovePropW(hwnd, kComponentNameProp)))) {
        GlobalDeleteAtom(atom);
    }
}

} // namespace platform
