// The typed intro: the frames of a line, the typing pauses and the intro start.
#include "show/intro.h"

#include "show/random.h"

namespace show {

namespace {
constexpr std::uint32_t kPauseBase = 100;
constexpr std::uint32_t kPauseStep = 50;
constexpr std::uint32_t kPauseSteps = 5;

std::u16string Prefix(std::u16string_view text, std::size_t n) {
    return std::u16string(text.substr(0, n < text.size() ? n : text.size()));
}
} // namespace

std::vector<std::u16string> TypeLineFrames(std::u16string_view text) {
    std::vector<std::u16string> frames;
    const std::size_t passes = text.size() / 2 + 3;
    for (std::size_t b = 0; b < passes; ++b) {
        frames.push_back(Prefix(text, 2 * b) + std::u16string(kCursor));
        frames.push_back(Prefix(text, 2 * b + 1));
    }
    return frames;
}

int TypeLinePauses(std::size_t length) {
    return static_cast<int>(2 * (length / 2 + 3));
}

std::uint32_t TypingPause() {
    return kPauseBase + kPauseStep * Random(kPauseSteps);
}

void TypeLine(std::uint8_t lineIndex, std::u16string_view text, IntroHost& host, Console& memo,
              WindowLoop& loop) {
    const std::size_t passes = text.size() / 2 + 3;
    for (std::size_t b = 0; b < passes; ++b) {
        memo.ReplaceLine(lineIndex, Prefix(text, 2 * b) + std::u16string(kCursor));
        loop.ProcessMessages();
        Randomize();
        if (loop.WindowClosed()) {
            loop.EndProgram();
        }
        host.Sleep(TypingPause());
        memo.ReplaceLine(lineIndex, Prefix(text, 2 * b + 1));
        Randomize();
        loop.ProcessMessages();
        host.Sleep(TypingPause());
    }
}

void NeoWakeUP(IntroHost& host, Console& memo, WindowLoop& loop) {
    for (std::size_t i = 0; i < kQuotations.size(); ++i) {
        memo.HideCaret();
        memo.AppendLog(u"");
        TypeLine(static_cast<std::uint8_t>(i), kQuotations[i], host, memo, loop);
    }
    memo.HideCaret();
}

void RunIntro(IntroHost& host, Console& memo, WindowLoop& loop) {
    loop.SetTimerEnabled(false);
    host.CreateConsole();
    host.CreateMarquee();
    memo.AppendLog(u"");
    host.StartMarquee();
    memo.ClearLog();
    host.ShowSignature();
    NeoWakeUP(host, memo, loop);
    host.ShowRabbit();
    host.SetIntroTicks(-1);
    host.PauseMarquee();
}

} // namespace show
