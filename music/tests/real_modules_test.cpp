// XM files from Debian's game data packages (installed by tools/setup.sh) load and render,
// and every mixing path gives the same samples on all of them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "music/engine.h"
#include "music/tests/real_modules.h"
#include "music/tests/xm_builder.h"

namespace {

const char* const kModules[] = {
    "/usr/share/games/frozen-bubble/snd/frozen-mainzik-2p.xm", // fb-music-high
    "/usr/share/games/solarwolf/data/music/arg.xm",            // solarwolf
    "/usr/share/games/solarwolf/data/music/aster2_sw.xm",
};

} // namespace

TEST(RealModules, LoadAndRenderToTheirEnd) {
    for (const char* path : kModules) {
        SCOPED_TRACE(path);
        std::ifstream f(path, std::ios::binary);
        ASSERT_TRUE(f) << "missing: run tools/setup.sh";
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)),
                                        std::istreambuf_iterator<char>());
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
    for (music::MixPath path : {music::MixPath::Sse2, music::MixPath::Avx2}) {
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
