// The typed intro: four quotations typed into the console with a blinking cursor, run once
// inside the frame timer's hundredth tick.
#pragma once

#include "show/console.h"
#include "show/window_loop.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace show {

inline constexpr std::array<std::u16string_view, 4> kQuotations = {
    u"Get up Trinity. Just get up. Get up.",
    u"Wake up, Neo...",
    u"The Matrix has you...",
    u"Follow the white rabbit.",
};
inline constexpr std::u16string_view kCursor = u"_ ";

// What the intro needs of the window besides its console and its loop.
class IntroHost {
public:
    virtual ~IntroHost() = default;
    virtual void CreateConsole() = 0; // LogMemo, with its lines cleared
    virtual void CreateMarquee() = 0; // created suspended
    virtual void StartMarquee() = 0;
    virtual void PauseMarquee() = 0;
    virtual void ShowSignature() = 0;
    virtual void ShowRabbit() = 0;
    virtual void SetIntroTicks(std::int32_t value) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// The frames of one line, in order: what the line shows after each replacement.
std::vector<std::u16string> TypeLineFrames(std::u16string_view text);
// Number of pauses a line of n characters takes.
int TypeLinePauses(std::size_t length);
// One pause of the typing: 100, 150, 200, 250 or 300 ms from the program's generator.
std::uint32_t TypingPause();

// Types one line into line `lineIndex` of the console `memo`.
void TypeLine(std::uint8_t lineIndex, std::u16string_view text, IntroHost& host, Console& memo,
              WindowLoop& loop);
void NeoWakeUP(IntroHost& host, Console& memo, WindowLoop& loop);
// The intro start, all inside the frame timer's hundredth tick.
void RunIntro(IntroHost& host, Console& memo, WindowLoop& loop);

} // namespace show
