#include "app/unit1.h"

namespace app {

void ProgramState::AppendLog(const std::u16string& line) {
    if (LogMemo) {
        LogMemo->AppendLine(line);
    }
}

void ProgramState::ClearLog() {
    if (LogMemo) {
        LogMemo->Clear();
    }
}

void ProgramState::ReplaceLine(int index, const std::u16string& text) {
    if (LogMemo) {
        LogMemo->ReplaceLine(index, text);
    }
}

void ProgramState::HideConsoleCaret() {
    if (LogMemo) {
        LogMemo->HideCaret();
    }
}

} // namespace app
