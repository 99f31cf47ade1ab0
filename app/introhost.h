// The main window as the typed intro's host: its console and marquee, the signature and the
// rabbit, its timer, its message pump and its closing state.
#pragma once

#include "show/intro.h"

namespace app {

class TForm1;

class FormIntroHost final : public show::IntroHost {
public:
    explicit FormIntroHost(TForm1& form) : form_(form) {}

    void SetTimerEnabled(bool enabled) override;
    void CreateConsole() override;
    void CreateMarquee() override;
    void StartMarquee() override;
    void PauseMarquee() override;
    void AppendLog(const std::u16string& line) override;
    void ClearLog() override;
    void ReplaceLine(int index, const std::u16string& text) override;
    void HideConsoleCaret() override;
    void ShowSignature() override;
    void ShowRabbit() override;
    void SetIntroTicks(std::int32_t value) override;
    void ProcessMessages() override;
    bool WindowClosed() const override;
    [[noreturn]] void EndProgram() override;
    void Sleep(std::uint32_t milliseconds) override;

private:
    TForm1& form_;
};

} // namespace app
