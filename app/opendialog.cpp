// The open-file dialog OpenDialog1 through the common dialog.
#include "app/opendialog.h"

#include <commdlg.h>

#include <vector>

namespace app {

namespace {
// Room for a long path typed by the user.
constexpr DWORD kFileBufferChars = 32768;
} // namespace

bool TOpenDialog::Execute(HWND owner) {
    // "a|b|c|d" becomes "a\0b\0c\0d\0\0".
    std::wstring filter(Filter.begin(), Filter.end());
    for (wchar_t& c : filter) {
        if (c == L'|') {
            c = L'\0';
        }
    }
    filter.append(2, L'\0');
    std::vector<wchar_t> file(kFileBufferChars, L'\0');
    const std::size_t n = std::min<std::size_t>(FileName.size(), kFileBufferChars - 1);
    std::copy(FileName.begin(), FileName.begin() + static_cast<std::ptrdiff_t>(n), file.begin());

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = kFileBufferChars;
    ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
    if (!GetOpenFileNameW(&ofn)) {
        return false;
    }
    FileName.assign(file.data(), file.data() + wcslen(file.data()));
    return true;
}

} // namespace app
