// The display's DPI: the system's and a window's, where the system can tell.
#include "platform/dpi_win32.h"

#include "platform/owner_win32.h"

namespace platform {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForSystemFn = UINT(WINAPI*)();

template <typename Fn> Fn User32Function(const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

} // namespace

int SystemDpi() {
    if (auto fn = User32Function<GetDpiForSystemFn>("GetDpiForSystem")) {
        return static_cast<int>(fn());
    }
    const WindowDc screen = ClientDc(nullptr);
    const int dpi = GetDeviceCaps(screen.Get(), LOGPIXELSY);
    return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND window) {
    auto fn = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    const int dpi = fn ? static_cast<int>(fn(window)) : 0;
    return dpi > 0 ? dpi : SystemDpi();
}

} // namespace platform
