#include "app/appcore.h"

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

int ScaleForDpi(int pixels96, int dpi) {
    // Rounded like MulDiv: half away from zero.
    const long long p = static_cast<long long>(pixels96) * dpi;
    return static_cast<int>(p >= 0 ? (p + 48) / 96 : (p - 48) / 96);
}

} // namespace app
