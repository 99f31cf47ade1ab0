// The drawn controls' accessibility stand-ins: their window classes and window procedure.
#include "app/control_proxies.h"

#include "platform/text.h"

namespace app {

namespace {

LRESULT CALLBACK ProxyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_NCDESTROY:
        platform::RemoveComponentName(hwnd);
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

const wchar_t* ProxyClassName(ControlKind kind) {
    switch (kind) {
    case ControlKind::TsImage:
        return L"TsImage";
    case ControlKind::TLabel:
        return L"TLabel";
    case ControlKind::TsLabelFX:
        return L"TsLabelFX";
    case ControlKind::TImage:
        return L"TImage";
    }
    return L"TGraphicControl";
}

void RegisterProxyClasses(HINSTANCE instance) {
    for (ControlKind kind :
         {ControlKind::TsImage, ControlKind::TLabel, ControlKind::TsLabelFX, ControlKind::TImage}) {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = ProxyProc;
        wc.hInstance = instance;
        wc.lpszClassName = ProxyClassName(kind);
        RegisterClassExW(&wc);
    }
}

HWND CreateProxy(HWND parent, HINSTANCE instance, const TGraphicControl& c, int id) {
    HWND proxy =
        CreateWindowExW(WS_EX_NOPARENTNOTIFY, ProxyClassName(c.Kind), platform::W(c.Caption),
                        WS_CHILD | (c.Visible ? WS_VISIBLE : 0), c.Bounds.left, c.Bounds.top,
                        c.Bounds.right - c.Bounds.left, c.Bounds.bottom - c.Bounds.top, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (proxy) {
        SetWindowRgn(proxy, CreateRectRgn(0, 0, 0, 0), FALSE); // the window owns the region
        platform::SetComponentName(proxy, c.Name);
    }
    return proxy;
}

void MoveProxy(const TGraphicControl& c) {
    if (c.Proxy) {
        SetWindowPos(c.Proxy, nullptr, c.Bounds.left, c.Bounds.top, c.Bounds.right - c.Bounds.left,
                     c.Bounds.bottom - c.Bounds.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    }
}

void ShowProxy(const TGraphicControl& c) {
    if (c.Proxy) {
        ShowWindow(c.Proxy, c.Visible ? SW_SHOWNA : SW_HIDE);
    }
}

void RenameProxy(const TGraphicControl& c) {
    if (c.Proxy) {
        SetWindowTextW(c.Proxy, platform::W(c.Caption));
    }
}

} // namespace app
