// Windows path texts taken apart: folder, file name, extension.
#include "platform/path.h"

namespace platform {

namespace {
// Index just past the last backslash or drive colon, 0 if there is none.
size_t NameStart(std::u16string_view path) {
    size_t i = path.find_last_of(u"\\:");
    return i == std::u16string_view::npos ? 0 : i + 1;
}
} // namespace

std::u16string ExtractFilePath(std::u16string_view path) {
    return std::u16string(path.substr(0, NameStart(path)));
}

std::u16string ExtractFileDir(std::u16string_view path) {
    size_t end = NameStart(path);
    // Drop the separator unless it is a backslash right after a drive colon, or the colon itself.
    if (end > 0 && path[end - 1] == u'\\' && !(end >= 2 && path[end - 2] == u':') && end > 1) {
        --end;
    }
    return std::u16string(path.substr(0, end));
}

std::u16string ExtractFileName(std::u16string_view path) {
    return std::u16string(path.substr(NameStart(path)));
}

std::u16string FileNameWithoutExtension(std::u16string_view path) {
    std::u16string name = ExtractFileName(path);
    size_t dot = name.find_last_of(u'.');
    if (dot != std::u16string::npos) {
        name.resize(dot);
    }
    return name;
}

} // namespace platform
