// Owner types for Win32 handles: each gives its handle back the one right way when it goes out
// of scope (or is reset), so no path of the Win32 code leaks one or frees it twice.
#pragma once

#include "platform/gdi.h"

#include <windows.h>

#include <utility>

namespace platform {

// A handle and how it is released; movable, not copyable. The null handle means none. A
// release that needs more than the handle (the window a device context was borrowed from)
// carries it along.
template <typename Handle, typename Release> class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle, Release release = {}) : handle_(handle), release_(release) {}
    Owned(Owned&& other) noexcept : handle_(other.Detach()), release_(other.release_) {}
    Owned& operator=(Owned&& other) noexcept {
        Reset();
        release_ = other.release_;
        handle_ = other.Detach();
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
            release_(handle_);
        }
        handle_ = handle;
    }
    // Gives the handle up without releasing it.
    Handle Detach() { return std::exchange(handle_, Handle{}); }

private:
    Handle handle_{};
    Release release_{};
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
struct ReleaseWindowDc {
    HWND window = nullptr;
    void operator()(HDC dc) const { ReleaseDC(window, dc); }
};
struct Reselect {
    HDC dc = nullptr;
    void operator()(HGDIOBJ previous) const { SelectObject(dc, previous); }
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
// A device context borrowed from a window, given back with ReleaseDC.
using WindowDc = Owned<HDC, ReleaseWindowDc>;
// What a device context had selected before an object was selected into it for a scope; it
// goes back at the scope's end.
using Selection = Owned<HGDIOBJ, Reselect>;

// The client area's device context (GetDC); a null window borrows the screen's.
inline WindowDc ClientDc(HWND window) {
    return WindowDc(GetDC(window), ReleaseWindowDc{window});
}
// The whole window's, frame included (GetWindowDC).
inline WindowDc WholeWindowDc(HWND window) {
    return WindowDc(GetWindowDC(window), ReleaseWindowDc{window});
}
inline Selection Select(HDC dc, HGDIOBJ object) {
    return Selection(SelectObject(dc, object), Reselect{dc});
}

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
        selection_ = Select(dc.Get(), bitmap);
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
