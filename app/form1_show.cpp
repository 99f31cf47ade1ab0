// The main window as the host of the frame timer and the typed intro: the rabbit repainted
// over the rain, the intro start, the marquee, the signature and the rabbit shown.
#include "app/form1.h"

#include "platform/gui_thread_win32.h"

namespace app {

void TForm1::RepaintRabbit() {
    // Every tick after the intro: straight into the window's device context like the rain,
    // without a round of invalidation and paint messages.
    if (HDC dc = state_.WindowDC.Get()) {
        controls_.Repaint(dc, controls_[kRabbit].Bounds);
    }
}

void TForm1::IntroStart() {
    show::RunIntro(*this, *this, *this);
}

void TForm1::NeoWakeUP() {
    show::NeoWakeUP(*this, *this, *this);
}

void TForm1::CreateMarquee() {
    HWND hwnd = hwnd_;
    state_.MarqueeThread = new show::TItoolsThread(
        [hwnd](const std::function<void()>& update) { platform::Synchronize(hwnd, update); },
        [](std::uint32_t ms) { ::Sleep(ms); });
    state_.MarqueeThread->Lbl = [this](const std::u16string& text) {
        controls_.SetCaption(kLabel2, text);
    };
    state_.MarqueeThread->TransMemo = state_.LogMemo.get();
}

void TForm1::StartMarquee() {
    if (show::TItoolsThread* marquee = state_.MarqueeThread) {
        marquee->Start();
    }
}

void TForm1::PauseMarquee() {
    if (show::TItoolsThread* marquee = state_.MarqueeThread) {
        marquee->Pause();
    }
}

void TForm1::ShowSignature() {
    controls_.SetVisible(kSLabelFX1, true);
}

void TForm1::ShowRabbit() {
    controls_.SetVisible(kRabbit, true);
}

void TForm1::SetIntroTicks(std::int32_t value) {
    rain_.IntroTicks = value;
}

void TForm1::Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

} // namespace app
