// uidriver: acts as a user on iTools3-Rus under Wine (or Windows) and reports what it saw.
//
//   uidriver.exe [--out FILE] COMMAND...
//
// Each argument is one command, its words separated by blanks (quote the argument). Every
// command writes one JSON object per line; the first failing command writes {"ok":false,...}
// and ends the driver with exit code 1. Commands:
//
//   start EXE [DIR [ARG...]]   start the program (current folder DIR, command-line arguments
//                              ARG); reports whether it runs elevated and how it was started
//   attach SECONDS             wait for a running program's main window and adopt that program
//   wait-window SECONDS        wait for its main window (class TForm1) to be visible
//   caption                    the main window's caption
//   window                     window and client rectangles, style flags, screen size, DPI
//   controls                   every child control: name, class, text, client rectangle, visible
//   wait-visible NAME SECONDS  wait until a control is visible
//   text NAME                  the text of a control (a windowed one is asked with WM_GETTEXT)
//   wait-lines NAME N SECONDS  wait until a control's text has N lines, report them
//   click NAME                 click the centre of a control
//   click-at X Y               click at a point of the client area
//   hover NAME                 move the pointer over a control
//   hover-at X Y               move the pointer to a point of the client area
//   key KEY...                 type keys into the program's focused control, one after another;
//                              a key is a character or a name (tab, enter, escape, space, end,
//                              home, left, right, up, down, back, delete), with modifiers
//                              joined by '+' (shift+tab, ctrl+end)
//   focus                      the control that has the keyboard focus: name, class, text
//   click-title-button         click the extra caption-bar button
//   click-close                click the caption-bar close button
//   close                      ask the window to close (as Alt+F4 does)
//   msgbox SECONDS             wait for a message box of the program; its caption and text
//   press BUTTON SECONDS       wait for a message box and press its button (e.g. OK)
//   no-msgbox SECONDS          check that no message box appears within the time
//   file-type PATH SECONDS     wait for the open-file dialog, type PATH as file name, confirm
//   file-cancel SECONDS        wait for the open-file dialog and cancel it
//   wait-rain SECONDS          wait until glyphs rain on the client area; time since start
//   capture FILE               save the client area as a 24-bit BMP
//   redraw                     have the whole window repainted (as uncovering it would)
//   wait-exit SECONDS          wait for the program's end: exit code, time since the last close
//   sleep MS
//
// For the patch run (the target's window, the environment of the started program, the rain):
//   top-window CLASS TITLE...            whether a top-level window of that class and title exists
//   wait-top-window SECONDS CLASS TITLE...  wait until it exists
//   close-top-window CLASS TITLE...      ask that window to close
//   env NAME VALUE                       set a variable for programs started afterwards
//   rain-pixels                          the bright green pixels outside the controls now
//   error-text CODE                      the system's text for an error code
#include "platform/gdi_win32.h"
#include "platform/owner_win32.h"
#include "platform/text.h"
#include "tools/report_json.h"

#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kMainClass[] = L"TForm1";
constexpr wchar_t kNameProp[] = L"ComponentName";
constexpr int kFileNameCombo = 0x47C;          // cmb13 of the open-file dialog
constexpr int kFileNameEdit = 0x480;           // edt1
constexpr DWORD kErrorElevationRequired = 740; // CreateProcess of a program that must be elevated

using Clock = std::chrono::steady_clock;

FILE* g_out = stdout;
HANDLE g_process = nullptr;
DWORD g_pid = 0;
HWND g_main = nullptr;
Clock::time_point g_started;
Clock::time_point g_closed;
bool g_closeSent = false;

using report::Json;

// Commands come as UTF-8 words; the Win32 calls take UTF-16.
std::wstring Wide(const std::string& s) {
    return platform::Wide(platform::Utf16(s));
}
std::string Utf8(std::wstring_view w) {
    return platform::Utf8(platform::U(w));
}

// One report line; fields are already JSON ("\"key\":value" pieces).
long long MsSinceStart();

// Every report carries "t", the milliseconds since the program was started or attached.
void Report(const std::string& cmd, bool ok, const std::vector<std::string>& fields) {
    std::string line = "{\"cmd\":" + Json(cmd) + ",\"ok\":" + (ok ? "true" : "false") +
                       ",\"t\":" + std::to_string(MsSinceStart());
    for (const auto& f : fields) {
        line += "," + f;
    }
    line += "}\n";
    std::fputs(line.c_str(), g_out);
    std::fflush(g_out);
}

