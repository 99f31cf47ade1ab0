// The program's module renders to the same samples on every build: a digest of the first
// 30 seconds and of the first output ring.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "music/engine.h"
#include "music/tests/track_golden.h"
#include "music/tests/xm_builder.h"
#include "music/trackfile.h"

TEST(Golden, TrackFileDigests) {
    ASSERT_GT(music::kTrackFileSize, 90000u);
    ASSERT_LT(music::kTrackFileSize, 110000u);
    xmtest::Loaded l(
        std::vector<std::uint8_t>(music::kTrackFile, music::kTrackFile + music::kTrackFileSize));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.song().channelCount, 18u);
    EXPECT_EQ(l.song().patternCount, 28);
    EXPECT_EQ(l.song().instrumentCount, 37);
    EXPECT_EQ(l.song().songLength, 44);
    EXPECT_EQ(l.song().restart, 0);
    EXPECT_TRUE(l.song().Linear());
    EXPECT_EQ(l.song().speed, 6u);
    EXPECT_EQ(l.song().samplesPerTick, 1081u);

    constexpr std::size_t kFrames = 30 * 48000;
    std::vector<std::int16_t> pcm((kFrames / music::kBlockFrames + 1) * music::kBlockFrames * 2);
    for (std::size_t b = 0; b * music::kBlockFrames < kFrames; ++b) {
        ASSERT_TRUE(music::RenderBlock(*l.engine, pcm.data() + b * music::kBlockFrames * 2));
    }
    const std::uint64_t ring = golden::Fnv1a(pcm.data(), music::kRingBytes);
    const std::uint64_t all = golden::Fnv1a(pcm.data(), kFrames * 4);
    EXPECT_EQ(ring, golden::kFirstRing) << std::hex << "0x" << ring;
    EXPECT_EQ(all, golden::kFirst30Seconds) << std::hex << "0x" << all;
    // Sound, not silence, and no clipping storm.
    std::size_t clipped = 0;
    double energy = 0;
    for (std::size_t i = 0; i < kFrames * 2; ++i) {
        clipped += (pcm[i] == 32767 || pcm[i] == -32767);
        energy += double(pcm[i]) * pcm[i];
    }
    EXPECT_EQ(clipped, 0u);
    EXPECT_GT(energy / (kFrames * 2), 300.0 * 300.0);
}

TEST(Golden, EveryMixPathGivesTheSameSamples) {
    // The vector paths give the scalar loop's samples: the golden digests, and two minutes
    // identical to the scalar loop's, sample by sample.
    auto render = [](music::MixPath path) {
        xmtest::Loaded l(std::vector<std::uint8_t>(music::kTrackFile,
                                                   music::kTrackFile + music::kTrackFileSize));
        EXPECT_TRUE(l.ok);
        l.engine->mixPath = path;
        constexpr std::size_t kBlocks = 120 * 48000 / music::kBlockFrames;
        std::vector<std::int16_t> pcm(kBlocks * music::kBlockFrames * 2);
        for (std::size_t b = 0; b < kBlocks && l.ok; ++b) {
            EXPECT_TRUE(music::RenderBlock(*l.engine, pcm.data() + b * music::kBlockFrames * 2));
        }
        return pcm;
    };
    std::printf("mixing paths on this CPU: scalar%s%s%s (best: %s)\n",
                music::MixPathAvailable(music::MixPath::Sse2) ? ", sse2" : "",
                music::MixPathAvailable(music::MixPath::Avx2) ? ", avx2" : "",
                music::MixPathAvailable(music::MixPath::Avx512) ? ", avx512" : "",
                music::MixPathName(music::ResolveMixPath(music::MixPath::Best)));
    const std::vector<std::int16_t> reference = render(music::MixPath::Scalar);
    EXPECT_EQ(golden::Fnv1a(reference.data(), music::kRingBytes), golden::kFirstRing);
    for (music::MixPath path :
         {music::MixPath::Sse2, music::MixPath::Avx2, music::MixPath::Avx512}) {
        if (!music::MixPathAvailable(path)) {
            continue;
        }
        SCOPED_TRACE(music::MixPathName(path));
        const std::vector<std::int16_t> pcm = render(path);
        EXPECT_EQ(golden::Fnv1a(pcm.data(), 30 * 48000 * 4), golden::kFirst30Seconds);
        for (std::size_t i = 0; i < pcm.size(); ++i) {
            ASSERT_EQ(pcm[i], reference[i]) << "frame " << i / 2;
        }
    }
}
