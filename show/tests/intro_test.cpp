// The typed intro (its frames, pauses, order and the close during the typing), the console's
// line list and the marquee, against a window played by a fake.
#include "show/intro.h"
#include "show/marquee.h"
#include "show/memolines.h"
#include "show/random.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

using namespace show;

std::u16string Cursor(std::u16string s) {
    return s + u"_ ";
}

TEST(TypeLine, FramesShowEveryPrefixWithTheCursorBehindTheEvenOnes) {
    struct Case {
        std::u16string_view text;
        std::vector<std::u16string> frames;
    };
    const Case cases[] = {
        {u"abc",
         {Cursor(u""), u"a", Cursor(u"ab"), u"abc", Cursor(u"abc"), u"abc", Cursor(u"abc"),
          u"abc"}},
        {u"abcd",
         {Cursor(u""), u"a", Cursor(u"ab"), u"abc", Cursor(u"abcd"), u"abcd", Cursor(u"abcd"),
          u"abcd", Cursor(u"abcd"), u"abcd"}},
        {u"", {Cursor(u""), u"", Cursor(u""), u"", Cursor(u""), u""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TypeLineFrames(c.text), c.frames);
    }
    auto neo = TypeLineFrames(u"Wake up, Neo...");
    ASSERT_EQ(neo.size(), 20u) << "10 passes";
    EXPECT_EQ(neo[0], u"_ ");
    EXPECT_EQ(neo[1], u"W");
    EXPECT_EQ(neo[2], u"Wa_ ");
    EXPECT_EQ(neo[3], u"Wak");
    EXPECT_EQ(neo[14], u"Wake up, Neo.._ ");
    EXPECT_EQ(neo[15], u"Wake up, Neo...");
    for (size_t i = 16; i < 20; i += 2) {
        EXPECT_EQ(neo[i], u"Wake up, Neo..._ ");
        EXPECT_EQ(neo[i + 1], u"Wake up, Neo...");
    }
}

// Plays the window: keeps the console as text and counts time on a fake clock.
struct FakeIntro : IntroHost, Console, WindowLoop {
    std::vector<std::string> events;
    std::u16string console;
    bool consoleExists = false;
    std::vector<std::u16string> frames;
    std::uint64_t clockMs = 0;
    int pauses = 0;
    int closeAtPump = -1; // the window closes during this pump
    int pumps = 0;
    bool closing = false;
    std::int32_t introTicks = 100;
    bool timer = true;

    void SetTimerEnabled(bool on) override {
        timer = on;
        events.push_back(on ? "timer on" : "timer off");
    }
    void CreateConsole() override {
        consoleExists = true;
        console.clear();
        events.push_back("console");
    }
    void CreateMarquee() override { events.push_back("marquee created"); }
    void StartMarquee() override { events.push_back("marquee started"); }
    void PauseMarquee() override { events.push_back("marquee paused"); }
    void AppendLog(const std::u16string& line) override {
        MemoAppendLine(console, line);
        events.push_back("append");
    }
    void ClearLog() override {
        console.clear();
        events.push_back("clear");
    }
    void ReplaceLine(int index, const std::u16string& text) override {
        MemoReplaceLine(console, static_cast<size_t>(index), text);
        frames.push_back(text);
    }
    void HideCaret() override {}
    void ShowSignature() override { events.push_back("signature"); }
    void ShowRabbit() override { events.push_back("rabbit"); }
    void SetIntroTicks(std::int32_t v) override {
        introTicks = v;
        events.push_back("ticks -1");
    }
    void ProcessMessages() override {
        if (pumps++ == closeAtPump) {
            closing = true;
        }
    }
    // The intro as the window runs it: the window is its host, console and loop at once.
    void Run() { RunIntro(*this, *this, *this); }
    bool WindowClosed() const override { return closing; }
    [[noreturn]] void EndProgram() override { throw std::runtime_error("program ended"); }
    void RepaintWindow() override {}
    void Sleep(std::uint32_t ms) override {
        clockMs += ms;
        ++pauses;
        EXPECT_TRUE(ms == 100 || ms == 150 || ms == 200 || ms == 250 || ms == 300) << ms;
    }
};

std::uint32_t g_fakeClock = 0;
std::uint32_t FakeClock() {
    return g_fakeClock += 7919;
}

TEST(Intro, TypesTheFourQuotationsOntoLinesZeroToThreeInOrder) {
    auto previous = SetSeedSource(&FakeClock);
    FakeIntro host;
    host.Run();
    SetSeedSource(previous);
    EXPECT_EQ(host.console, u"Get up Trinity. Just get up. Get up.\r\nWake up, Neo...\r\n"
                            u"The Matrix has you...\r\nFollow the white rabbit.\r\n");
    const std::vector<std::string> order = {"timer off", "console",         "marquee created",
                                            "append",    "marquee started", "clear",
                                            "signature"};
    ASSERT_GE(host.events.size(), order.size());
    EXPECT_EQ(std::vector<std::string>(host.events.begin(), host.events.begin() + 7), order);
    const std::vector<std::string> tail = {"rabbit", "ticks -1", "marquee paused"};
    EXPECT_EQ(std::vector<std::string>(host.events.end() - 3, host.events.end()), tail);
    EXPECT_EQ(host.introTicks, -1);
    EXPECT_FALSE(host.timer) << "the frame timer switches itself back on after the tick";
}

TEST(Intro, PausesPerLineAndTotalDurationStayWithinBounds) {
    int expectedPauses = 0;
    for (auto q : kQuotations) {
        expectedPauses += TypeLinePauses(q.size());
    }
    EXPECT_EQ(TypeLinePauses(15), 20);
    EXPECT_EQ(expectedPauses, 118);
    auto previous = SetSeedSource(&FakeClock);
    std::uint64_t shortest = ~0ull, longest = 0, total = 0;
    const int runs = 200;
    for (int run = 0; run < runs; ++run) {
        FakeIntro host;
        host.Run();
        EXPECT_EQ(host.pauses, expectedPauses);
        shortest = std::min(shortest, host.clockMs);
        longest = std::max(longest, host.clockMs);
        total += host.clockMs;
    }
    SetSeedSource(previous);
    EXPECT_GE(shortest, 11800u);
    EXPECT_LE(longest, 35400u);
    const double mean = static_cast<double>(total) / runs;
    EXPECT_NEAR(mean, 23600, 1500) << "about 24 seconds on average";
}

TEST(Intro, ClosingTheWindowEndsTheProgramAtTheNextFlagTest) {
    // Each pass pumps twice: after the frame with the cursor (then the flag is tested) and
    // after the frame without it. A close in the first pump ends at once; one in the second
    // lets exactly one further frame show.
    struct Case {
        int closeAtPump;
        size_t framesShown;
    };
    for (const Case c : {Case{4, 5}, Case{5, 7}, Case{0, 1}}) {
        FakeIntro host;
        host.closeAtPump = c.closeAtPump;
        EXPECT_THROW(host.Run(), std::runtime_error);
        EXPECT_EQ(host.frames.size(), c.framesShown) << "closed in pump " << c.closeAtPump;
        EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "rabbit"), 0);
    }
}

