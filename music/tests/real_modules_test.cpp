// XM files from Debian's game data packages (installed by tools/setup.sh) load and render,
// xmrender finds their end where libxmp does (libxmp called as a black box), and every
// mixing path gives the same samples on all of the corpus.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "music/engine.h"
#include "music/tests/real_modules.h"
#include "music/tests/xm_builder.h"
#include "music/xmrender/render_song.h"

#if ITR_HAVE_LIBXMP
#include <xmp.h>
#endif

namespace {

const char* const kModules[] = {
    "/usr/share/games/frozen-bubble/snd/frozen-mainzik-2p.xm", // fb-music-high
    "/usr/share/games/solarwolf/data/music/arg.xm",            // solarwolf
    "/usr/share/games/solarwolf/data/music/aster2_sw.xm",
};

std::vector<std::uint8_t> ReadModule(const char* path) {
    std::ifstream f(path, std::ios::binary);
    EXPECT_TRUE(f) << path << " missing: run tools/setup.sh";
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(RealModules, LoadAndRenderToTheirEnd) {
    for (const char* path : kModules) {
        SCOPED_TRACE(path);
        std::vector<std::uint8_t> bytes = ReadModule(path);
        ASSERT_FALSE(bytes.empty());
        xmtest::Loaded l(std::move(bytes), /*noLoop=*/true);
        ASSERT_TRUE(l.ok);
        // To the song's end (at most ten minutes), counting loudness and clipped samples.
        std::int16_t block[music::kBlockFrames * 2];
        std::size_t blocks = 0, clipped = 0;
        double energy = 0;
        constexpr std::size_t kMaxBlocks = 10 * 60 * 48000 / music::kBlockFrames;
        while (blocks < kMaxBlocks && music::RenderBlock(*l.engine, block)) {
            for (std::int16_t v : block) {
                energy += double(v) * v;
                clipped += v == 32767 || v == -32767;
            }
            ++blocks;
        }
        EXPECT_LT(blocks, kMaxBlocks) << "the song did not end";
        EXPECT_GT(blocks, 30u * 48000 / music::kBlockFrames);
        const double rms = std::sqrt(energy / (blocks * music::kBlockFrames * 2.0));
        EXPECT_GT(rms, 1000.0);
        EXPECT_LT(clipped, blocks * music::kBlockFrames / 100) << "clipping storm";
    }
}

TEST(RealModules, EveryMixPathGivesTheScalarLoopsSamples) {
    // Two minutes of each module as the program plays it (looping), rendered in lockstep
    // by the scalar loop and by each vector path, compared sample by sample.
    std::vector<music::MixPath> paths;
    for (music::MixPath path :
         {music::MixPath::Sse2, music::MixPath::Avx2, music::MixPath::Avx512}) {
        if (music::MixPathAvailable(path)) {
            paths.push_back(path);
        }
    }
    constexpr std::size_t kBlocks = 120 * 48000 / music::kBlockFrames;
    for (const char* path : xmcorpus::kRealModules) {
        SCOPED_TRACE(path);
        std::ifstream f(path, std::ios::binary);
        ASSERT_TRUE(f) << "missing: run tools/setup.sh";
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)),
                                              std::istreambuf_iterator<char>());
        xmtest::Loaded reference(bytes);
        ASSERT_TRUE(reference.ok);
        reference.engine->mixPath = music::MixPath::Scalar;
        std::vector<std::unique_ptr<xmtest::Loaded>> others;
        for (music::MixPath p : paths) {
            others.push_back(std::make_unique<xmtest::Loaded>(bytes));
            ASSERT_TRUE(others.back()->ok);
            others.back()->engine->mixPath = p;
        }
        std::int16_t expected[music::kBlockFrames * 2], block[music::kBlockFrames * 2];
        for (std::size_t b = 0; b < kBlocks; ++b) {
            ASSERT_TRUE(music::RenderBlock(*reference.engine, expected));
            for (std::size_t k = 0; k < others.size(); ++k) {
                ASSERT_TRUE(music::RenderBlock(*others[k]->engine, block));
                for (int i = 0; i < music::kBlockFrames * 2; ++i) {
                    ASSERT_EQ(block[i], expected[i])
                        << music::MixPathName(paths[k]) << ", frame "
                        << b * music::kBlockFrames + i / 2 << (i % 2 ? " right" : " left");
                }
            }
        }
    }
}

