#include "app/form1.h"

#include "app/appcore.h"
#include "app/control_names.h"
#include "app/patchhost.h"
#include "app/resources.h"
#include "app/unit1.h"
#include "music/trackfile.h"
#include "music/xmplayer.h"
#include "patch/payload.h"
#include "patch/systemsteps.h"
#include "platform/account.h"
#include "platform/file.h"
#include "platform/gdi_win32.h"
#include "platform/path.h"
#include "platform/resource.h"
#include "platform/text.h"
#include "show/about.h"
#include "skin/imaging.h"

#include <windowsx.h>

#include <algorithm>
#include <optional>

namespace app {

platform::Dc WindowDC = 0;
std::u16string TargetDir;
std::u16string UserName;
std::u16string UserDomain;
std::int32_t WindowClosing = 0;
show::TTransMemo* LogMemo = nullptr;
show::TItoolsThread* MarqueeThread = nullptr;

namespace {

HWND g_mainWindow = nullptr;
bool g_quit = false;

// The window's stored colour: RGB 37, 171, 3.
constexpr COLORREF kFormColor = RGB(37, 171, 3);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kLime = RGB(0, 255, 0);
constexpr int kControlIdBase = 1000;
constexpr int kSignatureShadowReach = 4;

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForSystemFn = UINT(WINAPI*)();

int SystemDpi() {
    auto fn = reinterpret_cast<GetDpiForSystemFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForSystem")));
    if (fn) {
        return static_cast<int>(fn());
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND hwnd) {
    auto fn = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const int dpi = fn ? static_cast<int>(fn(hwnd)) : 0;
    return dpi > 0 ? dpi : SystemDpi();
}

std::u16string OwnExePath() {
    return platform::SystemResources().OwnExecutablePath();
}

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

void RegisterProxyClasses(HINSTANCE instance) {
    for (ControlKind kind :
         {ControlKind::TsImage, ControlKind::TLabel, ControlKind::TsLabelFX, ControlKind::TImage}) {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = ProxyProc;
        wc.hInstance = instance;
        wc.lpszClassName = TGraphicControl::ClassName(kind);
        RegisterClassExW(&wc);
    }
}

RECT Scaled(const RECT& r, int dpi) {
    return RECT{ScaleForDpi(r.left, dpi), ScaleForDpi(r.top, dpi), ScaleForDpi(r.right, dpi),
                ScaleForDpi(r.bottom, dpi)};
}

RECT Bounds(int left, int top, int width, int height) {
    return RECT{left, top, left + width, top + height};
}

} // namespace

const wchar_t* TGraphicControl::ClassName(ControlKind kind) {
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

void ReleaseWindowDC() {
    if (WindowDC && g_mainWindow) {
        ReleaseDC(g_mainWindow, platform::ToHdc(WindowDC));
    }
    WindowDC = 0;
}

void AppendLog(const std::u16string& line) {
    if (LogMemo) {
        LogMemo->AppendLine(line);
    }
}

std::u16string ApplicationTitle() {
    return platform::FileNameWithoutExtension(OwnExePath());
}

namespace {

// The build stamp as a system time; none when the stamp is not a valid MS-DOS date and time.
std::optional<SYSTEMTIME> GetBuildStamp() {
    const auto* base = reinterpret_cast<const std::uint8_t*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto stamp = show::ResourceDirectoryStamp({base, nt->OptionalHeader.SizeOfImage});
    const auto t = stamp ? show::DecodeDosStamp(*stamp) : std::nullopt;
    if (!t) {
        return std::nullopt;
    }
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t->year);
    st.wMonth = static_cast<WORD>(t->month);
    st.wDay = static_cast<WORD>(t->day);
    st.wHour = static_cast<WORD>(t->hour);
    st.wMinute = static_cast<WORD>(t->minute);
    st.wSecond = static_cast<WORD>(t->second);
    return st;
}

} // namespace

namespace {

// The build stamp through one of the user's formats; the placeholder when there is none.
template <typename Format> std::u16string FormatBuildStamp(Format format) {
    const auto st = GetBuildStamp();
    wchar_t buf[128] = {};
    if (!st || !format(&*st, buf, static_cast<int>(std::size(buf)))) {
        return std::u16string(show::kUnknownStamp);
    }
    return platform::U(buf).data();
}

} // namespace

std::u16string BuildDateText() {
    return FormatBuildStamp([](const SYSTEMTIME* st, wchar_t* buf, int n) {
        return GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, st, nullptr, buf, n,
                               nullptr);
    });
}

std::u16string BuildTimeText() {
    return FormatBuildStamp([](const SYSTEMTIME* st, wchar_t* buf, int n) {
        return GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, st, nullptr, buf, n);
    });
}