long long MsSinceStart() {
    return g_process
               ? std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_started)
                     .count()
               : -1;
}

std::string Field(const char* key, const std::string& jsonValue) {
    return Json(key) + ":" + jsonValue;
}
std::string Field(const char* key, long long v) {
    return Json(key) + ":" + std::to_string(v);
}
std::string FieldB(const char* key, bool v) {
    return Json(key) + ":" + (v ? "true" : "false");
}
std::string Rect(const RECT& r) {
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top) + "]";
}

struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) {
    throw Failure{message};
}

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {};
    GetClassNameW(h, buf, 255);
    return buf;
}

std::wstring TextOf(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len)) {
        wchar_t buf[1024] = {};
        GetWindowTextW(h, buf, 1023);
        return buf;
    }
    std::wstring s(len + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(s.data()),
                        SMTO_ABORTIFHUNG, 2000, &got);
    s.resize(got);
    return s;
}

std::wstring NameOf(HWND h) {
    auto atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(GetPropW(h, kNameProp)));
    if (!atom) {
        return {};
    }
    wchar_t buf[256] = {};
    GlobalGetAtomNameW(atom, buf, 255);
    return buf;
}

DWORD PidOf(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

template <typename F> bool WaitFor(double seconds, F ready) {
    const auto end =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    for (;;) {
        if (ready()) {
            return true;
        }
        if (Clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

BOOL CALLBACK FindMainProc(HWND h, LPARAM lp) {
    if (ClassOf(h) == kMainClass && (!g_pid || PidOf(h) == g_pid)) {
        *reinterpret_cast<HWND*>(lp) = h;
        return FALSE;
    }
    return TRUE;
}

HWND FindMain() {
    HWND found = nullptr;
    EnumWindows(&FindMainProc, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND Main() {
    if (!g_main || !IsWindow(g_main)) {
        g_main = FindMain();
    }
    if (!g_main) {
        Fail("the main window does not exist");
    }
    return g_main;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> list;
    for (HWND h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        list.push_back(h);
    }
    return list;
}

std::optional<HWND> ControlByName(const std::wstring& name) {
    for (HWND h : Children(Main())) {
        if (NameOf(h) == name) {
            return h;
        }
    }
    return std::nullopt;
}

HWND Control(const std::wstring& name) {
    auto h = ControlByName(name);
    if (!h) {
        Fail("no control named " + Utf8(name));
    }
    return *h;
}

RECT ClientRectOf(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, Main(), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void SendMouse(DWORD flags) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    SendInput(1, &in, sizeof in);
}

void MovePointer(POINT screen) {
    SetForegroundWindow(Main());
    SetCursorPos(screen.x, screen.y);
    SendMouse(MOUSEEVENTF_MOVE);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
}

void ClickScreen(POINT screen) {
    MovePointer(screen);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    SendMouse(MOUSEEVENTF_LEFTUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
}

void SendKey(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof in);
}

// The virtual key of a key name or a single character; 0 when there is none.
WORD VirtualKey(const std::string& name, bool* shifted) {
    static const struct {
        const char* name;
        WORD vk;
    } named[] = {{"tab", VK_TAB},     {"enter", VK_RETURN}, {"escape", VK_ESCAPE},
                 {"space", VK_SPACE}, {"end", VK_END},      {"home", VK_HOME},
                 {"left", VK_LEFT},   {"right", VK_RIGHT},  {"up", VK_UP},
                 {"down", VK_DOWN},   {"back", VK_BACK},    {"delete", VK_DELETE}};
    *shifted = false;
    for (const auto& k : named) {
        if (name == k.name) {
            return k.vk;
        }
    }
    if (name.size() == 1) {
        const SHORT scan = VkKeyScanW(static_cast<wchar_t>(static_cast<unsigned char>(name[0])));
        if (scan != -1) {
            *shifted = (scan & 0x100) != 0;
            return static_cast<WORD>(scan & 0xFF);
        }
    }
    return 0;
}

// Presses one key with its modifiers ("shift+tab", "ctrl+end", "x") and lets it go again.
void TypeKey(const std::string& spec) {
    std::vector<WORD> modifiers;
    std::string rest = spec;
    for (size_t plus; rest.size() > 1 && (plus = rest.find('+')) != std::string::npos;) {
        const std::string m = rest.substr(0, plus);
        if (m == "shift") {
            modifiers.push_back(VK_SHIFT);
        } else if (m == "ctrl") {
            modifiers.push_back(VK_CONTROL);
        } else if (m == "alt") {
            modifiers.push_back(VK_MENU);
        } else {
            Fail("unknown modifier " + m);
        }
        rest = rest.substr(plus + 1);
    }
    bool shifted = false;
    const WORD vk = VirtualKey(rest, &shifted);
    if (!vk) {
        Fail("unknown key " + rest);
    }
    if (shifted) {
        modifiers.push_back(VK_SHIFT);
    }
    for (WORD m : modifiers) {
        SendKey(m, false);
    }
    SendKey(vk, false);
    SendKey(vk, true);
    for (auto m = modifiers.rbegin(); m != modifiers.rend(); ++m) {
        SendKey(*m, true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

POINT ClientToScreenPt(int x, int y) {
    POINT p{x, y};
    ClientToScreen(Main(), &p);
    return p;
}

// The centre of the caption-bar area that answers the given hit-test code.
POINT FindCaptionPart(LRESULT code) {
    HWND h = Main();
    RECT wr;
    GetWindowRect(h, &wr);
    RECT client;
    GetClientRect(h, &client);
    POINT origin{0, 0};
    ClientToScreen(h, &origin);
    long sumX = 0, sumY = 0, n = 0;
    for (int y = wr.top; y < origin.y; ++y) {
        for (int x = wr.left; x < wr.right; ++x) {
            DWORD_PTR r = 0;
            SendMessageTimeoutW(h, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 1000, &r);
            if (static_cast<LRESULT>(r) == code) {
                sumX += x;
                sumY += y;
                ++n;
            }
        }
    }
    if (!n) {
        Fail("no caption-bar part answers hit-test code " + std::to_string(code));
    }
    return POINT{static_cast<LONG>(sumX / n), static_cast<LONG>(sumY / n)};
}

struct Dialog {
    HWND hwnd = nullptr;
    bool fileDialog = false;
};

BOOL CALLBACK DialogsProc(HWND h, LPARAM lp) {
    if (ClassOf(h) == L"#32770" && IsWindowVisible(h) && (!g_pid || PidOf(h) == g_pid)) {
        Dialog d{h, false};
        d.fileDialog = GetDlgItem(h, kFileNameCombo) || GetDlgItem(h, kFileNameEdit);
        reinterpret_cast<std::vector<Dialog>*>(lp)->push_back(d);
    }
    return TRUE;
}

std::vector<Dialog> Dialogs() {
    std::vector<Dialog> list;
    EnumWindows(&DialogsProc, reinterpret_cast<LPARAM>(&list));
    return list;
}

std::optional<Dialog> WaitDialog(double seconds, bool fileDialog) {
    std::optional<Dialog> found;
    WaitFor(seconds, [&] {
        for (const Dialog& d : Dialogs()) {
            if (d.fileDialog == fileDialog) {
                found = d;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::wstring MessageText(HWND box) {
    std::wstring text;
    for (HWND h = GetWindow(box, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassOf(h).c_str(), L"Static") == 0) {
            std::wstring t = TextOf(h);
            if (t.size() > text.size()) {
                text = t;
            }
        }
    }
    return text;
}

std::vector<std::string> Words(const std::string& command) {
    // Words split on blanks; the last word of text-taking commands keeps its blanks.
    std::vector<std::string> words;
    std::istringstream in(command);
    std::string w;
    while (in >> w) {
        words.push_back(w);
    }
    return words;
}

double Seconds(const std::vector<std::string>& w, size_t i, double fallback) {
    return i < w.size() ? std::atof(w[i].c_str()) : fallback;
}

std::string Lines(const std::wstring& text, int* count) {
    std::string out = "[";
    std::wstring line;
    int n = 0;
    auto flush = [&] {
        out += (n ? "," : "") + Json(line);
        ++n;
        line.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            flush();
            ++i;
        } else {
            line += text[i];
        }
    }
    if (!line.empty()) {
        flush();
    }
    *count = n;
    return out + "]";
}

bool SaveClientBmp(const std::string& path) {
    HWND h = Main();
    RECT client;
    GetClientRect(h, &client);
    POINT origin{0, 0};
    ClientToScreen(h, &origin);
    const int w = client.right, hgt = client.bottom;
    const platform::WindowDc screen = platform::ClientDc(nullptr);
    // A bottom-up 24-bit DIB: its pixels are the BMP file's, as they are.
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = hgt;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    platform::SelectedBitmap copy;
    if (!copy.Adopt(CreateDIBSection(screen.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0))) {
        return false;
    }
    BitBlt(copy.Dc(), 0, 0, w, hgt, screen.Get(), origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((w * 3 + 3) / 4) * 4;
    const DWORD size = stride * hgt;
    BITMAPFILEHEADER fh{0x4D42, 54 + size, 0, 0, 54};
    FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr;
    if (f) {
        ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 && std::fwrite(&bi.bmiHeader, 40, 1, f) == 1 &&
             std::fwrite(bits, size, 1, f) == 1;
        std::fclose(f);
    }
    return ok;
}

// Bright green glyph pixels in the client area outside the drawn controls.
int RainPixels() {
    HWND h = Main();
    RECT client;
    GetClientRect(h, &client);
    POINT origin{0, 0};
    ClientToScreen(h, &origin);
    std::vector<RECT> controls;
    for (HWND c : Children(h)) {
        if (IsWindowVisible(c)) {
            controls.push_back(ClientRectOf(c));
        }
    }
    const platform::WindowDc screen = platform::ClientDc(nullptr);
    void* bits = nullptr;
    platform::SelectedBitmap copy;
    if (!copy.Adopt(platform::CreateDib32(client.right, client.bottom, &bits))) {
        return 0;
    }
    BitBlt(copy.Dc(), 0, 0, client.right, client.bottom, screen.Get(), origin.x, origin.y, SRCCOPY);
    GdiFlush();
    int count = 0;
    const auto* px = static_cast<const DWORD*>(bits);
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            bool inControl = false;
            for (const RECT& r : controls) {
                if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) {
                    inControl = true;
                    break;
                }
            }
            const DWORD p = px[static_cast<size_t>(y) * client.right + x];
            const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            if (!inControl && g >= 90 && r < 40 && b < 40) {
                ++count;
            }
        }
    }
    return count;
}

// "true" or "false" from the process's token; "null" when the token cannot be read.
std::string Elevation(HANDLE process) {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &opened)) {
        return "null";
    }
    const platform::KernelHandle token(opened);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool ok =
        GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size);
    return ok ? (elevation.TokenIsElevated ? "true" : "false") : "null";
}

long long Ms(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// --- Commands: one handler each; `w` holds the command's words, the command itself first.

using Args = std::vector<std::string>;

namespace command {

void Start(const Args& w) {
    if (w.size() < 2) {
        Fail("start needs a program");
    }
    std::wstring exe = Wide(w[1]);
    std::wstring dir = w.size() > 2 ? Wide(w[2]) : L"";
    std::wstring params;
    for (std::size_t i = 3; i < w.size(); ++i) {
        params += (params.empty() ? L"" : L" ") + Wide(w[i]);
    }
    std::wstring cmdline = L"\"" + exe + L"\"" + (params.empty() ? L"" : L" " + params);
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    const char* via = "CreateProcess";
    g_started = Clock::now();
    if (CreateProcessW(exe.c_str(), cmdline.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       dir.empty() ? nullptr : dir.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        g_process = pi.hProcess;
        g_pid = pi.dwProcessId;
    } else if (GetLastError() == kErrorElevationRequired) {
        // A program that asks for an administrator's rights: start it the way a double
        // click does, through the shell, which asks for the consent.
        SHELLEXECUTEINFOW sei{sizeof sei};
        sei.fMask = SEE_MASK_NOCLOSEPROCESS;
        sei.lpVerb = L"runas";
        sei.lpFile = exe.c_str();
        sei.lpParameters = params.empty() ? nullptr : params.c_str();
        sei.lpDirectory = dir.empty() ? nullptr : dir.c_str();
        sei.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&sei) || !sei.hProcess) {
            Fail("cannot start " + w[1] + " through the shell: error " +
                 std::to_string(GetLastError()));
        }
        via = "ShellExecute";
        g_process = sei.hProcess;
        g_pid = GetProcessId(sei.hProcess);
    } else {
        Fail("cannot start " + w[1] + ": error " + std::to_string(GetLastError()));
    }
    g_main = nullptr;
    Report(w[0], true,
           {Field("pid", static_cast<long long>(g_pid)), Field("via", Json(via)),
            Field("elevated", Elevation(g_process))});
}

void Attach(const Args& w) {
    g_pid = 0;
    if (!WaitFor(Seconds(w, 1, 30), [] { return (g_main = FindMain()) != nullptr; })) {
        Fail("no main window to attach to");
    }
    g_pid = PidOf(g_main);
    g_process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, g_pid);
    // Times stay relative to the program's own start.
    g_started = Clock::now();
    FILETIME created, exited, kernel, user, now;
    if (g_process && GetProcessTimes(g_process, &created, &exited, &kernel, &user)) {
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER born{{created.dwLowDateTime, created.dwHighDateTime}};
        ULARGE_INTEGER n{{now.dwLowDateTime, now.dwHighDateTime}};
        if (n.QuadPart > born.QuadPart) {
            g_started -= std::chrono::microseconds((n.QuadPart - born.QuadPart) / 10);
        }
    }
    Report(w[0], true, {Field("pid", static_cast<long long>(g_pid))});
}

void WaitWindow(const Args& w) {
    const bool ok = WaitFor(Seconds(w, 1, 30), [] {
        g_main = FindMain();
        return g_main && IsWindowVisible(g_main);
    });
    if (!ok) {
        Fail("no visible main window");
    }
    Report(w[0], true, {Field("ms_since_start", Ms(Clock::now() - g_started))});
}

void Caption(const Args& w) {
    Report(w[0], true, {Field("caption", Json(TextOf(Main())))});
}

void Window(const Args& w) {
    HWND h = Main();
    RECT wr, cr;
    GetWindowRect(h, &wr);
    GetClientRect(h, &cr);
    POINT origin{0, 0};
    ClientToScreen(h, &origin);
    const LONG style = GetWindowLongW(h, GWL_STYLE);
    using DpiFn = UINT(WINAPI*)(HWND);
    auto dpiFn = reinterpret_cast<DpiFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    Report(
        w[0], true,
        {Field("rect", Rect(wr)),
         Field("client", Rect(RECT{origin.x, origin.y, origin.x + cr.right, origin.y + cr.bottom})),
         FieldB("thickframe", style & WS_THICKFRAME), FieldB("minimizebox", style & WS_MINIMIZEBOX),
         FieldB("maximizebox", style & WS_MAXIMIZEBOX), FieldB("sysmenu", style & WS_SYSMENU),
         FieldB("visible", style & WS_VISIBLE),
         Field("screen", "[" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
                             std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "]"),
         Field("dpi", static_cast<long long>(dpiFn ? dpiFn(h) : 96))});
}

void Controls(const Args& w) {
    std::string list = "[";
    bool first = true;
    for (HWND h : Children(Main())) {
        list += (first ? "" : ",");
        first = false;
        list += "{" + Field("name", Json(NameOf(h))) + "," + Field("class", Json(ClassOf(h))) +
                "," + Field("text", Json(TextOf(h))) + "," + Field("rect", Rect(ClientRectOf(h))) +
                "," + FieldB("visible", IsWindowVisible(h)) + "," +
                Field("id", static_cast<long long>(GetDlgCtrlID(h))) + "}";
    }
    Report(w[0], true, {Field("controls", list + "]")});
}

void WaitVisible(const Args& w) {
    if (w.size() < 2) {
        Fail("wait-visible needs a name");
    }
    const std::wstring name = Wide(w[1]);
    const auto t0 = Clock::now();
    if (!WaitFor(Seconds(w, 2, 30), [&] {
            auto h = ControlByName(name);
            return h && IsWindowVisible(*h);
        })) {
        Fail(w[1] + " did not become visible");
    }
    Report(w[0], true,
           {Field("name", Json(w[1])), Field("waited_ms", Ms(Clock::now() - t0)),
            Field("ms_since_start", Ms(Clock::now() - g_started))});
}

void Text(const Args& w) {
    if (w.size() < 2) {
        Fail("text needs a name");
    }
    HWND h = Control(Wide(w[1]));
    int n = 0;
    const std::wstring text = TextOf(h);
    Report(w[0], true,
           {Field("name", Json(w[1])), Field("text", Json(text)), Field("lines", Lines(text, &n))});
}

void WaitLines(const Args& w) {
    if (w.size() < 3) {
        Fail("wait-lines needs a name and a count");
    }
    const int want = std::atoi(w[2].c_str());
    std::wstring text;
    int n = 0;
    const bool ok = WaitFor(Seconds(w, 3, 30), [&] {
        auto h = ControlByName(Wide(w[1]));
        if (!h) {
            return false;
        }
        text = TextOf(*h);
        Lines(text, &n);
        return n >= want;
    });
    Report(w[0], ok,
           {Field("name", Json(w[1])), Field("text", Json(text)), Field("lines", Lines(text, &n))});
    if (!ok) {
        Fail("fewer lines than expected");
    }
}

// click NAME and hover NAME: the pointer to the centre of a control, with or without a click.
void AtControl(const Args& w, bool click) {
    if (w.size() < 2) {
        Fail(w[0] + " needs a name");
    }
    HWND h = Control(Wide(w[1]));
    RECT r = ClientRectOf(h);
    POINT p = ClientToScreenPt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    if (click) {
        ClickScreen(p);
    } else {
        MovePointer(p);
    }
    Report(w[0], true,
           {Field("name", Json(w[1])),
            Field("at", "[" + std::to_string(p.x) + "," + std::to_string(p.y) + "]")});
}

// click-at X Y and hover-at X Y.
void AtPoint(const Args& w, bool click) {
    if (w.size() < 3) {
        Fail(w[0] + " needs x and y");
    }
    POINT p = ClientToScreenPt(std::atoi(w[1].c_str()), std::atoi(w[2].c_str()));
    if (click) {
        ClickScreen(p);
    } else {
        MovePointer(p);
    }
    Report(w[0], true, {});
}

void Key(const Args& w) {
    if (w.size() < 2) {
        Fail("key needs a key");
    }
    SetForegroundWindow(Main());
    for (size_t i = 1; i < w.size(); ++i) {
        TypeKey(w[i]);
    }
    Report(w[0], true, {});
}

void Focus(const Args& w) {
    GUITHREADINFO info{sizeof info};
    const DWORD thread = GetWindowThreadProcessId(Main(), nullptr);
    if (!GetGUIThreadInfo(thread, &info)) {
        Fail("cannot read the program's focus");
    }
    HWND f = info.hwndFocus;
    Report(w[0], true,
           {Field("name", Json(f ? NameOf(f) : std::wstring())),
            Field("class", Json(f ? ClassOf(f) : std::wstring())), FieldB("main", f == Main()),
            Field("text", Json(f ? TextOf(f) : std::wstring()))});
}

void ClickTitleButton(const Args& w) {
    ClickScreen(FindCaptionPart(HTHELP));
    Report(w[0], true, {});
}

void ClickClose(const Args& w) {
    ClickScreen(FindCaptionPart(HTCLOSE));
    g_closed = Clock::now();
    g_closeSent = true;
    Report(w[0], true, {});
}

void Close(const Args& w) {
    PostMessageW(Main(), WM_SYSCOMMAND, SC_CLOSE, 0);
    g_closed = Clock::now();
    g_closeSent = true;
    Report(w[0], true, {});
}

// The button of a message box whose text is `button` (without its '&'); null if none.
HWND MessageBoxButton(HWND box, const std::wstring& button) {
    HWND target = nullptr;
    for (HWND h = GetWindow(box, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        std::wstring t = TextOf(h);
        std::wstring plain;
        for (wchar_t ch : t) {
            if (ch != L'&') {
                plain += ch;
            }
        }
        if (_wcsicmp(ClassOf(h).c_str(), L"Button") == 0 &&
            _wcsicmp(plain.c_str(), button.c_str()) == 0) {
            target = h;
        }
    }
    return target;
}

// msgbox SECONDS reads a message box; press BUTTON SECONDS also presses one of its buttons.
void Msgbox(const Args& w, bool press) {
    const double secs = Seconds(w, press ? 2 : 1, 10);
    auto d = WaitDialog(secs, false);
    if (!d) {
        Fail("no message box appeared");
    }
    const std::wstring caption = TextOf(d->hwnd), text = MessageText(d->hwnd);
    std::vector<std::string> fields{Field("caption", Json(caption)), Field("text", Json(text))};
    if (press) {
        const std::wstring button = w.size() > 1 ? Wide(w[1]) : L"OK";
        HWND target = MessageBoxButton(d->hwnd, button);
        if (!target) {
            Fail("the message box has no button " + Utf8(button));
        }
        PostMessageW(d->hwnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(target), BN_CLICKED),
                     reinterpret_cast<LPARAM>(target));
        WaitFor(5, [&] { return !IsWindow(d->hwnd) || !IsWindowVisible(d->hwnd); });
        fields.push_back(Field("pressed", Json(button)));
    }
    Report(w[0], true, fields);
}

void NoMessageBox(const Args& w) {
    auto d = WaitDialog(Seconds(w, 1, 2), false);
    if (d) {
        Report(
            w[0], false,
            {Field("caption", Json(TextOf(d->hwnd))), Field("text", Json(MessageText(d->hwnd)))});
        Fail("a message box appeared");
    }
    Report(w[0], true, {});
}

// The file name box of the open-file dialog; null if it has none.
HWND FileNameBox(HWND dialog) {
    HWND edit = GetDlgItem(dialog, kFileNameEdit);
    if (!edit) {
        HWND combo = GetDlgItem(dialog, kFileNameCombo);
        edit = combo ? FindWindowExW(combo, nullptr, L"Edit", nullptr) : nullptr;
        if (!edit) {
            edit = combo;
        }
    }
    return edit;
}

// file-type PATH SECONDS confirms the open-file dialog with a file name; file-cancel SECONDS
// cancels it.
void FileDialog(const Args& w, bool type) {
    auto d = WaitDialog(Seconds(w, type ? 2 : 1, 10), true);
    if (!d) {
        Fail("no open-file dialog appeared");
    }
    const std::wstring caption = TextOf(d->hwnd);
    std::wstring shown;
    HWND edit = FileNameBox(d->hwnd);
    if (edit) {
        shown = TextOf(edit);
    }
    if (type) {
        if (!edit) {
            Fail("the open-file dialog has no file name box");
        }
        const std::wstring path = Wide(w[1]);
        SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                            SMTO_ABORTIFHUNG, 2000, nullptr);
        PostMessageW(d->hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(d->hwnd, IDOK)));
    } else {
        PostMessageW(d->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(d->hwnd, IDCANCEL)));
    }
    WaitFor(5, [&] { return !IsWindow(d->hwnd) || !IsWindowVisible(d->hwnd); });
    Report(w[0], true, {Field("caption", Json(caption)), Field("file_name_shown", Json(shown))});
}

void WaitRain(const Args& w) {
    int pixels = 0;
    if (!WaitFor(Seconds(w, 1, 30), [&] {
            pixels = RainPixels();
            return pixels > 0;
        })) {
        Fail("no rain on the window");
    }
    Report(w[0], true,
           {Field("ms_since_start", Ms(Clock::now() - g_started)), Field("pixels", pixels)});
}

void Redraw(const Args& w) {
    RedrawWindow(Main(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Report(w[0], true, {});
}

void Capture(const Args& w) {
    if (w.size() < 2 || !SaveClientBmp(w[1])) {
        Fail("cannot capture the client area");
    }
    Report(w[0], true, {Field("file", Json(w[1]))});
}

void WaitExit(const Args& w) {
    if (!g_process) {
        Fail("no program was started");
    }
    if (WaitForSingleObject(g_process, static_cast<DWORD>(Seconds(w, 1, 10) * 1000)) !=
        WAIT_OBJECT_0) {
        Fail("the program did not end");
    }
    const auto ended = Clock::now();
    DWORD code = 0;
    GetExitCodeProcess(g_process, &code);
    std::vector<std::string> fields{Field("exit_code", static_cast<long long>(code))};
    if (g_closeSent) {
        fields.push_back(Field("ms_since_close", Ms(ended - g_closed)));
    }
    Report(w[0], true, fields);
}

enum class TopWindowAction { Tell, WaitFor, Close };

// top-window, wait-top-window and close-top-window: the target's window by class and title.
void TopWindow(const Args& w, TopWindowAction action) {
    // The title is the rest of the command: it may hold blanks.
    const size_t first = action == TopWindowAction::WaitFor ? 2 : 1;
    if (w.size() < first + 2) {
        Fail(w[0] + " needs a class and a title");
    }
    const std::wstring cls = Wide(w[first]);
    std::string title = w[first + 1];
    for (size_t i = first + 2; i < w.size(); ++i) {
        title += " " + w[i];
    }
    const std::wstring wtitle = Wide(title);
    HWND found = FindWindowW(cls.c_str(), wtitle.c_str());
    if (action == TopWindowAction::WaitFor && !WaitFor(Seconds(w, 1, 30), [&] {
            return (found = FindWindowW(cls.c_str(), wtitle.c_str())) != nullptr;
        })) {
        Fail("no window of class " + w[first] + " titled " + title);
    }
    if (action == TopWindowAction::Close) {
        if (!found) {
            Fail("no window of class " + w[first] + " titled " + title);
        }
        PostMessageW(found, WM_CLOSE, 0, 0);
    }
    Report(w[0], true, {FieldB("exists", found != nullptr)});
}

void Env(const Args& w) {
    if (w.size() < 2) {
        Fail("env needs a name");
    }
    const std::wstring value = w.size() > 2 ? Wide(w[2]) : L"";
    SetEnvironmentVariableW(Wide(w[1]).c_str(), w.size() > 2 ? value.c_str() : nullptr);
    Report(w[0], true, {Field("name", Json(w[1])), Field("value", Json(value))});
}

void ErrorText(const Args& w) {
    if (w.size() < 2) {
        Fail("error-text needs a code");
    }
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(std::strtoul(w[1].c_str(), nullptr, 10)), 0,
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const std::wstring text = n && buffer ? std::wstring(buffer, n) : L"";
    LocalFree(buffer);
    Report(w[0], true, {Field("code", Json(w[1])), Field("text", Json(text))});
}

void RainPixelsNow(const Args& w) {
    Report(w[0], true, {Field("pixels", RainPixels())});
}

void SleepFor(const Args& w) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(w.size() > 1 ? std::atoi(w[1].c_str()) : 100));
    Report(w[0], true, {});
}

} // namespace command

struct CommandHandler {
    const char* name;
    void (*run)(const Args& words);
};

// Every command of the driver and its handler (the list at the top of this file says what
// each does).
constexpr CommandHandler kCommands[] = {
    {"start", command::Start},
    {"attach", command::Attach},
    {"wait-window", command::WaitWindow},
    {"caption", command::Caption},
    {"window", command::Window},
    {"controls", command::Controls},
    {"wait-visible", command::WaitVisible},
    {"text", command::Text},
    {"wait-lines", command::WaitLines},
    {"click", [](const Args& w) { command::AtControl(w, true); }},
    {"hover", [](const Args& w) { command::AtControl(w, false); }},
    {"click-at", [](const Args& w) { command::AtPoint(w, true); }},
    {"hover-at", [](const Args& w) { command::AtPoint(w, false); }},
    {"key", command::Key},
    {"focus", command::Focus},
    {"click-title-button", command::ClickTitleButton},
    {"click-close", command::ClickClose},
    {"close", command::Close},
    {"msgbox", [](const Args& w) { command::Msgbox(w, false); }},
    {"press", [](const Args& w) { command::Msgbox(w, true); }},
    {"no-msgbox", command::NoMessageBox},
    {"file-type", [](const Args& w) { command::FileDialog(w, true); }},
    {"file-cancel", [](const Args& w) { command::FileDialog(w, false); }},
    {"wait-rain", command::WaitRain},
    {"redraw", command::Redraw},
    {"capture", command::Capture},
    {"wait-exit", command::WaitExit},
    {"top-window", [](const Args& w) { command::TopWindow(w, command::TopWindowAction::Tell); }},
    {"wait-top-window",
     [](const Args& w) { command::TopWindow(w, command::TopWindowAction::WaitFor); }},
    {"close-top-window",
     [](const Args& w) { command::TopWindow(w, command::TopWindowAction::Close); }},
    {"env", command::Env},
    {"error-text", command::ErrorText},
    {"rain-pixels", command::RainPixelsNow},
    {"sleep", command::SleepFor},
};

void Run(const std::string& command) {
    const std::vector<std::string> w = Words(command);
    if (w.empty()) {
        return;
    }
    for (const CommandHandler& handler : kCommands) {
        if (w[0] == handler.name) {
            handler.run(w);
            return;
        }
    }
    Fail("unknown command " + w[0]);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    if (argc > 2 && std::wstring(argv[1]) == L"--out") {
        g_out = _wfopen(argv[2], L"w");
        if (!g_out) {
            std::fprintf(stderr, "cannot write %ls\n", argv[2]);
            return 2;
        }
        i = 3;
    }
    for (; i < argc; ++i) {
        const std::string command = Utf8(argv[i]);
        try {
            Run(command);
        } catch (const Failure& f) {
            Report(Words(command).empty() ? "" : Words(command)[0], false,
                   {Field("error", Json(f.message)), Field("command", Json(command))});
            return 1;
        }
    }
    return 0;
}
