// The main window: its creation, its event handlers and its window procedure.
#include "app/form1.h"

#include "app/control_proxies.h"
#include "app/message_boxes.h"
#include "app/resources.h"
#include "app/window_rules.h"
#include "music/trackfile.h"
#include "music/xmplayer.h"
#include "platform/account.h"
#include "platform/buildstamp_win32.h"
#include "platform/dpi_win32.h"
#include "platform/resource.h"
#include "platform/text.h"
#include "platform/window_query_win32.h"
#include "show/about.h"
#include "show/transmemo_win32.h"

#include <windowsx.h>

#include <memory>

namespace app {

namespace {

POINT PointOf(LPARAM lp) {
    return POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
}

} // namespace

// --- Creation -------------------------------------------------------------------------

TForm1* TForm1::Create(HINSTANCE instance, FormOptions options) {
    std::unique_ptr<TForm1> form(new TForm1);
    form->instance_ = instance;
    form->options_ = options;
    if (!form->options_.lookupCurrentUser) {
        form->options_.lookupCurrentUser = &platform::LookupCurrentUser;
    }
    form->LoadSkin();
    RegisterProxyClasses(instance);
    RegisterWindowClass(instance);

    const int dpi = platform::SystemDpi();
    form->dpi_ = dpi;
    form->sSkinProvider1.SetDpi(dpi);
    const SIZE outer = form->OuterSize();
    HWND hwnd = CreateWindowExW(
        WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, kMainWindowClass, platform::W(kStoredCaption),
        WS_POPUP | WS_SYSMENU | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, CW_USEDEFAULT, CW_USEDEFAULT,
        outer.cx, outer.cy, nullptr, nullptr, instance, form.get());
    if (!hwnd) {
        return nullptr;
    }
    form->controls_.LoadPictures(instance);
    form->controls_.CreateProxies(hwnd, instance, dpi);
    form->ApplyDpi(platform::WindowDpi(hwnd));
    if (form->dpi_ != dpi) {
        const SIZE resized = form->OuterSize();
        SetWindowPos(hwnd, nullptr, 0, 0, resized.cx, resized.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    form->SetTimerEnabled(true);
    form->FormCreate();
    return form.release();
}

void TForm1::LoadSkin() {
    if (auto bytes = ResourceBytes(instance_, kSkinResource, RT_RCDATA)) {
        if (auto data = skin::LoadSkin(*bytes)) {
            skinData_ = std::move(*data);
            skinLoaded_ = true;
        }
    }
    sSkinProvider1.Init(skinLoaded_ ? &skinData_ : nullptr, skin::ProviderSettings{},
                        platform::SystemDpi());
    sSkinProvider1.OnTitleButtonMouseUp = [this](int, skin::MouseButton b, int x, int y) {
        sSkinProvider1TitleButtons0MouseUp(b, x, y);
    };
    controls_.SetBackground(sSkinProvider1.ClientColor());
}

void TForm1::RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(
        LoadImageW(instance, kMainIconResource, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, kMainIconResource, IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kMainWindowClass;
    RegisterClassExW(&wc);
}

TForm1::~TForm1() {
    state_.ReleaseWindowDC();
    if (hwnd_) {
        DestroyWindow(hwnd_);
    }
}

void TForm1::Show() {
    RECT wr;
    GetWindowRect(hwnd_, &wr);
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
              y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
}

// --- Event handlers -------------------------------------------------------------------

void TForm1::FormCreate() {
    IgnoreCount = 10;
    state_.WindowDC = platform::ClientDc(hwnd_);
    music::PlayModule(music::kTrackFile, music::kTrackFileSize, music::SourceMemory);
    state_.TargetDir = TargetDirFromExePath(platform::SystemResources().OwnExecutablePath());
    if (const platform::IconHandle icon(static_cast<HICON>(
            LoadImageW(instance_, kMainIconResource, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
        icon) {
        controls_.SetIcon(kImage3, platform::IconHandle(CopyIcon(icon.Get())));
    }
    state_.UserName.clear();
    state_.UserDomain.clear();
    options_.lookupCurrentUser(state_.UserName, state_.UserDomain);
    SetWindowTextW(hwnd_,
                   platform::W(ComposeCaption(platform::WindowText(hwnd_), state_.UserName)));
}

void TForm1::FormActivate() {
    if (LoadingApp) {
        mouse = POINT{-1, -1};
    }
    if (!show::BuildSheets(sheets_, controls_[kImage1].Sheet.Get(), controls_[kImage2].Sheet.Get(),
                           state_.WindowCanvas())) {
        return;
    }
    RECT wr;
    GetWindowRect(hwnd_, &wr);
    show::SetUpColumns(rain_, sheets_, wr.bottom - wr.top, wr.right - wr.left);
}

void TForm1::FormClose() {
    state_.WindowClosing = -1;
    music::StopModule();
    sheets_.ReleaseBlackBitmap();
}

void TForm1::Timer1Timer() {
    show::Timer1Timer(rain_, *this, *this);
}

void TForm1::sLabelFX1Click() {
    const std::u16string date =
        platform::BuildDateText().value_or(std::u16string(show::kUnknownStamp));
    const std::u16string time =
        platform::BuildTimeText().value_or(std::u16string(show::kUnknownStamp));
    ShowMessageBox(hwnd_, show::AboutText(date, time), MB_OK);
    HideCaret();
}

void TForm1::sLabelFX1MouseMove() {
    controls_.SetEmphasis(kSLabelFX1, true);
}

void TForm1::sLabelFX1MouseLeave() {
    controls_.SetEmphasis(kSLabelFX1, false);
}

void TForm1::sSkinProvider1TitleButtons0MouseUp(skin::MouseButton, int, int) {
    sLabelFX1Click();
}

// --- Window procedure -----------------------------------------------------------------

LRESULT CALLBACK TForm1::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    TForm1* self = reinterpret_cast<TForm1*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
        self->state_.Pump.SetDialogWindow(hwnd);
        self->sSkinProvider1.Attach(hwnd);
    }
    if (!self) {
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    LRESULT result = 0;
    if (self->sSkinProvider1.HandleMessage(hwnd, msg, wp, lp, result)) {
        return result;
    }
    // The application's default error handler: an error no handler caught is shown, and the
    // rest of that handler is abandoned.
    try {
        return self->Handle(msg, wp, lp);
    } catch (const std::exception& e) {
        ShowException(hwnd, platform::Utf16(e.what()));
    }
    return 0;
}

// Routes each message to its handler; what a handler leaves goes to the default procedure.
LRESULT TForm1::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND:
        return OnEraseBackground(reinterpret_cast<HDC>(wp));
    case WM_PAINT:
        return OnPaint();
    case show::WM_PAINTCONTROLS:
        controls_.Paint(reinterpret_cast<HDC>(wp));
        return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        if (IsConsole(reinterpret_cast<HWND>(lp))) {
            return state_.LogMemo->CtlColor(reinterpret_cast<HDC>(wp));
        }
        break;
    case WM_COMMAND:
        if (IsConsole(reinterpret_cast<HWND>(lp)) && HIWORD(wp) == EN_CHANGE) {
            state_.LogMemo->Change();
            return 0;
        }
        break;
    case platform::WM_SYNCHRONIZE:
        platform::RunSynchronized(*reinterpret_cast<const platform::SynchronizeJob*>(lp));
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(formFont_.Get());
    case WM_TIMER:
        if (wp == kTimer1) {
            Timer1Timer();
        }
        return 0;
    case WM_ACTIVATEAPP:
        appJustActivated_ = wp != 0;
        break;
    case WM_ACTIVATE:
        OnActivate(wp, reinterpret_cast<HWND>(lp));
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(PointOf(lp));
        return 0;
    case WM_MOUSELEAVE:
        OnMouseLeave();
        return 0;
    case WM_LBUTTONDOWN:
        OnLButtonDown(PointOf(lp));
        return 0;
    case WM_LBUTTONUP:
        OnLButtonUp(PointOf(lp));
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wp), *reinterpret_cast<const RECT*>(lp));
        return 0;
    case WM_DESTROY:
        state_.Pump.SetDialogWindow(nullptr);
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT TForm1::OnEraseBackground(HDC dc) {
    RECT r;
    GetClientRect(hwnd_, &r);
    FillRect(dc, &r, controls_.Background());
    return 1;
}

LRESULT TForm1::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    controls_.Paint(dc);
    EndPaint(hwnd_, &ps);
    return 0;
}

bool TForm1::IsConsole(HWND control) const {
    return state_.LogMemo && control == state_.LogMemo->Handle();
}

void TForm1::OnActivate(WPARAM wp, HWND other) {
    if (LOWORD(wp) != WA_INACTIVE && !HIWORD(wp)) {
        // The form's activation event: at start and when focus comes back from another
        // window of the program, not when the user switches back from another program.
        // The window that gave up the focus tells best; the application's activation
        // decides when it is unknown.
        DWORD from = 0;
        if (other) {
            GetWindowThreadProcessId(other, &from);
        }
        const bool fromOwnWindow = from == GetCurrentProcessId();
        if (!activatedBefore_ || fromOwnWindow || !appJustActivated_) {
            activatedBefore_ = true;
            FormActivate();
        }
    }
    appJustActivated_ = false;
}

void TForm1::OnClose() {
    // Closing the main window ends the application; the window itself goes at the end.
    FormClose();
    PostQuitMessage(0);
}

} // namespace app
