// The main window's rules that need no window.
#include "app/window_rules.h"

#include "platform/path.h"

namespace app {

std::u16string ComposeCaption(std::u16string_view caption, std::u16string_view userName) {
    std::u16string result(caption);
    result += u" для ";
    result += userName;
    return result;
}

std::u16string TargetDirFromExePath(std::u16string_view exePath) {
    return platform::ExtractFilePath(exePath);
}

bool IsRestoreSwitch(std::u16string_view argument) {
    constexpr std::u16string_view kWord = u"restore";
    for (std::u16string_view prefix : {u"/", u"-", u"--"}) {
        if (argument.size() == prefix.size() + kWord.size() && argument.starts_with(prefix)) {
            std::u16string_view word = argument.substr(prefix.size());
            bool same = true;
            for (std::size_t i = 0; i < word.size(); ++i) {
                const char16_t c = word[i];
                same = same && (c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c) == kWord[i];
            }
            if (same) {
                return true;
            }
        }
    }
    return false;
}

int ScaleForDpi(int pixels96, int dpi) {
    // Rounded like MulDiv: half away from zero.
    const long long p = static_cast<long long>(pixels96) * dpi;
    return static_cast<int>(p >= 0 ? (p + 48) / 96 : (p - 48) / 96);
}

} // namespace app
