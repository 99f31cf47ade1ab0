// The stand-in for the target iTools 3: a small program that loads its resource pack at start
// exactly the way the patch run expects of the real one. It opens the pack named by the
// UTF-16 text "res_cn.data" in its own folder, reads the pack's string table and shows three
// of its strings in a window of class "CHWindow" titled "iTools 3", with its group icon "106".
//
//   iTools.exe                       the window (closes like any window)
//   iTools.exe --report FILE         writes what it loaded as JSON to FILE and ends
//   iTools.exe --exit-after MS       the window, closed by itself after MS milliseconds
#include "tests/standin/pack.h"
#include "tools/report_json.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The pack's file name. The patch run rewrites this text inside the executable.
const wchar_t kPackName[] = L"res_cn.data";
const char* const kShownKeys[] = {"Home_Welcome", "Home_ConnectDevice", "Main_Button_Backup"};
constexpr wchar_t kWindowClass[] = L"CHWindow";
constexpr wchar_t kWindowTitle[] = L"iTools 3";
constexpr WORD kIconLanguage = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
const wchar_t kIconGroup[] = L"106";
constexpr UINT_PTR kExitTimer = 1;

struct Loaded {
    std::wstring packPath;
    bool packOpened = false;
    std::string error;
    std::vector<std::u16string> strings; // one per shown key, empty when missing
};

struct IconImage {
    int width = 0, height = 0, id = 0;
    DWORD bytes = 0;
};

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring s(path, n);
    const auto slash = s.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : s.substr(0, slash + 1);
}

bool ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart < 0x40000000;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD got = 0;
        ok = bytes.empty() ||
             (ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
              got == bytes.size());
    }
    CloseHandle(f);
    return ok;
}

Loaded LoadPack() {
    Loaded l;
    l.packPath = OwnFolder() + kPackName;
    l.strings.resize(std::size(kShownKeys));
    std::vector<std::uint8_t> zip;
    if (!ReadWholeFile(l.packPath, zip)) {
        l.error = "cannot open the resource pack";
        return l;
    }
    l.packOpened = true;
    const binary::Expected<std::vector<standin::ZipEntry>> entries = standin::ReadZipDirectory(zip);
    if (!entries) {
        l.error = entries.error().Text();
        return l;
    }
    for (const auto& e : *entries) {
        if (e.name != "iTools_string_cn.json") {
            continue;
        }
        const binary::Expected<std::vector<std::uint8_t>> json = standin::ReadZipEntry(zip, e);
        if (!json) {
            l.error = json.error().Text();
            return l;
        }
        const binary::Expected<standin::StringTable> table = standin::ParseStringTable(*json);
        if (!table) {
            l.error = table.error().Text();
            return l;
        }
        for (std::size_t i = 0; i < std::size(kShownKeys); ++i) {
            auto it = table->find(kShownKeys[i]);
            if (it != table->end()) {
                l.strings[i] = it->second;
            }
        }
        return l;
    }
    l.error = "the pack has no string table";
    return l;
}

// The images of the group icon "106" (language 2052) as the loader finds them.
std::vector<IconImage> IconImages() {
    std::vector<IconImage> images;
    HRSRC group = FindResourceExW(nullptr, RT_GROUP_ICON, kIconGroup, kIconLanguage);
    const auto* record =
        group ? static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, group)))
              : nullptr;
    const DWORD size = group ? SizeofResource(nullptr, group) : 0;
    if (!record || size < 6) {
        return images;
    }
    const unsigned count = record[4] | record[5] << 8;
    for (unsigned i = 0; i < count && 6 + 14 * (i + 1) <= size; ++i) {
        const std::uint8_t* e = record + 6 + 14 * i;
        IconImage im;
        im.width = e[0] ? e[0] : 256;
        im.height = e[1] ? e[1] : 256;
        im.id = e[12] | e[13] << 8;
        HRSRC icon = FindResourceExW(nullptr, RT_ICON, MAKEINTRESOURCEW(im.id), kIconLanguage);
        im.bytes = icon ? SizeofResource(nullptr, icon) : 0;
        images.push_back(im);
    }
    return images;
}

using report::Json;

std::string Utf8(const std::u16string& s) {
    return report::Utf8({reinterpret_cast<const wchar_t*>(s.data()), s.size()});
}

int Report(const wchar_t* file) {
    const Loaded l = LoadPack();
    std::string out = "{\"pack\":" + Json(l.packPath) +
                      ",\"pack_opened\":" + (l.packOpened ? "true" : "false") +
                      ",\"error\":" + Json(l.error) + ",\"strings\":{";
    for (std::size_t i = 0; i < std::size(kShownKeys); ++i) {
        out += (i ? "," : "") + Json(kShownKeys[i]) + ":" + Json(Utf8(l.strings[i]));
    }
    out += "},\"shown\":" + Json(Utf8(l.strings[0])) + ",\"icon\":[";
    const auto images = IconImages();
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IconImage& im = images[i];
        out += (i ? "," : "") + std::string("{\"width\":") + std::to_string(im.width) +
               ",\"height\":" + std::to_string(im.height) + ",\"id\":" + std::to_string(im.id) +
               ",\"bytes\":" + std::to_string(im.bytes) + "}";
    }
    out += "]}\n";
    FILE* f = _wfopen(file, L"wb");
    if (!f) {
        return 2;
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok ? 0 : 2;
}

Loaded g_loaded;

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        InflateRect(&r, -16, -16);
        std::wstring text;
        if (!g_loaded.error.empty()) {
            text = L"Resource pack: " + g_loaded.packPath + L"\n" +
                   std::wstring(g_loaded.error.begin(), g_loaded.error.end());
        }
        for (const auto& s : g_loaded.strings) {
            text += std::wstring(s.begin(), s.end()) + L"\n";
        }
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                  DT_LEFT | DT_TOP | DT_NOPREFIX);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_TIMER:
        if (wp == kExitTimer) {
            DestroyWindow(hwnd);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    UINT exitAfter = 0;
    for (int i = 1; argv && i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], L"--report") == 0) {
            return Report(argv[i + 1]);
        }
        if (std::wcscmp(argv[i], L"--exit-after") == 0) {
            exitAfter = static_cast<UINT>(_wtoi(argv[i + 1]));
        }
    }
    g_loaded = LoadPack();

    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon =
        static_cast<HICON>(LoadImageW(instance, kIconGroup, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);
    HWND hwnd = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 480, 240, nullptr, nullptr, instance, nullptr);
    if (!hwnd) {
        return 1;
    }
    if (exitAfter) {
        SetTimer(hwnd, kExitTimer, exitAfter, nullptr);
    }
    ShowWindow(hwnd, show);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}