namespace {

struct NullSink final : xmrender::FrameSink {
    bool Take(const std::int16_t*, std::size_t) override { return true; }
};

#if ITR_HAVE_LIBXMP
// libxmp's length of the song at 48 kHz: the frames it plays until its loop counter goes up
// (where it finds the song's end), the frames of the last row it played, and its stated
// duration in milliseconds.
struct XmpLength {
    std::uint64_t frames = 0, lastRow = 0;
    int statedMs = -1;
};

XmpLength Xmp(const std::vector<std::uint8_t>& bytes) {
    XmpLength out;
    xmp_context ctx = xmp_create_context();
    if (xmp_load_module_from_memory(ctx, bytes.data(), static_cast<long>(bytes.size())) != 0) {
        xmp_free_context(ctx);
        return out;
    }
    xmp_start_player(ctx, 48000, 0);
    xmp_frame_info info{};
    for (int ticks = 0; ticks < 10000000 && xmp_play_frame(ctx) == 0; ++ticks) {
        xmp_get_frame_info(ctx, &info);
        if (info.loop_count > 0) {
            break;
        }
        out.frames += static_cast<std::uint64_t>(info.buffer_size) / 4;
        out.lastRow = static_cast<std::uint64_t>(info.buffer_size) / 4 * info.speed;
    }
    out.statedMs = info.total_time;
    xmp_end_player(ctx);
    xmp_release_module(ctx);
    xmp_free_context(ctx);
    return out;
}
#endif

} // namespace

TEST(RealModules, SongLengthsAgreeWithLibxmp) {
#if ITR_HAVE_LIBXMP
    // Every module of the real corpus, and small ones that end by a jump back, by the order
    // list after a pattern loop, and after a break forward.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> modules;
    for (const char* path : xmcorpus::kRealModules) {
        modules.emplace_back(xmcorpus::ShortName(path), ReadModule(path));
    }
    xmtest::Module jump;
    jump.channels = 2;
    jump.instruments.push_back(xmtest::ConstantInstrument());
    for (int p = 0; p < 3; ++p) {
        jump.AddPattern(32);
        jump.orders[p] = static_cast<std::uint8_t>(p);
        jump.At(p, 0, 0) = {49, 1, 0, 0, 0};
    }
    jump.songLength = 3;
    jump.At(0, 8, 1) = {0, 0, 0, 0x0E, 0x60};
    jump.At(0, 11, 1) = {0, 0, 0, 0x0E, 0x63};
    jump.At(1, 5, 0) = {0, 0, 0, 0x0D, 0x12};
    modules.emplace_back("pattern loop, break, order list", xmtest::Write(jump));
    jump.At(2, 31, 0) = {0, 0, 0, 0x0B, 0x01};
    modules.emplace_back("pattern loop, break, jump back", xmtest::Write(jump));

    for (const auto& [name, bytes] : modules) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(bytes.empty());
        xmtest::Loaded l(bytes);
        ASSERT_TRUE(l.ok);
        NullSink sink;
        const xmrender::Outcome ours = xmrender::RenderSong(*l.engine, 1, 3600ull * 48000, sink);
        const XmpLength xmp = Xmp(bytes);
        ASSERT_GT(xmp.frames, 0u);
        ASSERT_TRUE(ours.songKnown);
        const double diff = std::fabs(double(ours.songFrames) - double(xmp.frames));
        std::printf("%-56s xmrender %9.3f s (%s)  libxmp %9.3f s played, %7.3f s stated\n",
                    name.c_str(), ours.songFrames / 48000.0,
                    ours.songEnd == xmrender::End::Repeat ? "repeat" : "order list",
                    xmp.frames / 48000.0, xmp.statedMs / 1000.0);
        EXPECT_LE(diff, double(xmp.lastRow)) << "more than one row apart";
    }
#else
    FAIL() << "libxmp-dev is missing: run tools/setup.sh";
#endif
}
