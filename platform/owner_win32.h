// Owner types for Win32 handles: each gives its handle back the one right way when it goes out
// of scope (or is reset), so no path of the Win32 code leaks one or frees it twice.
#pragma once

#include "platform/gdi.h"

#include <windows.h>

#include <utility>

namespace platform {

// A handle and how it is released; movable, not copyable. The null handle means none.
template <typename Handle, typename Release> class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    Owned(Owned&& other) noexcept : handle_(other.Detach()) {}
    Owned& operator=(Owned&& other) noexcept {
        Reset(other.Detach());
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Reset(); }

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    // Releases the handle held (if any) and takes `handle` instead.
    void Reset(Handle handle = Handle{}) {
        if (handle_ != Handle{} && handle_ != handle) {
            Release{}(handle_);
        }
        handle_ = handle;
    }
    // Gives the handle up without releasing it.
    Handle Detach() { return std::exchange(handle_, Handle{}); }

private:
    Handle handle_{};
};

struct DeleteGdiObject {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct DeleteMemoryDc {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct DestroyIconHandle {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
struct CloseKernelHandle {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct FreeBitmap {
    void operator()(Bitmap* bitmap) const { BitmapFree(bitmap); }
};

// A font, brush, bitmap or region (DeleteObject).
template <typename Gdi> using GdiObject = Owned<Gdi, DeleteGdiObject>;
// A memory device context (CreateCompatibleDC; DeleteDC).
using MemoryDc = Owned<HDC, DeleteMemoryDc>;
using IconHandle = Owned<HICON, DestroyIconHandle>;
// An event, token or other kernel object (CloseHandle).
using KernelHandle = Owned<HANDLE, CloseKernelHandle>;
// A bitmap of platform/gdi.h with its device context (BitmapFree).
using BitmapOwner = Owned<Bitmap*, FreeBitmap>;

// A device context borrowed from a window (GetDC, GetWindowDC), given back with ReleaseDC.
class WindowDc {
public:
    WindowDc() = default;
    // The client area's (GetDC); a null window borrows the screen's.
    static WindowDc Client(HWND window) { return WindowDc(window, GetDC(window)); }
    // The whole window's, frame included (GetWindowDC).
    static WindowDc Whole(HWND window) { return WindowDc(window, GetWindowDC(window)); }
    WindowDc(WindowDc&& other) noexcept
        : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
    WindowDc& operator=(WindowDc&& other) noexcept {
        Reset();
        window_ = other.window_;
        dc_ = std::exchange(other.dc_, nullptr);
        return *this;
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() { Reset(); }

    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }
    void Reset() {
        if (dc_) {
            ReleaseDC(window_, std::exchange(dc_, nullptr));
        }
    }

private:
    WindowDc(HWND window, HDC dc) : window_(window), dc_(dc) {}
    HWND window_ = nullptr;
    HDC dc_ = nullptr;
};

// An object selected into a device context for a scope; the previous one goes back at its end.
class Selection {
public:
    Selection() = default;
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    Selection(Selection&& other) noexcept
        : dc_(other.dc_), previous_(std::exchange(other.previous_, nullptr)) {}
    Selection& operator=(Selection&& other) noexcept {
        Reset();
        dc_ = other.dc_;
        previous_ = std::exchange(other.previous_, nullptr);
        return *this;
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() { Reset(); }

    void Reset() {
        if (previous_) {
            SelectObject(dc_, std::exchange(previous_, nullptr));
        }
    }

private:
    HDC dc_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

// A bitmap selected into a memory device context of its own, ready to be copied or blended
// from with no set-up; released in the right order (selection, context, bitmap).
class SelectedBitmap {
public:
    // Takes ownership of `bitmap`; on failure owns nothing and returns false.
    bool Adopt(HBITMAP bitmap) {
        Reset();
        GdiObject<HBITMAP> owned(bitmap);
        MemoryDc dc(bitmap ? CreateCompatibleDC(nullptr) : nullptr);
        if (!dc) {
            return false;
        }
        selection_ = Selection(dc.Get(), bitmap);
        bitmap_ = std::move(owned);
        dc_ = std::move(dc);
        return true;
    }
    void Reset() {
        selection_.Reset();
        dc_.Reset();
        bitmap_.Reset();
    }
    HDC Dc() const { return dc_.Get(); }
    HBITMAP Handle() const { return bitmap_.Get(); }

private:
    // Declared in the order of set-up, so that they go in the reverse order.
    GdiObject<HBITMAP> bitmap_;
    MemoryDc dc_;
    Selection selection_;
};

} // namespace platform
