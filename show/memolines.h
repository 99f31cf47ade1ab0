// The console's line list over its text. Lines are the text's CR LF separated lines, and
// every added line ends with CR LF, as a memo adds them. Lines are addressed as they are in
// the text, not as the control wraps them on screen, so a long line that wraps can never make
// a replacement land in the middle of another line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace show {

struct TextRange {
    std::size_t start = 0;
    std::size_t length = 0;
};

// Number of lines; a last empty line (after the final CR LF) does not count.
std::size_t MemoLineCount(std::u16string_view text);
// Where the text of line i lies; none if there is no line i (the empty place after a final
// CR LF counts as line MemoLineCount(text), so it can be filled).
std::optional<TextRange> MemoLineRange(std::u16string_view text, std::size_t index);
// The replacement that appends a line: the range to replace and the text to put there.
std::pair<TextRange, std::u16string> MemoAppend(std::u16string_view text, std::u16string_view line);

// The same operations applied to a plain string (the native stand-in for the control).
void MemoAppendLine(std::u16string& text, std::u16string_view line);
bool MemoReplaceLine(std::u16string& text, std::size_t index, std::u16string_view line);

} // namespace show