void Synchronize(HWND window, const std::function<void()>& update) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!done) {
        return;
    }
    SynchronizeJob job{&update, done};
    if (PostMessageW(window, WM_SYNCHRONIZE, 0, reinterpret_cast<LPARAM>(&job))) {
        WaitForSingleObject(done, INFINITE);
    }
    CloseHandle(done);
}

void RunSynchronized(const SynchronizeJob& job) {
    // Set on every way out; the job belongs to the waiting thread and is gone after that.
    struct Release {
        HANDLE done;
        ~Release() { SetEvent(done); }
    } release{job.done};
    (*job.update)();
}

void HandleMessage(MSG& message) {
    if (g_mainWindow && IsDialogMessageW(g_mainWindow, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void ProcessMessages() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            g_quit = true;
            return;
        }
        HandleMessage(m);
    }
}

bool QuitRequested() {
    return g_quit;
}

void TForm1::InitControls() {
    // The window's drawn controls, in z-order: what the window stores for each.
    struct Entry {
        ControlIndex index;
        const wchar_t* name;
        ControlKind kind;
        RECT bounds;
        bool visible;
        const char16_t* caption; // labels: the text; pictures: the accessible name
        FontSpec font;
    };
    const Entry table[] = {
        {kSImage1,
         L"sImage1",
         ControlKind::TsImage,
         Bounds(56, 0, 346, 140),
         true,
         u"iTools 3 RUS logo",
         {}},
        {kLabel1, L"Label1", ControlKind::TLabel, Bounds(88, 116, 224, 14), true,
         u"Thnk's \"Vemu7ka\" for the          icon ",
         FontSpec{L"Tahoma", 12, true, false, 0, kWhite}},
        {kLabel2, L"Label2", ControlKind::TLabel, Bounds(132, 116, 65, 14), true, u"\"Vemu7ka\"",
         FontSpec{L"Tahoma", 12, true, false, 0, kLime}},
        {kSLabelFX1, L"sLabelFX1", ControlKind::TsLabelFX, Bounds(296, 54, 97, 25), false,
         u"Quilmar0 zero", FontSpec{L"Tahoma", 16, false, false, 55, kLime}},
        {kRabbit,
         L"Rabbit",
         ControlKind::TImage,
         Bounds(164, 408, 73, 65),
         false,
         u"White rabbit: click to localise iTools 3",
         {}},
        {kImage1,
         L"Image1",
         ControlKind::TImage,
         Bounds(80, 0, 49, 833),
         false,
         u"Glyph sheet",
         {}},
        {kImage2,
         L"Image2",
         ControlKind::TImage,
         Bounds(33, 0, 41, 825),
         false,
         u"Intense glyph sheet",
         {}},
        {kImage3,
         L"Image3",
         ControlKind::TImage,
         Bounds(246, 106, 45, 34),
         true,
         u"Program icon",
         {}},
    };
    for (const Entry& e : table) {
        TGraphicControl& c = controls_[e.index];
        c.Name = e.name;
        c.Kind = e.kind;
        c.Bounds96 = e.bounds;
        c.Visible = e.visible;
        c.Caption = e.caption;
        c.Font = e.font;
    }
    controls_[kSImage1].BlendOpacity = 128;
}

