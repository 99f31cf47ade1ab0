// The main window as the console: LogMemo created at the intro start, and its lines.
#include "app/form1.h"

#include "show/transmemo_win32.h"

namespace app {

void TForm1::CreateConsole() {
    state_.LogMemo.reset(show::TTransMemo::Create(hwnd_));
    show::TTransMemo* memo = state_.LogMemo.get();
    if (!memo) {
        return;
    }
    memo->SetName(L"LogMemo");
    memo->SetColor(RGB(0, 0, 0));
    memo->SetTransparent(true);
    memo->SetAlignText(show::TAlignment::taLeftJustify);
    memo->SetBorder(false);
    ApplyConsoleDpi();
    memo->Clear();
}

void TForm1::AppendLog(const std::u16string& line) {
    if (state_.LogMemo) {
        state_.LogMemo->AppendLine(line);
    }
}

void TForm1::ClearLog() {
    if (state_.LogMemo) {
        state_.LogMemo->Clear();
    }
}

void TForm1::ReplaceLine(int index, const std::u16string& text) {
    if (state_.LogMemo) {
        state_.LogMemo->ReplaceLine(index, text);
    }
}

void TForm1::HideCaret() {
    if (state_.LogMemo) {
        state_.LogMemo->HideCaret();
    }
}

} // namespace app
