#include "app/introhost.h"

#include "app/form1.h"

#include <windows.h>

namespace app {

void FormIntroHost::SetTimerEnabled(bool enabled) {
    form_.SetTimerEnabled(enabled);
}

void FormIntroHost::CreateConsole() {
    form_.CreateConsole();
}

void FormIntroHost::CreateMarquee() {
    form_.CreateMarquee();
}

void FormIntroHost::StartMarquee() {
    if (show::TItoolsThread* marquee = form_.State().MarqueeThread) {
        marquee->Start();
    }
}

void FormIntroHost::PauseMarquee() {
    if (show::TItoolsThread* marquee = form_.State().MarqueeThread) {
        marquee->Pause();
    }
}

void FormIntroHost::AppendLog(const std::u16string& line) {
    form_.State().AppendLog(line);
}

void FormIntroHost::ClearLog() {
    form_.State().ClearLog();
}

void FormIntroHost::ReplaceLine(int index, const std::u16string& text) {
    form_.State().ReplaceLine(index, text);
}

void FormIntroHost::HideConsoleCaret() {
    form_.State().HideConsoleCaret();
}

void FormIntroHost::ShowSignature() {
    form_.Controls().SetVisible(kSLabelFX1, true);
}

void FormIntroHost::ShowRabbit() {
    form_.Controls().SetVisible(kRabbit, true);
}

void FormIntroHost::SetIntroTicks(std::int32_t value) {
    form_.Rain().IntroTicks = value;
}

void FormIntroHost::ProcessMessages() {
    form_.ProcessMessages();
}

bool FormIntroHost::WindowClosed() const {
    return form_.WindowClosed();
}

void FormIntroHost::EndProgram() {
    form_.EndProgram();
}

void FormIntroHost::Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

} // namespace app
