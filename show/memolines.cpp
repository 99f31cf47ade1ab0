// The console's line list over its text: appending, counting and replacing lines.
#include "show/memolines.h"

namespace show {

namespace {
constexpr std::u16string_view kLineBreak = u"\r\n";

// Start of line i, or npos.
std::size_t LineStart(std::u16string_view text, std::size_t index) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < index; ++i) {
        const std::size_t br = text.find(kLineBreak, pos);
        if (br == std::u16string_view::npos) {
            return std::u16string_view::npos;
        }
        pos = br + kLineBreak.size();
    }
    return pos;
}
} // namespace

std::size_t MemoLineCount(std::u16string_view text) {
    std::size_t lines = 1, pos = 0;
    while ((pos = text.find(kLineBreak, pos)) != std::u16string_view::npos) {
        ++lines;
        pos += kLineBreak.size();
    }
    // The place after a final line break holds no line of its own until something fills it.
    const std::size_t lastStart = LineStart(text, lines - 1);
    if (lastStart == text.size()) {
        --lines;
    }
    return lines;
}

std::optional<TextRange> MemoLineRange(std::u16string_view text, std::size_t index) {
    const std::size_t start = LineStart(text, index);
    if (start == std::u16string_view::npos) {
        return std::nullopt;
    }
    std::size_t end = text.find(kLineBreak, start);
    if (end == std::u16string_view::npos) {
        end = text.size();
    }
    return TextRange{start, end - start};
}

std::pair<TextRange, std::u16string> MemoAppend(std::u16string_view text,
                                                std::u16string_view line) {
    const std::size_t count = MemoLineCount(text);
    const std::size_t start = LineStart(text, count);
    if (start != std::u16string_view::npos) {
        return {TextRange{start, 0}, std::u16string(line) + std::u16string(kLineBreak)};
    }
    // The last line is not closed by a line break yet: close it, then add the new line.
    return {TextRange{text.size(), 0}, std::u16string(kLineBreak) + std::u16string(line)};
}

void MemoAppendLine(std::u16string& text, std::u16string_view line) {
    auto [range, insert] = MemoAppend(text, line);
    text.replace(range.start, range.length, insert);
}

bool MemoReplaceLine(std::u16string& text, std::size_t index, std::u16string_view line) {
    auto range = MemoLineRange(text, index);
    if (!range) {
        return false;
    }
    text.replace(range->start, range->length, line);
    return true;
}

} // namespace show