void TForm1::LoadContent() {
    if (auto bytes = ResourceBytes(instance_, kLogoResource, RT_RCDATA)) {
        if (auto img = skin::DecodeBmp(*bytes)) {
            controls_[kSImage1].Source = std::move(*img);
        }
    }
    if (auto bytes = ResourceBytes(instance_, kRabbitResource, RT_RCDATA)) {
        if (auto img = skin::DecodeBmp(*bytes)) {
            controls_[kRabbit].Source = std::move(*img);
        }
    }
    for (int i : {kImage1, kImage2}) {
        const wchar_t* name = i == kImage1 ? kNormalSheetResource : kIntenseSheetResource;
        auto handle = static_cast<HBITMAP>(
            LoadImageW(instance_, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        controls_[i].Sheet = platform::BitmapAdopt(handle);
    }
}

void TForm1::ApplyDpi(int dpi) {
    dpi_ = dpi;
    sSkinProvider1.SetDpi(dpi);
    if (formFont_) {
        DeleteObject(formFont_);
    }
    formFont_ = CreateFontW(-ScaleForDpi(11, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    for (int i = 0; i < kControlCount; ++i) {
        TGraphicControl& c = controls_[i];
        c.Bounds = Scaled(c.Bounds96, dpi);
        RecreateFont(i);
        const int w = c.Bounds.right - c.Bounds.left, h = c.Bounds.bottom - c.Bounds.top;
        if (i == kSImage1) {
            int fw = 0, fh = 0;
            skin::FitProportional(c.Source.width, c.Source.height, w, h, fw, fh);
            c.Scaled.Set(skin::Resize(c.Source, fw, fh));
        } else if (i == kRabbit) {
            c.Scaled.Set(skin::Resize(c.Source, w, h));
        }
        UpdatePainted(i);
        UpdateProxy(i);
    }
    ApplyConsoleDpi();
}

TForm1* TForm1::Create(HINSTANCE instance, FormOptions options) {
    std::unique_ptr<TForm1> form(new TForm1);
    form->instance_ = instance;
    form->options_ = options;
    if (!form->options_.lookupCurrentUser) {
        form->options_.lookupCurrentUser = &platform::LookupCurrentUser;
    }
    WindowClosing = 0;
    form->InitControls();
    if (auto bytes = ResourceBytes(instance, kSkinResource, RT_RCDATA)) {
        if (auto data = skin::LoadSkin(*bytes)) {
            form->skinData_ = std::move(*data);
            form->skinLoaded_ = true;
        }
    }
    form->sSkinProvider1.Init(form->skinLoaded_ ? &form->skinData_ : nullptr,
                              skin::ProviderSettings{}, SystemDpi());
    form->sSkinProvider1.OnTitleButtonMouseUp = [f = form.get()](int, skin::MouseButton b, int x,
                                                                 int y) {
        f->sSkinProvider1TitleButtons0MouseUp(b, x, y);
    };

    RegisterProxyClasses(instance);
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

    const int dpi = SystemDpi();
    form->dpi_ = dpi;
    form->sSkinProvider1.SetDpi(dpi);
    const SIZE outer = form->sSkinProvider1.WindowSizeFor(
        SIZE{ScaleForDpi(kClientWidth, dpi), ScaleForDpi(kClientHeight, dpi)});
    HWND hwnd = CreateWindowExW(
        WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, kMainWindowClass, platform::W(kStoredCaption),
        WS_POPUP | WS_SYSMENU | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, CW_USEDEFAULT, CW_USEDEFAULT,
        outer.cx, outer.cy, nullptr, nullptr, instance, form.get());
    if (!hwnd) {
        return nullptr;
    }
    form->LoadContent();
    form->CreateProxies();
    form->ApplyDpi(WindowDpi(hwnd));
    if (form->dpi_ != dpi) {
        const SIZE resized = form->sSkinProvider1.WindowSizeFor(
            SIZE{ScaleForDpi(kClientWidth, form->dpi_), ScaleForDpi(kClientHeight, form->dpi_)});
        SetWindowPos(hwnd, nullptr, 0, 0, resized.cx, resized.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    form->SetTimerEnabled(true);
    form->FormCreate();
    return form.release();
}

TForm1::~TForm1() {
    if (hwnd_) {
        DestroyWindow(hwnd_);
    }
    for (TGraphicControl& c : controls_) {
        if (c.FontHandle) {
            DeleteObject(c.FontHandle);
        }
        if (c.Icon) {
            DestroyIcon(c.Icon);
        }
        platform::BitmapFree(c.Sheet);
    }
    if (formFont_) {
        DeleteObject(formFont_);
    }
    if (consoleFont_) {
        DeleteObject(consoleFont_);
    }
    if (clientBrush_) {
        DeleteObject(clientBrush_);
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

void TForm1::RecreateFont(int index) {
    TGraphicControl& c = controls_[index];
    if (c.FontHandle) {
        DeleteObject(c.FontHandle);
        c.FontHandle = nullptr;
    }
    if (c.Kind == ControlKind::TLabel || c.Kind == ControlKind::TsLabelFX) {
        const FontSpec& f = c.Font;
        c.FontHandle = CreateFontW(
            -ScaleForDpi(f.height, dpi_), 0, f.orientation, f.orientation,
            f.bold ? FW_BOLD : FW_NORMAL, FALSE, f.underline, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
            CLIP_DEFAULT_PRECIS | CLIP_LH_ANGLES, ANTIALIASED_QUALITY, DEFAULT_PITCH, f.face);
    }
}

void TForm1::CreateProxies() {
    for (int i = 0; i < kControlCount; ++i) {
        TGraphicControl& c = controls_[i];
        c.Bounds = Scaled(c.Bounds96, dpi_);
        c.Proxy = CreateWindowExW(
            WS_EX_NOPARENTNOTIFY, TGraphicControl::ClassName(c.Kind), platform::W(c.Caption),
            WS_CHILD | (c.Visible ? WS_VISIBLE : 0), c.Bounds.left, c.Bounds.top,
            c.Bounds.right - c.Bounds.left, c.Bounds.bottom - c.Bounds.top, hwnd_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kControlIdBase + i)), instance_, nullptr);
        if (!c.Proxy) {
            continue;
        }
        SetWindowRgn(c.Proxy, CreateRectRgn(0, 0, 0, 0), FALSE);
        platform::SetComponentName(c.Proxy, c.Name);
    }
}

void TForm1::UpdateProxy(int index) {
    TGraphicControl& c = controls_[index];
    if (!c.Proxy) {
        return;
    }
    SetWindowPos(c.Proxy, nullptr, c.Bounds.left, c.Bounds.top, c.Bounds.right - c.Bounds.left,
                 c.Bounds.bottom - c.Bounds.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

void TForm1::SetControlVisible(int index, bool visible) {
    TGraphicControl& c = controls_[index];
    if (c.Visible == visible) {
        return;
    }
    c.Visible = visible;
    if (c.Proxy) {
        ShowWindow(c.Proxy, visible ? SW_SHOWNA : SW_HIDE);
    }
    InvalidateControl(index);
}

void TForm1::SetControlCaption(int index, const std::u16string& caption) {
    TGraphicControl& c = controls_[index];
    if (c.Caption == caption) {
        return;
    }
    InvalidateControl(index);
    c.Caption = caption;
    if (c.Proxy) {
        SetWindowTextW(c.Proxy, platform::W(c.Caption));
    }
    UpdatePainted(index);
    InvalidateControl(index);
}

void TForm1::InvalidateControl(int index) {
    const TGraphicControl& c = controls_[index];
    RECT r = c.Bounds;
    if (index == kSLabelFX1) {
        // The rotated text and its shadow reach past the label's bounds.
        UnionRect(&r, &c.Bounds, &c.Painted);
    }
    InvalidateRect(hwnd_, &r, TRUE);
}

POINT TForm1::SignatureOrigin() const {
    const RECT& b = controls_[kSLabelFX1].Bounds;
    return POINT{b.left + ScaleForDpi(2, dpi_), b.top + ScaleForDpi(8, dpi_)};
}

HBRUSH TForm1::ClientBrush() {
    if (!clientBrush_) {
        clientBrush_ = CreateSolidBrush(sSkinProvider1.ClientColor());
    }
    return clientBrush_;
}

void TForm1::UpdatePainted(int index) {
    TGraphicControl& c = controls_[index];
    const RECT& b = c.Bounds;
    switch (c.Kind) {
    case ControlKind::TsImage:
        c.Painted = RECT{b.left, b.top, b.left + c.Scaled.Width(), b.top + c.Scaled.Height()};
        break;
    case ControlKind::TLabel: {
        // An auto-sized label grows with the font's real metrics; its glyphs may overhang the
        // text's box a little.
        RECT text = b;
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, c.FontHandle);
        DrawTextW(dc, platform::W(c.Caption), static_cast<int>(c.Caption.size()), &text,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
        SelectObject(dc, old);
        DeleteDC(dc);
        c.Fill =
            RECT{b.left, b.top, std::max(b.right, text.right), std::max(b.bottom, text.bottom)};
        c.Painted = c.Fill;
        const int overhang = ScaleForDpi(c.Font.height, dpi_) / 4 + 1;
        InflateRect(&c.Painted, overhang, overhang);
        break;
    }
    case ControlKind::TsLabelFX: {
        c.Shadowed.Set(c.FontHandle, c.Caption, c.Font.color, RGB(0, 0, 0),
                       ScaleForDpi(kSignatureShadowReach, dpi_));
        const POINT at = SignatureOrigin();
        c.Painted = c.Shadowed.Covered(at.x, at.y);
        break;
    }
    case ControlKind::TImage:
        if (c.Icon) {
            ICONINFO info{};
            BITMAP bm{};
            if (GetIconInfo(c.Icon, &info)) {
                GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
                if (!info.hbmColor) {
                    bm.bmHeight /= 2; // a monochrome icon: mask and image one above the other
                }
                if (info.hbmColor) {
                    DeleteObject(info.hbmColor);
                }
                if (info.hbmMask) {
                    DeleteObject(info.hbmMask);
                }
            }
            c.Painted = RECT{b.left, b.top, b.left + bm.bmWidth, b.top + bm.bmHeight};
        } else {
            c.Painted = RECT{b.left, b.top, b.left + c.Scaled.Width(), b.top + c.Scaled.Height()};
        }
        break;
    }
}

void TForm1::ChangeFont(int index) {
    InvalidateControl(index);
    RecreateFont(index);
    UpdatePainted(index);
    InvalidateControl(index);
}

void TForm1::PaintControl(HDC dc, TGraphicControl& c) {
    const RECT& b = c.Bounds;
    switch (c.Kind) {
    case ControlKind::TsImage:
        c.Scaled.Draw(dc, b.left, b.top, c.BlendOpacity);
        break;
    case ControlKind::TLabel: {
        // Labels are opaque in the window's (skinned) background colour, so Label2's turning
        // nickname covers the one inside Label1's text.
        // The text is not clipped: an auto-sized label grows with the font's real metrics.
        HGDIOBJ old = SelectObject(dc, c.FontHandle);
        FillRect(dc, &c.Fill, ClientBrush());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, c.Font.color);
        RECT r = b;
        DrawTextW(dc, platform::W(c.Caption), static_cast<int>(c.Caption.size()), &r,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
        SelectObject(dc, old);
        break;
    }
    case ControlKind::TsLabelFX: {
        const POINT at = SignatureOrigin();
        c.Shadowed.Draw(dc, at.x, at.y);
        break;
    }
    case ControlKind::TImage:
        if (c.Icon) {
            DrawIconEx(dc, b.left, b.top, c.Icon, 0, 0, 0, nullptr, DI_NORMAL);
        } else {
            c.Scaled.Draw(dc, b.left, b.top);
        }
        break;
    }
}

void TForm1::PaintControls(HDC dc) {
    // Only what meets the area being painted: the frame timer repaints the rabbit every tick.
    RECT area{};
    const bool clipped = GetClipBox(dc, &area) != ERROR;
    for (TGraphicControl& c : controls_) {
        RECT meet;
        if (c.Visible && (!clipped || IntersectRect(&meet, &c.Painted, &area))) {
            PaintControl(dc, c);
        }
    }
}

int TForm1::ControlAt(POINT p) const {
    for (int i = kControlCount - 1; i >= 0; --i) {
        if (controls_[i].Visible && PtInRect(&controls_[i].Bounds, p)) {
            return i;
        }
    }
    return -1;
}

void TForm1::OnMouseMove(POINT p) {
    const int c = ControlAt(p);
    if (hoverControl_ == kSLabelFX1 && c != kSLabelFX1) {
        sLabelFX1MouseLeave();
    }
    hoverControl_ = c;
    if (c == kSLabelFX1) {
        sLabelFX1MouseMove();
    }
    if (!trackingLeave_) {
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, hwnd_, 0};
        trackingLeave_ = TrackMouseEvent(&t) != 0;
    }
}

void TForm1::OnMouseLeave() {
    trackingLeave_ = false;
    if (hoverControl_ == kSLabelFX1) {
        sLabelFX1MouseLeave();
    }
    hoverControl_ = -1;
}

// --- Event handlers -------------------------------------------------------------------

void TForm1::FormCreate() {
    IgnoreCount = 10;
    WindowDC = platform::FromHdc(GetDC(hwnd_));
    music::PlayModule(music::kTrackFile, music::kTrackFileSize, music::SourceMemory);
    TargetDir = TargetDirFromExePath(OwnExePath());
    if (auto icon = static_cast<HICON>(
            LoadImageW(instance_, kMainIconResource, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))) {
        controls_[kImage3].Icon = CopyIcon(icon);
        DestroyIcon(icon);
        UpdatePainted(kImage3);
    }
    UserName.clear();
    UserDomain.clear();
    options_.lookupCurrentUser(UserName, UserDomain);
    const int len = GetWindowTextLengthW(hwnd_);
    std::wstring caption(static_cast<size_t>(len) + 1, L'\0');
    GetWindowTextW(hwnd_, caption.data(), len + 1);
    caption.resize(static_cast<size_t>(len));
    SetWindowTextW(hwnd_, platform::W(ComposeCaption(platform::U(caption.c_str()), UserName)));
}

void TForm1::FormActivate() {
    if (LoadingApp) {
        mouse = POINT{-1, -1};
    }
    if (!show::BuildSheets(sheets_, controls_[kImage1].Sheet, controls_[kImage2].Sheet, WindowDC)) {
        return;
    }
    RECT wr;
    GetWindowRect(hwnd_, &wr);
    show::SetUpColumns(rain_, sheets_, wr.bottom - wr.top, wr.right - wr.left);
}

void TForm1::FormClose() {
    WindowClosing = -1;
    music::StopModule();
    sheets_.ReleaseBlackBitmap();
}

void TForm1::Timer1Timer() {
    show::Timer1Timer(rain_, *this);
}

void TForm1::RabbitClick() {
    FormPatchHost host(*this);
    patch::SystemSteps steps(host, platform::SystemResources(), platform::SystemOs(), TargetDir);
    patch::RabbitClick(host, steps, TargetDir);
}

void TForm1::sLabelFX1Click() {
    const std::u16string date = BuildDateText();
    const std::u16string time = BuildTimeText();
    const std::u16string text = show::AboutText(date, time);
    MessageBoxW(hwnd_, platform::W(text), platform::W(ApplicationTitle()), MB_OK);
    if (LogMemo) {
        LogMemo->HideCaret();
    }
}

void TForm1::sLabelFX1MouseMove() {
    TGraphicControl& c = controls_[kSLabelFX1];
    if (!(c.Font.bold && c.Font.underline)) {
        c.Font.bold = c.Font.underline = true;
        ChangeFont(kSLabelFX1);
    }
}

void TForm1::sLabelFX1MouseLeave() {
    TGraphicControl& c = controls_[kSLabelFX1];
    if (c.Font.bold || c.Font.underline) {
        c.Font.bold = c.Font.underline = false;
        ChangeFont(kSLabelFX1);
    }
}

void TForm1::sSkinProvider1TitleButtons0MouseUp(skin::MouseButton, int, int) {
    sLabelFX1Click();
}

void TForm1::SetTimerEnabled(bool enabled) {
    timerOn_ = enabled;
    if (enabled) {
        SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);
    } else {
        KillTimer(hwnd_, kTimer1);
    }
}

void TForm1::RepaintWindow() {
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void TForm1::RepaintRabbit() {
    // Every tick after the intro: straight into the window's device context like the rain,
    // without a round of invalidation and paint messages. The rabbit's area is erased and
    // what meets it painted again, as a repaint of that area would.
    HDC dc = platform::ToHdc(WindowDC);
    if (!dc) {
        return;
    }
    const RECT& r = controls_[kRabbit].Bounds;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    FillRect(dc, &r, ClientBrush());
    PaintControls(dc);
    RestoreDC(dc, saved);
}

void TForm1::IntroStart() {
    show::RunIntro(*this);
}

void TForm1::NeoWakeUP() {
    show::NeoWakeUP(*this);
}

void TForm1::ApplyConsoleDpi() {
    if (consoleFont_) {
        DeleteObject(consoleFont_);
    }
    consoleFont_ = CreateFontW(-ScaleForDpi(13, dpi_), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    if (LogMemo) {
        const RECT b = Scaled(kConsoleBounds, dpi_);
        LogMemo->SetBounds(b.left, b.top, b.right - b.left, b.bottom - b.top);
        LogMemo->SetFont(consoleFont_, kFormColor);
    }
}

void TForm1::CreateConsole() {
    LogMemo = show::TTransMemo::Create(hwnd_);
    if (!LogMemo) {
        return;
    }
    LogMemo->SetName(L"LogMemo");
    LogMemo->SetColor(RGB(0, 0, 0));
    LogMemo->SetTransparent(true);
    LogMemo->SetAlignText(show::TAlignment::taLeftJustify);
    LogMemo->SetBorder(false);
    ApplyConsoleDpi();
    LogMemo->Clear();
}

void TForm1::CreateMarquee() {
    HWND hwnd = hwnd_;
    MarqueeThread = new show::TItoolsThread(
        [hwnd](const std::function<void()>& update) { Synchronize(hwnd, update); },
        [](std::uint32_t ms) { ::Sleep(ms); });
    MarqueeThread->Lbl = [this](const std::u16string& text) { SetControlCaption(kLabel2, text); };
    MarqueeThread->TransMemo = LogMemo;
}

void TForm1::StartMarquee() {
    if (MarqueeThread) {
        MarqueeThread->Start();
    }
}

void TForm1::PauseMarquee() {
    if (MarqueeThread) {
        MarqueeThread->Pause();
    }
}

void TForm1::AppendLog(const std::u16string& line) {
    app::AppendLog(line);
}

void TForm1::ClearLog() {
    if (LogMemo) {
        LogMemo->Clear();
    }
}

void TForm1::ReplaceLine(int index, const std::u16string& text) {
    if (LogMemo) {
        LogMemo->ReplaceLine(index, text);
    }
}

void TForm1::HideConsoleCaret() {
    if (LogMemo) {
        LogMemo->HideCaret();
    }
}

void TForm1::ShowSignature() {
    SetControlVisible(kSLabelFX1, true);
}

void TForm1::ShowRabbit() {
    SetControlVisible(kRabbit, true);
}

void TForm1::SetIntroTicks(std::int32_t value) {
    rain_.IntroTicks = value;
}

void TForm1::ProcessMessages() {
    app::ProcessMessages();
}

bool TForm1::ClosingRequested() const {
    return WindowClosing != 0;
}

void TForm1::EndProgram() {
    ReleaseWindowDC();
    ExitProcess(0);
}

void TForm1::Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

bool TForm1::WindowClosed() const {
    return WindowClosing != 0;
}

// --- Window procedure -----------------------------------------------------------------

LRESULT CALLBACK TForm1::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    TForm1* self = reinterpret_cast<TForm1*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
        g_mainWindow = hwnd;
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
    } catch (const patch::PatchError& e) {
        ShowException(hwnd, e.Text());
    } catch (const std::exception& e) {
        ShowException(hwnd, platform::Utf16(e.what()));
    }
    return 0;
}

LRESULT TForm1::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(hwnd_, &r);
        FillRect(reinterpret_cast<HDC>(wp), &r, ClientBrush());
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        PaintControls(dc);
        EndPaint(hwnd_, &ps);
        return 0;
    }
    case WM_PAINTCONTROLS:
        PaintControls(reinterpret_cast<HDC>(wp));
        return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        if (LogMemo && reinterpret_cast<HWND>(lp) == LogMemo->Handle()) {
            return LogMemo->CtlColor(reinterpret_cast<HDC>(wp));
        }
        break;
    case WM_COMMAND:
        if (LogMemo && reinterpret_cast<HWND>(lp) == LogMemo->Handle() && HIWORD(wp) == EN_CHANGE) {
            LogMemo->Change();
            return 0;
        }
        break;
    case WM_SYNCHRONIZE:
        RunSynchronized(*reinterpret_cast<const SynchronizeJob*>(lp));
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(formFont_);
    case WM_TIMER:
        if (wp == kTimer1) {
            Timer1Timer();
        }
        return 0;
    case WM_ACTIVATEAPP:
        appJustActivated_ = wp != 0;
        break;
    case WM_ACTIVATE:
        if (LOWORD(wp) != WA_INACTIVE && !HIWORD(wp)) {
            // The form's activation event: at start and when focus comes back from another
            // window of the program, not when the user switches back from another program.
            // The window that gave up the focus tells best; the application's activation
            // decides when it is unknown.
            DWORD from = 0;
            if (lp) {
                GetWindowThreadProcessId(reinterpret_cast<HWND>(lp), &from);
            }
            const bool fromOwnWindow = from == GetCurrentProcessId();
            if (!activatedBefore_ || fromOwnWindow || !appJustActivated_) {
                activatedBefore_ = true;
                FormActivate();
            }
        }
        appJustActivated_ = false;
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
        return 0;
    case WM_MOUSELEAVE:
        OnMouseLeave();
        return 0;
    case WM_LBUTTONDOWN:
        pressedControl_ = ControlAt(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
        SetCapture(hwnd_);
        return 0;
    case WM_LBUTTONUP: {
        const int pressed = pressedControl_;
        pressedControl_ = -1;
        if (GetCapture() == hwnd_) {
            ReleaseCapture();
        }
        if (pressed >= 0 && ControlAt(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)}) == pressed) {
            if (pressed == kRabbit) {
                RabbitClick();
            } else if (pressed == kSLabelFX1) {
                sLabelFX1Click();
            }
        }
        return 0;
    }
    case WM_CLOSE:
        // Closing the main window ends the application; the window itself goes at the end.
        FormClose();
        PostQuitMessage(0);
        return 0;
    case WM_DPICHANGED: {
        ApplyDpi(HIWORD(wp));
        const RECT* suggested = reinterpret_cast<const RECT*>(lp);
        const SIZE outer = sSkinProvider1.WindowSizeFor(
            SIZE{ScaleForDpi(kClientWidth, dpi_), ScaleForDpi(kClientHeight, dpi_)});
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, outer.cx, outer.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
        return 0;
    }
    case WM_DESTROY:
        if (g_mainWindow == hwnd_) {
            g_mainWindow = nullptr;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

} // namespace app
