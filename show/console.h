// The console LogMemo as the intro and the patch run write to it: lines appended, cleared,
// replaced by index, and its caret kept hidden. Nothing happens before the console exists.
#pragma once

#include <string>

namespace show {

class Console {
public:
    virtual ~Console() = default;
    // Appends one line.
    virtual void AppendLog(const std::u16string& line) = 0;
    // Clears all text.
    virtual void ClearLog() = 0;
    // Replaces line `index`; a line that does not exist leaves the text as it is.
    virtual void ReplaceLine(int index, const std::u16string& text) = 0;
    virtual void HideCaret() = 0;
};

} // namespace show
