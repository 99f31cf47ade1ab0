// xmrender's song end on small modules: jumps back, pattern loops, breaks forward, the order
// list's end and the restart position, counted in rows of 6 ticks at 125 BPM (5,760 frames).
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "music/tests/xm_builder.h"
#include "music/xmrender/render_song.h"

namespace {

constexpr std::uint64_t kRow = 6 * 960;
constexpr std::uint8_t kJump = 0x0B, kBreak = 0x0D, kExtended = 0x0E;

// Keeps the frames in memory.
struct Frames final : xmrender::FrameSink {
    std::vector<std::int16_t> values;
    bool Take(const std::int16_t* v, std::size_t frames) override {
        values.insert(values.end(), v, v + 2 * frames);
        return true;
    }
    // Loudness of frames [from, to).
    long Sum(std::uint64_t from, std::uint64_t to) const {
        long s = 0;
        for (std::uint64_t i = 2 * from; i < 2 * to && i < values.size(); ++i)
            s += std::labs(values[i]);
        return s;
    }
};

// Patterns of the given row counts on one channel, played in that order (song length =
// their count), one instrument with a constant looping sample.
xmtest::Module Song(std::initializer_list<std::uint16_t> rows) {
    xmtest::Module m;
    m.instruments.push_back(xmtest::ConstantInstrument());
    for (std::uint16_t r : rows) {
        m.orders[m.patterns.size()] = static_cast<std::uint8_t>(m.patterns.size());
        m.AddPattern(r);
    }
    m.songLength = static_cast<std::uint16_t>(m.patterns.size());
    return m;
}

struct Rendered {
    xmrender::Outcome out;
    Frames frames;
};

Rendered Render(const xmtest::Module& m, int passes = 1,
                std::uint64_t maxFrames = 3600ull * 48000) {
    xmtest::Loaded l(m);
    EXPECT_TRUE(l.ok);
    Rendered r;
    if (l.ok) {
        r.out = xmrender::RenderSong(*l.engine, passes, maxFrames, r.frames);
        EXPECT_EQ(l.engine->observer, nullptr);
    }
    EXPECT_EQ(r.frames.values.size(), 2 * r.out.frames);
    return r;
}

} // namespace

TEST(XmrenderSong, EndsWhereTheSongEnds) {
    using xmrender::End;
    struct Case {
        const char* what;
        xmtest::Module module;
        int passes;
        std::uint64_t rows; // rendered
        std::uint64_t song; // rows of the first pass
        End end, songEnd;
        std::uint32_t endOrder, endRow;
        int passesDone;
    };
    std::vector<Case> cases;
    {
        // The same pattern twice in the order list is no repeat: positions differ.
        xmtest::Module m = Song({17});
        m.orders[1] = 0;
        m.songLength = 2;
        cases.push_back({"no jump", m, 1, 34, 34, End::OrderList, End::OrderList, 0, 0, 1});
    }
    {
        xmtest::Module m = Song({8, 8});
        m.At(1, 7, 0) = {0, 0, 0, kJump, 0};
        cases.push_back(
            {"jump back to the start", m, 1, 16, 16, End::Repeat, End::Repeat, 0, 0, 1});
        cases.push_back({"three times through", m, 3, 48, 16, End::Repeat, End::Repeat, 0, 0, 3});
        m.At(1, 7, 0) = {0, 0, 0, kJump, 1};
        cases.push_back({"jump back past an intro, twice through", m, 2, 16 + 8, 16, End::Repeat,
                         End::Repeat, 1, 0, 2});
    }
    {
        // E60 at row 4, E62 at row 7: rows 4 to 7 play three times; then on to the end.
        xmtest::Module m = Song({16});
        m.At(0, 4, 0) = {0, 0, 0, kExtended, 0x60};
        m.At(0, 7, 0) = {0, 0, 0, kExtended, 0x62};
        cases.push_back({"pattern loop", m, 1, 24, 24, End::OrderList, End::OrderList, 0, 0, 1});
        // The same loop, then a jump back to it: the song ends at the jump, not in the loop.
        m.At(0, 15, 0) = {0, 0, 0, kJump, 0};
        cases.push_back(
            {"pattern loop and jump back", m, 2, 48, 24, End::Repeat, End::Repeat, 0, 0, 2});
    }
    {
        // A break from row 3 of order 0 to row 8 of order 1.
        xmtest::Module m = Song({16, 16, 16});
        m.At(0, 3, 0) = {0, 0, 0, kBreak, 0x08};
        cases.push_back({"break to a later order", m, 1, 4 + 8 + 16, 28, End::OrderList,
                         End::OrderList, 0, 0, 1});
    }
    {
        // After the order list playback goes on at the restart position, order 1.
        xmtest::Module m = Song({8, 8});
        m.restart = 1;
        cases.push_back(
            {"restart position", m, 2, 16 + 8, 16, End::OrderList, End::OrderList, 1, 0, 2});
    }
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rendered r = Render(c.module, c.passes);
        EXPECT_EQ(r.out.frames, c.rows * kRow);
        EXPECT_EQ(r.out.end, c.end);
        EXPECT_EQ(r.out.passes, c.passesDone);
        EXPECT_TRUE(r.out.songKnown);
        EXPECT_EQ(r.out.songFrames, c.song * kRow);
        EXPECT_EQ(r.out.songEnd, c.songEnd);
        if (c.songEnd == End::Repeat) {
            EXPECT_EQ(r.out.endOrder, c.endOrder);
            EXPECT_EQ(r.out.endRow, c.endRow);
        }
        EXPECT_FALSE(r.out.sinkFailed);
    }
}