TEST(MemoLines, AppendsReplacesAndIgnoresMissingLines) {
    std::u16string text;
    EXPECT_EQ(MemoLineCount(text), 0u);
    MemoAppendLine(text, u"");
    EXPECT_EQ(text, u"\r\n");
    EXPECT_EQ(MemoLineCount(text), 1u);
    EXPECT_TRUE(MemoReplaceLine(text, 0, u"one"));
    MemoAppendLine(text, u"two");
    EXPECT_EQ(text, u"one\r\ntwo\r\n");
    EXPECT_FALSE(MemoReplaceLine(text, 5, u"x"));
    EXPECT_EQ(text, u"one\r\ntwo\r\n") << "a missing line leaves the text alone";
    std::u16string open = u"tail";
    MemoAppendLine(open, u"next");
    EXPECT_EQ(open, u"tail\r\nnext");
    EXPECT_EQ(MemoLineCount(open), 2u);
}

TEST(Marquee, TurnsRightAndComesBackAfterNineTurns) {
    std::u16string s(kMarqueeText);
    EXPECT_EQ(TurnRight(s), u"\"\"Vemu7ka");
    EXPECT_EQ(TurnRight(TurnRight(s)), u"a\"\"Vemu7k");
    for (int i = 0; i < 9; ++i) {
        s = TurnRight(s);
    }
    EXPECT_EQ(s, kMarqueeText);
    EXPECT_EQ(TurnRight(u""), u"");
}

TEST(Marquee, ThreadHandsEveryTurnOverAndStopsWhenPaused) {
    std::vector<std::u16string> shown;
    std::mutex m;
    TItoolsThread thread(
        [&](const std::function<void()>& update) {
            std::lock_guard g(m);
            update();
        },
        [](std::uint32_t ms) { EXPECT_TRUE(ms >= 150 && ms <= 350 && ms % 50 == 0) << ms; });
    thread.Lbl = [&](const std::u16string& t) { shown.push_back(t); };
    EXPECT_EQ(thread.Turns(), 0) << "created suspended";
    thread.Start();
    while (thread.Turns() < 12) {
        std::this_thread::yield();
    }
    thread.Pause();
    while (!thread.Paused()) {
        std::this_thread::yield();
    }
    const int turns = thread.Turns();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(thread.Turns(), turns) << "a paused marquee no longer turns";
    std::lock_guard g(m);
    ASSERT_GE(shown.size(), 12u);
    EXPECT_EQ(shown[0], u"\"\"Vemu7ka") << "the first text shown is already turned once";
    EXPECT_EQ(shown[8], kMarqueeText);
    EXPECT_EQ(thread.SourceString2.size(), kMarqueeText2.size());
}

} // namespace
