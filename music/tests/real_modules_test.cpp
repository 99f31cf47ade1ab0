// XM files from Debian's game data packages (installed by tools/setup.sh) load and render.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "music/engine.h"
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