TEST(XmrenderSong, TheLastRowIsRenderedWhole) {
    // Silence, then one note on the last row: the file ends with that row, not before it,
    // also when the end falls inside a block (17 rows are 95.6 blocks).
    xmtest::Module m = Song({17});
    m.At(0, 16, 0) = {49, 1, 0, 0, 0};
    Rendered r = Render(m);
    ASSERT_EQ(r.out.frames, 17 * kRow);
    EXPECT_EQ(r.frames.Sum(0, 16 * kRow), 0);
    EXPECT_GT(r.frames.Sum(17 * kRow - 100, 17 * kRow), 100 * 2 * 100);
}

TEST(XmrenderSong, TheTimeLimitComesFirst) {
    xmtest::Module m = Song({8, 8});
    m.At(1, 7, 0) = {0, 0, 0, kJump, 0};
    for (std::uint64_t limit : {std::uint64_t{1000}, 10 * kRow, 16 * kRow - 1}) {
        SCOPED_TRACE(limit);
        Rendered r = Render(m, 1, limit);
        EXPECT_EQ(r.out.frames, limit);
        EXPECT_EQ(r.out.end, xmrender::End::TimeLimit);
        EXPECT_FALSE(r.out.songKnown);
        EXPECT_EQ(r.out.passes, 0);
    }
    // A limit inside the second pass: the song's length is known, one pass is whole.
    Rendered r = Render(m, 3, 20 * kRow + 7);
    EXPECT_EQ(r.out.frames, 20 * kRow + 7);
    EXPECT_EQ(r.out.end, xmrender::End::TimeLimit);
    EXPECT_TRUE(r.out.songKnown);
    EXPECT_EQ(r.out.songFrames, 16 * kRow);
    EXPECT_EQ(r.out.passes, 1);
}

TEST(XmrenderSong, TheObserverChangesNoSample) {
    // The same module through the observed render and through the player's plain blocks.
    xmtest::Module m = Song({16, 16});
    m.channels = 2;
    m.patterns.clear();
    m.AddPattern(16);
    m.AddPattern(16);
    for (int row = 0; row < 16; row += 3) {
        m.At(0, row, 0) = {static_cast<std::uint8_t>(40 + row), 1, 0, 0, 0};
        m.At(1, row, 1) = {static_cast<std::uint8_t>(52 - row), 1, 0, 0x04, 0x46};
    }
    m.At(1, 15, 0) = {0, 0, 0, kJump, 0};
    Rendered r = Render(m, 2);
    ASSERT_EQ(r.out.frames, 64 * kRow);
    xmtest::Loaded plain(m);
    std::int16_t block[music::kBlockFrames * 2];
    for (std::uint64_t at = 0; at + music::kBlockFrames <= r.out.frames;
         at += music::kBlockFrames) {
        ASSERT_TRUE(music::RenderBlock(*plain.engine, block));
        for (int i = 0; i < 2 * music::kBlockFrames; ++i) {
            ASSERT_EQ(block[i], r.frames.values[2 * at + i]) << at;
        }
    }
}
