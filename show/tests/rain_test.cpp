// The rain on the in-memory GDI: the columns' steps and set-up, the glyph sheets' copies and
// the frame timer's ticks.
#include "show/rain.h"
#include "show/random.h"

#include "platform/clock.h"
#include "platform/gdi_memory.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <vector>

namespace {

using namespace show;

constexpr std::uint32_t kFixedSeed = 0x1234567u;
std::uint32_t FixedSeed() {
    return kFixedSeed;
}

struct FixedClock {
    SeedSource previous = SetSeedSource(&FixedSeed);
    ~FixedClock() { SetSeedSource(previous); }
};

// A sheet whose cell i is filled with a colour that names it, so a surface tells which cell
// landed where.
struct MarkedSheet {
    platform::Bitmap* bitmap;
    TGraphicManager sheet;
    explicit MarkedSheet(std::uint32_t tag, int cells = 41) {
        bitmap = platform::BitmapCreateFilled(20, cells * 20, 0);
        for (int i = 0; i < cells; ++i) {
            for (int y = 0; y < 20; ++y) {
                for (int x = 0; x < 20; ++x) {
                    platform::MemorySurfaceSetPixel(platform::BitmapDc(bitmap), x, i * 20 + y,
                                                    tag | static_cast<std::uint32_t>(i + 1));
                }
            }
        }
        sheet.SetBitmap(bitmap);
        sheet.SetMapWidth(20);
        sheet.SetMapHeight(20);
    }
    ~MarkedSheet() { platform::BitmapFree(bitmap); }
    static int CellOf(platform::ColorRef c) { return static_cast<int>(c & 0xFFFF) - 1; }
};

constexpr std::uint32_t kIntenseTag = 0x10000, kNormalTag = 0x20000;

TEST(RenderNext, FallsFromStartPosAndWrapsToTheTopAtANewColumn) {
    MarkedSheet intense(kIntenseTag), normal(kNormalTag);
    platform::Dc window = platform::MemorySurfaceCreate(2000, 600, 0);
    intense.sheet.SetOutPutDC(window);
    normal.sheet.SetOutPutDC(window);

    TMatrixColumn column;
    column.SetStartPos(100);
    column.SetIntense(&intense.sheet);
    column.SetNormal(&normal.sheet);
    column.SetNumLetters(40);
    column.SetColumnX(60);
    column.SetMaxY(540);

    SetRandSeed(99);
    int previous = 0;
    for (int head = 120; head <= 560; head += 20) {
        column.RenderNext();
        ASSERT_EQ(column.CurrentPosition(), head == 560 ? 0 : head);
        platform::ColorRef h = platform::MemorySurfacePixel(window, 60, head);
        platform::ColorRef t = platform::MemorySurfacePixel(window, 60, head - 20);
        EXPECT_EQ(h & 0xF0000, kIntenseTag);
        EXPECT_EQ(t & 0xF0000, kNormalTag);
        EXPECT_NE(MarkedSheet::CellOf(h), previous) << "a head never repeats";
        EXPECT_EQ(MarkedSheet::CellOf(t), previous) << "the old head turns into the trail";
        EXPECT_EQ(column.LastSentIndex(), MarkedSheet::CellOf(h));
        previous = MarkedSheet::CellOf(h);
    }
    // The wrap picked x from 100 positions of one cell width.
    const int x = column.ColumnX();
    EXPECT_EQ(x % 20, 0);
    EXPECT_LT(x, 2000);
    column.RenderNext();
    EXPECT_EQ(column.CurrentPosition(), 20);
    EXPECT_EQ(platform::MemorySurfacePixel(window, x, 20) & 0xF0000, kIntenseTag);
    EXPECT_EQ(MarkedSheet::CellOf(platform::MemorySurfacePixel(window, x, 0)), previous);
    platform::MemorySurfaceFree(window);
}

TEST(RenderNext, WrapPositionsCoverZeroTo1980InCellSteps) {
    MarkedSheet sheet(kIntenseTag);
    platform::Dc window = platform::MemorySurfaceCreate(10, 10, 0);
    sheet.sheet.SetOutPutDC(window);
    std::set<int> xs;
    SetRandSeed(7);
    for (int i = 0; i < 5000; ++i) {
        TMatrixColumn column;
        column.SetIntense(&sheet.sheet);
        column.SetNormal(&sheet.sheet);
        column.SetNumLetters(40);
        column.SetMaxY(0);
        column.RenderNext();
        xs.insert(column.ColumnX());
    }
    EXPECT_EQ(xs.size(), 100u);
    EXPECT_EQ(*xs.begin(), 0);
    EXPECT_EQ(*xs.rbegin(), 1980);
    platform::MemorySurfaceFree(window);
}

TEST(RenderNext, EraserColumnAlternatesOneAndZero) {
    MarkedSheet black(0, 5);
    platform::Dc window = platform::MemorySurfaceCreate(100, 2000, 0);
    black.sheet.SetOutPutDC(window);
    TMatrixColumn column;
    column.SetIntense(&black.sheet);
    column.SetNormal(&black.sheet);
    column.SetNumLetters(2);
    column.SetMaxY(1900);
    SetRandSeed(3);
    std::vector<int> cells;
    for (int i = 0; i < 8; ++i) {
        column.RenderNext();
        cells.push_back(column.LastSentIndex());
    }
    EXPECT_EQ(cells, (std::vector<int>{1, 0, 1, 0, 1, 0, 1, 0}));
    platform::MemorySurfaceFree(window);
}

struct Sheets {
    platform::Bitmap* image1 = platform::BitmapCreateFilled(20, 822, platform::Rgb(0, 120, 0));
    platform::Bitmap* image2 = platform::BitmapCreateFilled(20, 822, platform::Rgb(0, 240, 0));
    platform::Dc window = platform::MemorySurfaceCreate(460, 540, platform::Rgb(9, 9, 9));
    GlyphSheets sheets;
    Sheets() { EXPECT_TRUE(BuildSheets(sheets, image1, image2, window)); }
    ~Sheets() {
        platform::BitmapFree(image1);
        platform::BitmapFree(image2);
        platform::MemorySurfaceFree(window);
    }
};

TEST(ColumnSetUp, ReseedsThenDrawsStartKindAndColumnPerColumn) {
    FixedClock clock;
    Sheets s;
    RainState rain;
    const int H = 540, W = 460;
    SetUpColumns(rain, s.sheets, H, W);

    SetRandSeed(kFixedSeed);
    for (int i = 0; i < NumColumns; ++i) {
        const TMatrixColumn& c = *rain.Columns[i];
        const int start = static_cast<int>(Random(H / 20)) * 20;
        const bool eraser = Random(3) == 2;
        const int x = static_cast<int>(Random(W / 20)) * 20;
        SCOPED_TRACE(i);
        EXPECT_EQ(c.StartPos(), start);
        EXPECT_EQ(c.CurrentPosition(), start);
        EXPECT_EQ(c.Intense(), eraser ? s.sheets.BlackSheet.get() : s.sheets.IntenseSheet.get());
        EXPECT_EQ(c.Normal(), eraser ? s.sheets.BlackSheet.get() : s.sheets.NormalSheet.get());
        EXPECT_EQ(c.NumLetters(), eraser ? 2 : 40);
        EXPECT_EQ(c.ColumnX(), x);
        EXPECT_LE(c.ColumnX(), 440) << "a 460-pixel window has 23 column positions";
        EXPECT_EQ(c.MaxY(), H);
    }
}

TEST(ColumnSetUp, EveryActivationPlacesColumnsAfresh) {
    Sheets s;
    RainState rain;
    SetUpColumns(rain, s.sheets, 540, 460);
    const TMatrixColumn* first = rain.Columns[0].get();
    std::vector<int> before;
    for (auto& c : rain.Columns) {
        before.push_back(c->ColumnX() * 1000 + c->StartPos());
    }
    platform::SleepMs(2);
    SetUpColumns(rain, s.sheets, 540, 460);
    std::vector<int> after;
    for (auto& c : rain.Columns) {
        after.push_back(c->ColumnX() * 1000 + c->StartPos());
    }
    EXPECT_NE(rain.Columns[0].get(), first);
    EXPECT_NE(before, after);
}

TEST(GlyphSheets, BuiltFromTheImageBitmapsAndAFreshBlackBitmap) {
    Sheets s;
    EXPECT_EQ(s.sheets.IntenseSheet->Bitmap(), s.image2);
    EXPECT_EQ(s.sheets.NormalSheet->Bitmap(), s.image1);
    EXPECT_EQ(platform::BitmapWidth(s.sheets.BlackBitmap), 20);
    EXPECT_EQ(platform::BitmapHeight(s.sheets.BlackBitmap), 100);
    for (auto* sheet :
         {s.sheets.BlackSheet.get(), s.sheets.IntenseSheet.get(), s.sheets.NormalSheet.get()}) {
        EXPECT_EQ(sheet->MapWidth(), 20);
        EXPECT_EQ(sheet->MapHeight(), 20);
        EXPECT_EQ(sheet->OutPutDC(), s.window);
    }
    const platform::Dc oldSurface = platform::BitmapDc(s.sheets.BlackBitmap);
    ASSERT_TRUE(BuildSheets(s.sheets, s.image1, s.image2, s.window));
    EXPECT_NE(s.sheets.BlackBitmap, nullptr);
    EXPECT_NE(platform::BitmapDc(s.sheets.BlackBitmap), oldSurface);
    EXPECT_EQ(platform::MemorySurfacePixel(oldSurface, 0, 0), 0xFFFFFFFFu)
        << "the replaced black bitmap is released";
}

TEST(GlyphSheets, CellCopyChangesExactlyItsSquare) {
    Sheets s;
    const auto before = platform::MemorySurfacePixels(s.window);
    s.sheets.IntenseSheet->BltDefaultIndex(0, 40, 60);
    const auto after = platform::MemorySurfacePixels(s.window);
    for (int y = 0; y < 540; ++y) {
        for (int x = 0; x < 460; ++x) {
            const bool inside = x >= 40 && x <= 59 && y >= 60 && y <= 79;
            const size_t i = static_cast<size_t>(y) * 460 + x;
            if (inside) {
                ASSERT_EQ(after[i], platform::Rgb(0, 240, 0)) << x << "," << y;
            } else {
                ASSERT_EQ(after[i], before[i]) << x << "," << y;
            }
        }
    }
    for (int cell = 0; cell < 5; ++cell) {
        s.sheets.BlackSheet->BltDefaultIndex(cell, 100, 100 + cell * 20);
        EXPECT_EQ(platform::MemorySurfacePixel(s.window, 119, 119 + cell * 20), 0u);
    }
    s.sheets.NormalSheet->StretchBltToCanvas({0, 0, 20, 20}, {0, 0, 460, 540}, s.window);
    EXPECT_EQ(platform::MemorySurfacePixel(s.window, 300, 300), platform::Rgb(9, 9, 9));
}

// Records what the frame timer asks of the window.
struct RecordingHost : FrameTimerHost, WindowLoop {
    RainState* rain = nullptr;
    std::vector<std::string> calls;
    bool timerOn = true;
    bool closed = false;
    int introRuns = 0;
    void SetTimerEnabled(bool on) override {
        timerOn = on;
        calls.push_back(on ? "on" : "off");
    }
    void RepaintWindow() override { calls.push_back("window"); }
    void RepaintRabbit() override { calls.push_back("rabbit"); }
    void IntroStart() override {
        ++introRuns;
        SetTimerEnabled(false);
        calls.push_back("intro");
        rain->IntroTicks = -1;
    }
    bool WindowClosed() const override { return closed; }
    void ProcessMessages() override { calls.push_back("pump"); }
    [[noreturn]] void EndProgram() override { throw std::runtime_error("program ended"); }
    // A tick as the window runs it: the window is the timer's host and its own loop.
    void Tick() { Timer1Timer(*rain, *this, *this); }
};

TEST(FrameTimer, RepaintsTheFirstTwentyFramesAndStartsTheIntroOnTickHundred) {
    RainState rain;
    RecordingHost host;
    host.rain = &rain;
    std::vector<int> frameCounts;
    for (int tick = 1; tick <= 250; ++tick) {
        host.calls.clear();
        host.Tick();
        frameCounts.push_back(rain.FrameCount);
        std::vector<std::string> expected;
        if (tick == 100) {
            expected = {"off", "intro"};
        }
        expected.push_back("off");
        if (tick <= 20) {
            expected.push_back("window");
        }
        if (tick >= 100) {
            expected.push_back("rabbit");
        }
        expected.push_back("on");
        ASSERT_EQ(host.calls, expected) << "tick " << tick;
        EXPECT_TRUE(host.timerOn);
    }
    EXPECT_EQ(host.introRuns, 1);
    EXPECT_EQ(rain.IntroTicks, -1);
    // 1..69, then 70 is stored as 21 and the cycle runs 22..70 from there on.
    for (int i = 0; i < 69; ++i) {
        EXPECT_EQ(frameCounts[i], i + 1);
    }
    EXPECT_EQ(frameCounts[69], 21);
    EXPECT_EQ(frameCounts[70], 22);
    EXPECT_EQ(frameCounts[117], 69);
    EXPECT_EQ(frameCounts[118], 21);
    EXPECT_EQ(frameCounts[119], 22);
}

TEST(FrameTimer, DrawsEveryColumnOncePerTickOnceColumnsExist) {
    Sheets s;
    RainState rain;
    RecordingHost host;
    host.rain = &rain;
    const long before = platform::MemoryCopyCount();
    host.Tick();
    EXPECT_EQ(platform::MemoryCopyCount(), before) << "no columns before the first activation";
    EXPECT_EQ(rain.IntroTicks, 1);
    SetUpColumns(rain, s.sheets, 540, 460);
    host.Tick();
    EXPECT_EQ(platform::MemoryCopyCount() - before, 2 * NumColumns);
}

TEST(FrameTimer, DrawsNothingOnceTheWindowHasClosed) {
    Sheets s;
    RainState rain;
    SetUpColumns(rain, s.sheets, 540, 460);
    RecordingHost host;
    host.rain = &rain;
    host.closed = true;
    const long before = platform::MemoryCopyCount();
    host.Tick();
    EXPECT_EQ(platform::MemoryCopyCount(), before);
    EXPECT_TRUE(host.calls.empty());
}

TEST(Random, StaysInRangeAndRepeatsForASeed) {
    SetRandSeed(42);
    std::vector<std::uint32_t> a;
    for (int i = 0; i < 1000; ++i) {
        a.push_back(Random(5));
        ASSERT_LT(a.back(), 5u);
    }
    SetRandSeed(42);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(Random(5), a[i]);
    }
    EXPECT_EQ(Random(0), 0u);
    std::set<std::uint32_t> seen(a.begin(), a.end());
    EXPECT_EQ(seen.size(), 5u);
}

} // namespace
