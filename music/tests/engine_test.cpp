// Pitch, volume, conversion and mixer arithmetic, each on small synthetic modules.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

#include <algorithm>
#include <iterator>
#include <random>
#include <vector>

#include "music/channel.h"
#include "music/engine.h"
#include "music/mix_kernels.h"
#include "music/mixer.h"
#include "music/tests/xm_builder.h"

using namespace music;
using xmtest::Loaded;

namespace {

xmtest::Module OneNoteModule(bool linear = true) {
    xmtest::Module m;
    m.flags = linear ? 1 : 0;
    m.instruments.push_back(xmtest::ConstantInstrument());
    m.AddPattern();
    m.At(0, 0, 0) = {49, 1, 0, 0, 0}; // C-4
    return m;
}

} // namespace

TEST(Pitch, NotePeriodsFrequenciesAndSteps) {
    struct Case {
        bool linear;
        int note, finetune;
        std::int32_t period;
        std::uint32_t frequency;
    } cases[] = {
        {true, 48, 0, 4608, 8363},   {false, 48, 0, 1712, 8363},    {true, 48, -1, 4608, 8363},
        {true, 48, -3, 4609, 8355},  {true, 60, 0, 3840, 16726},    {false, 60, 0, 856, 16726},
        {true, 48, 127, 4545, 8852}, {false, 48, -128, 1814, 7892},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "linear " << c.linear << " note " << c.note << " ft " << c.finetune);
        EXPECT_EQ(NotePeriod(c.linear, c.note, c.finetune), c.period);
        EXPECT_EQ(Frequency(c.linear, c.period, 0), c.frequency);
    }
    std::uint32_t integer = 1, fraction = 0;
    StepFromFrequency(8363, integer, fraction);
    EXPECT_EQ(integer, 0u);
    EXPECT_EQ(fraction, 748308572u);
    StepFromFrequency(96000 + 8363, integer, fraction);
    EXPECT_EQ(integer, 2u);
    EXPECT_EQ(fraction, 748308572u);
    // Period plus delta of 0 or less plays at 40 Hz in both modes; a positive delta raises
    // the pitch in linear mode and lowers it in Amiga mode.
    for (bool linear : {true, false}) {
        EXPECT_EQ(Frequency(linear, 0, 0), 40u);
        EXPECT_EQ(Frequency(linear, 10, -10), 40u);
        EXPECT_EQ(Frequency(linear, -5, 0), 40u);
    }
    EXPECT_GT(Frequency(true, 4608, 64), 8363u);
    EXPECT_LT(Frequency(false, 1712, 64), 8363u);
    EXPECT_EQ(AmigaPeriod(48), 1712);
    EXPECT_EQ(AmigaPeriod(36), 3424);
}

TEST(Pitch, LoadedNoteSetsTheVoiceStep) {
    for (bool linear : {true, false}) {
        Loaded l(OneNoteModule(linear));
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.channel().period, linear ? 4608 : 1712);
        EXPECT_EQ(l.channel().voice->stepInteger, 0u);
        EXPECT_EQ(l.channel().voice->stepFraction, 748308572u);
    }
}

TEST(Output, ConversionRoundsAndClips) {
    struct Case {
        std::int32_t mixed;
        std::int16_t out;
    } cases[] = {
        {0, 0},
        {8159, 0},
        {8160, 1},
        {-8159, 0},
        {-8160, -1},
        {16320, 1},
        {16320 + 8159, 1},
        {16320 + 8160, 2},
        {534765599, 32767},
        {534765600, 32767},
        {-534765600, -32767},
        {INT32_MAX, 32767},
        {INT32_MIN, -32767},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConvertSample(c.mixed), c.out) << c.mixed;
    }
}

TEST(Volume, FinalVolumeAndTargets) {
    Loaded l(OneNoteModule());
    ASSERT_TRUE(l.ok);
    struct Case {
        std::int32_t volume, global, panning;
        std::int32_t final, right, left;
    } cases[] = {
        {64, 64, 128, 127, 63, 63}, {80, 32, 128, 79, 39, 39}, {40, 64, 128, 79, 39, 39},
        {80, 64, 128, 127, 63, 63}, {64, 64, 0, 127, 0, 127},  {64, 64, 255, 127, 127, 0},
        {-5, 64, 128, 0, 0, 0},     {0, 64, 128, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ChannelState& ch = l.channel();
        ch.volume = c.volume;
        ch.volumeDelta = 0;
        ch.panning = c.panning;
        ch.envelopeVolume = 64;
        ch.envelopePanning = 32;
        ch.fadeVolume = 65536;
        l.song().globalVolume = c.global;
        ch.flags = UpdateVolume | UpdatePanning;
        UpdateChannel(l.song(), ch, EmptySample(), kEmptyInstrument);
        EXPECT_EQ(ch.voice->finalVolume, c.final) << c.volume << "/" << c.global;
        EXPECT_EQ(ch.voice->rightTarget, c.right);
        EXPECT_EQ(ch.voice->leftTarget, c.left);
    }
    // Panning at the extremes ignores the envelope: (128 - 128) >> 5 is 0.
    ChannelState& ch = l.channel();
    ch.panning = 0;
    ch.envelopePanning = 64;
    ch.flags = UpdatePanning;
    UpdateChannel(l.song(), ch, EmptySample(), kEmptyInstrument);
    EXPECT_EQ(ch.voice->finalPanning, 0);
    ch.panning = 100; // factor (128 - 28) >> 5 = 3
    UpdateChannel(l.song(), ch, EmptySample(), kEmptyInstrument);
    EXPECT_EQ(ch.voice->finalPanning, 100 + 32 * 3);
    ch.panning = 128;
    UpdateChannel(l.song(), ch, EmptySample(), kEmptyInstrument);
    EXPECT_EQ(ch.voice->finalPanning, 255); // 128 + 32 * 4, limited
}

TEST(Mixer, NoteFadesInOverExactly128Frames) {
    Loaded l(OneNoteModule());
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(1));
    Voice& v = *l.channel().voice;
    EXPECT_EQ(v.leftVolume, 0);
    MixRun(*l.engine, 1, 0);
    // The first frame of a note contributes nothing.
    EXPECT_EQ(l.engine->mixBuffer[0], 0);
    EXPECT_EQ(v.rampCounter, 127);
    MixRun(*l.engine, 127, 1);
    EXPECT_EQ(v.rampCounter, 0);
    EXPECT_EQ(v.leftVolume, 128 * v.leftTarget);
    // Steady now: value 64 (8-bit) is 16384; 16384 * 64 * 63 per side.
    MixRun(*l.engine, 2, 128);
    EXPECT_EQ(l.engine->mixBuffer[2 * 128], 16384 * 64 * 63);
    EXPECT_EQ(l.engine->mixBuffer[2 * 128 + 1], 16384 * 64 * 63);
}

TEST(Mixer, RampFrom100ToZeroLandsOnZero) {
    Loaded l(OneNoteModule());
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(1));
    Voice& v = *l.channel().voice;
    v.leftTarget = v.rightTarget = 100;
    MixRun(*l.engine, 300, 0);
    ASSERT_EQ(v.leftVolume, 12800);
    v.leftTarget = v.rightTarget = 0;
    MixRun(*l.engine, 127, 0);
    EXPECT_EQ(v.leftVolume, 100);
    MixRun(*l.engine, 1, 0);
    EXPECT_EQ(v.leftVolume, 0);
    EXPECT_EQ(v.rightVolume, 0);
    EXPECT_EQ(v.rampCounter, 0);
}

TEST(Mixer, NotesInARowShareTheVoicePair) {
    xmtest::Module m = OneNoteModule();
    m.At(0, 1, 0) = {49, 0, 0, 0, 0};
    m.At(0, 2, 0) = {49, 0, 0, 0, 0};
    m.tempo = 1;
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().voice, &l.voice(0));
    MixRun(*l.engine, 500, 0);
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().voice, &l.voice(1));
    // The old voice fades out while the new one fades in, both over 128 frames.
    EXPECT_EQ(l.voice(0).finalVolume, 0);
    EXPECT_EQ(l.voice(0).leftTarget, 0);
    EXPECT_NE(l.voice(0).sample, nullptr);
    MixRun(*l.engine, 64, 0);
    EXPECT_EQ(l.voice(0).leftVolume, 128 * 63 / 2);
    EXPECT_EQ(l.voice(1).leftVolume, 128 * 63 / 2);
    MixRun(*l.engine, 64, 0);
    EXPECT_EQ(l.voice(0).leftVolume, 0);
    EXPECT_EQ(l.voice(1).leftVolume, 128 * 63);
    EXPECT_NE(l.voice(0).sample, nullptr); // goes on silently
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().voice, &l.voice(0));
}

TEST(Mixer, ZeroStepPlaysAtTheSlowStep) {
    Loaded l(OneNoteModule());
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(1));
    Voice& v = *l.channel().voice;
    v.stepInteger = 0;
    v.stepFraction = 0;
    v.position = 10;
    v.fraction = 0;
    MixRun(*l.engine, 100, 0);
    EXPECT_EQ(v.stepFraction, 0x369D00u);
    const std::uint64_t moved = std::uint64_t{v.position - 10} << 32 | v.fraction;
    EXPECT_EQ(moved, std::uint64_t{0x369D00} * 100);
}

TEST(Mixer, LoopsWrapAndTurn) {
    // Values 0, 1000, 2000, ... in 16-bit; loop 4..8.
    xmtest::Module m = OneNoteModule();
    xmtest::Sample s;
    s.bits16 = true;
    for (int i = 0; i < 10; ++i)
        s.values.push_back(static_cast<std::int16_t>(1000 * i));
    s.loopStart = 4;
    s.loopLength = 4;
    for (std::uint8_t type : {1, 2}) {
        s.loopType = type;
        m.instruments[0].samples = {s};
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        SampleRecord* rec = l.song().instruments[0].samples[0];
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(rec->length, 10u);
        // Guard: forward repeats the loop start, ping-pong the value before the loop end.
        EXPECT_EQ(rec->Values()[8], type == 1 ? 4000 : 7000);
        ASSERT_TRUE(l.Ticks(1));
        Voice& v = *l.channel().voice;
        v.stepInteger = 1;
        v.stepFraction = 0x80000000u; // 1.5 samples per frame
        MixRun(*l.engine, 6, 0);      // 0 -> 9.0: past the loop end at 8
        if (type == 1) {
            EXPECT_EQ(v.position, 5u); // 4 + (9 - 8) mod 4
            EXPECT_EQ(v.direction, 0);
        } else {
            EXPECT_EQ(v.position, 7u); // 9.0 reflected at 8.0
            EXPECT_EQ(v.fraction, 0u);
            EXPECT_EQ(v.direction, 1);
            MixRun(*l.engine, 2, 0); // 7.0 -> 4.0 reaches the loop start and turns again
            EXPECT_EQ(v.position, 4u);
            EXPECT_EQ(v.direction, 0);
        }
    }
}

TEST(Mixer, APingPongRunEndingJustShortOfALimitStillTurns) {
    // A run may stop a few 2^-32 units short of a limit (the frames are counted on steps of
    // 32 units); the turn must still carry the voice on, at either end of the loop.
    xmtest::Module m = OneNoteModule();
    xmtest::Sample s;
    for (int i = 0; i < 8; ++i) {
        s.values.push_back(static_cast<std::int16_t>(10 * i));
    }
    s.loopType = 2;
    s.loopStart = 0;
    s.loopLength = 8;
    m.instruments[0].samples = {s};
    struct Start {
        std::uint32_t position, fraction;
        std::uint8_t direction;
    };
    for (const Start start :
         {Start{3, 0xFFFFFFF0u, 0}, Start{4, 0x00000010u, 1}, Start{7, 0xFFFFFFFFu, 0}}) {
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(1));
        Voice& v = *l.channel().voice;
        v.stepInteger = 1;
        v.stepFraction = 0;
        v.position = start.position;
        v.fraction = start.fraction;
        v.direction = start.direction;
        std::atomic<bool> done{false};
        std::thread watchdog([&done] {
            for (int i = 0; i < 500 && !done; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (!done) {
                std::fprintf(stderr, "the mixer does not come back from a ping-pong turn\n");
                std::abort();
            }
        });
        MixRun(*l.engine, 10, 0);
        done = true;
        watchdog.join();
        EXPECT_NE(v.sample, nullptr);
        EXPECT_LT(v.position, 8u);
    }
}

TEST(Mixer, APingPongTurnMirrorsTheIntegerPosition) {
    // Loop 2..8 of values 0, 10, 20, ...: a run reaches the limit on its last frame and the
    // turn mirrors the position, at the loop end to 2 * 8 - 1 - position and at the loop start
    // to 2 * 2 - 1 - position, again at the other end while outside the loop.
    xmtest::Module m = OneNoteModule();
    xmtest::Sample s;
    for (int i = 0; i < 12; ++i) {
        s.values.push_back(static_cast<std::int16_t>(10 * i));
    }
    s.loopType = 2;
    s.loopStart = 2;
    s.loopLength = 6;
    m.instruments[0].samples = {s};
    constexpr std::uint32_t kHalf = 0x80000000u;
    struct Case {
        const char* what;
        std::uint32_t position, fraction; // at the start of the run
        std::uint8_t direction;
        std::uint32_t stepInteger;
        int frames;
        std::uint32_t turnedPosition;
        std::uint8_t turnedDirection;
    } cases[] = {
        {"forward past the end: 8.5 mirrors to 7", 7, kHalf, 0, 1, 1, 7, 1},
        // The frames are counted on steps cut by 5 bits: the run stops at 8 - 31 units, in
        // sample 7, which mirrors to the loop end.
        {"forward 31 units short of the end: 7 mirrors to 8", 5, 0xFFFFFFE1u, 0, 1, 2, 8, 1},
        // A position on a sample point lands one sample further than the integer mirror.
        {"forward exactly on the end: 8.0 turns there", 7, 0, 0, 1, 1, 8, 1},
        {"backward past the start: 1.5 mirrors to 2", 2, kHalf, 1, 1, 1, 2, 0},
        // The mirror would give 1, below the loop start, which no further mirror brings back
        // into the loop: the turn happens on the loop start instead.
        {"backward 31 units short of the start: turns on 2", 4, 0x1F, 1, 1, 2, 2, 0},
        {"backward exactly on the start: 2.0 turns there", 3, 0, 1, 1, 1, 2, 0},
        {"a step longer than the loop: 14.5 mirrors to 1, then to 2", 7, kHalf, 0, 7, 1, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(1));
        Voice& v = *l.channel().voice;
        v.stepInteger = c.stepInteger;
        v.stepFraction = 0;
        v.position = c.position;
        v.fraction = c.fraction;
        v.direction = c.direction;
        MixRun(*l.engine, c.frames, 0);
        ASSERT_NE(v.sample, nullptr);
        EXPECT_EQ(v.position, c.turnedPosition);
        EXPECT_EQ(v.direction, c.turnedDirection);
    }
}

TEST(Mixer, AmigaPortamentoReachesStepsOf32SamplesAndStaysInsideTheSample) {
    // The smallest module with a step of 32 samples per frame or more: in Amiga mode a
    // portamento up takes the period down to 1, 14,317,456 Hz, 298 samples per frame, over a
    // forward loop of 2,000 equal values. The frames to the loop end are counted with the
    // step's every bit (with its upper bits cut away the count would be about 29 times too
    // large and the voice would read on past its data): every frame sounds the loop's value.
    xmtest::Module m = OneNoteModule(false);
    m.At(0, 0, 0) = {49, 1, 0, 0x1, 0xFF}; // C-4, portamento up by 1,020 per tick
    m.instruments[0] = xmtest::ConstantInstrument(64, 2000);
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(3)); // periods 1,712, 692 and 1; nothing mixed yet
    Voice& v = *l.channel().voice;
    ASSERT_EQ(v.stepInteger, 298u);
    v.leftVolume = 128 * v.leftTarget; // steady: the run is not split by a ramp
    v.rightVolume = 128 * v.rightTarget;
    std::fill(std::begin(l.engine->mixBuffer), std::end(l.engine->mixBuffer), 0);
    MixRun(*l.engine, 1024, 0);
    ASSERT_NE(v.sample, nullptr);
    EXPECT_LT(v.position, 2000u);
    ASSERT_NE(l.engine->mixBuffer[0], 0);
    for (int i = 2; i < 2 * 1024; ++i) {
        ASSERT_EQ(l.engine->mixBuffer[i], l.engine->mixBuffer[i % 2]) << "value " << i;
    }
}

TEST(Mixer, ARunThatOverrunsALimitAppliesTheLoopRule) {
    // The frames to a limit are counted on steps cut by 5 bits. With a step of 32 * S + 31
    // units and a distance of 32 * (N * S + 1), N frames do not seem to reach the limit, yet
    // they carry the position 31 * N - 32 units past it. That position has reached the limit:
    // the loop rule applies, whether the run ended there (N = 1,024) or a ramp cut it (N =
    // 128, the fade-in of a fresh note), and the voice sounds on.
    constexpr std::uint32_t kStep = 0x7FFFFFFF; // 32 * S + 31, S = 0x3FFFFFF
    constexpr std::int64_t kS = kStep >> 5;
    enum Type : std::uint8_t { NoLoop = 0, Forward = 1, PingPong = 2 };
    struct Case {
        const char* what;
        std::uint8_t loopType;
        std::uint32_t length, loopStart, loopLength;
        std::uint8_t direction;
        std::int64_t frames; // N
        bool ramp;           // a fresh note: the 128-frame fade-in cuts the run
    } cases[] = {
        {"forward loop ending at the sample's end", Forward, 600, 0, 600, 0, 1024, false},
        {"forward loop with a tail after it", Forward, 700, 0, 600, 0, 1024, false},
        {"ping-pong loop, backward to a loop start at 0", PingPong, 600, 0, 600, 1, 1024, false},
        {"ping-pong loop, forward to its end", PingPong, 600, 100, 500, 0, 1024, false},
        {"sample without a loop", NoLoop, 600, 0, 0, 0, 1024, false},
        {"forward loop, run cut by the fade-in", Forward, 700, 0, 600, 0, 128, true},
        {"ping-pong loop, backward, run cut by the fade-in", PingPong, 600, 50, 550, 1, 128, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // 16-bit values: 1000 inside the loop, -30000 in the tail after it.
        xmtest::Module m = OneNoteModule();
        xmtest::Sample s;
        s.bits16 = true;
        s.values.assign(c.length, 1000);
        const std::uint32_t loopEnd = c.loopType ? c.loopStart + c.loopLength : c.length;
        for (std::uint32_t i = loopEnd; i < c.length; ++i) {
            s.values[i] = -30000;
        }
        s.loopType = c.loopType;
        s.loopStart = c.loopStart;
        s.loopLength = c.loopLength;
        m.instruments[0].samples = {s};
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(1));
        Voice& v = *l.channel().voice;
        if (!c.ramp) {
            v.leftVolume = 128 * v.leftTarget; // steady: no ramp splits the run
            v.rightVolume = 128 * v.rightTarget;
        }
        v.stepInteger = 0;
        v.stepFraction = kStep;
        const std::int64_t distance = 32 * (c.frames * kS + 1);
        const std::int64_t limit = std::int64_t{c.direction ? c.loopStart : loopEnd} << 32;
        const std::int64_t start = c.direction ? limit + distance : limit - distance;
        v.position = static_cast<std::uint32_t>(start >> 32);
        v.fraction = static_cast<std::uint32_t>(start);
        v.direction = c.direction;
        std::fill(std::begin(l.engine->mixBuffer), std::end(l.engine->mixBuffer), 0);
        MixRun(*l.engine, 1024, 0);
        if (c.loopType == NoLoop) {
            EXPECT_EQ(v.sample, nullptr);
            continue;
        }
        ASSERT_NE(v.sample, nullptr);
        ASSERT_GE(v.position, c.loopStart);
        ASSERT_LT(v.position, loopEnd);
        // And on: every later frame sounds, from inside the loop, never from its tail.
        MixRun(*l.engine, 1024, 0);
        MixRun(*l.engine, 1024, 0);
        ASSERT_NE(v.sample, nullptr);
        EXPECT_LT(v.position, loopEnd);
        for (int i = 2 * 128; i < 2 * 1024; ++i) {
            ASSERT_GT(l.engine->mixBuffer[i], 0) << "value " << i;
        }
    }
}

TEST(Mixer, ASustainedNoteKeepsSoundingThroughItsLoop) {
    // The smallest real case: one note on a 4,450-value forward loop at 122 BPM (Amiga
    // periods, finetune 107, note 14). About 3.8 s in, a run stops 31 units per frame short
    // of the loop end by its count and past it in fact; the note must sound on to the end.
    xmtest::Module m = OneNoteModule(false);
    m.bpm = 122;
    m.At(0, 0, 0) = {14, 1, 0, 0, 0};
    m.instruments[0] = xmtest::ConstantInstrument(64, 4450);
    m.instruments[0].samples[0].finetune = 107;
    m.tempo = 31; // one row of 31 ticks: the note is held, the pattern does not end soon
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    std::int16_t block[kBlockFrames * 2];
    for (int b = 0; b < 12 * 48000 / kBlockFrames; ++b) {
        ASSERT_TRUE(RenderBlock(*l.engine, block));
        if (b == 0) {
            continue; // the fade-in
        }
        for (int i = 0; i < kBlockFrames * 2; ++i) {
            ASSERT_NE(block[i], 0) << "silent at block " << b << " value " << i;
        }
    }
}

TEST(Mixer, SampleWithoutLoopEndsTheVoice) {
    xmtest::Module m = OneNoteModule();
    xmtest::Sample s;
    s.values = {10, 20, 30, 40};
    m.instruments[0].samples = {s};
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(1));
    Voice& v = *l.channel().voice;
    v.stepInteger = 1;
    v.stepFraction = 0;
    MixRun(*l.engine, 4, 0); // the last frame reads value 40 and the zero guard
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(v.position, 0u);
}

TEST(Mixer, HugeStepsStayInsideTheSample) {
    // 40 and 300 samples per frame: the frames to the limit are counted with the whole step.
    xmtest::Module m = OneNoteModule(false);
    xmtest::Sample s;
    s.values.assign(1000, 50);
    m.instruments[0].samples = {s};
    for (std::uint32_t integer : {40u, 300u}) {
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(1));
        Voice& v = *l.channel().voice;
        v.stepInteger = integer;
        v.stepFraction = 0;
        MixRun(*l.engine, 1024, 0);
        EXPECT_EQ(v.sample, nullptr) << integer;
    }
}

TEST(MixPaths, VectorKernelsAddWhatTheScalarLoopAdds) {
    // Random spans against the scalar loop: values at the 16-bit extremes, fractions at
    // their ends, steps from the slowest to 40 samples per frame in both directions, steady,
    // centred, fine and ramping volumes (also negative ones and ones beyond the vector
    // range), spans of any length, accumulators near the 32-bit limits. Every sum, the
    // position and the volumes afterwards must be identical, and nothing else touched.
    std::mt19937 rng(20261210);
    auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
    for (MixPath path : {MixPath::Sse2, MixPath::Avx2, MixPath::Avx512}) {
        if (!MixPathAvailable(path)) {
            continue;
        }
        SCOPED_TRACE(MixPathName(path));
        ASSERT_NE(KernelsFor(path), nullptr);
        const MixKernel kernel = KernelsFor(path)->mix;
        for (int trial = 0; trial < 20000; ++trial) {
            SCOPED_TRACE(trial);
            const int frames =
                pick(4) == 0 ? 1 + static_cast<int>(pick(1024)) : 1 + static_cast<int>(pick(70));
            std::uint64_t step;
            switch (pick(4)) {
            case 0:
                step = 32 + pick(1000); // the slowest steps
                break;
            case 1:
                step = rng(); // below one sample per frame
                break;
            case 2:
                step = std::uint64_t{1 + pick(3)} << 32 | rng();
                break;
            default:
                step = std::uint64_t{pick(41)} << 32 | rng();
                break;
            }
            const bool backward = pick(3) == 0;
            const std::int64_t reach = static_cast<std::int64_t>((step * (frames - 1)) >> 32) + 3;
            const std::int64_t length = reach + pick(64);
            // One value before the first (a backward run may read it) and guards after.
            std::vector<std::int16_t> data(static_cast<std::size_t>(length) + 8);
            for (std::int16_t& v : data) {
                switch (pick(4)) {
                case 0:
                    v = -32768;
                    break;
                case 1:
                    v = 32767;
                    break;
                default:
                    v = static_cast<std::int16_t>(rng());
                    break;
                }
            }
            const std::int16_t* values = data.data() + 1;
            const std::int64_t slack = length - reach; // start positions that keep reads inside
            std::int64_t start =
                static_cast<std::int64_t>(pick(static_cast<std::uint32_t>(slack + 1)));
            start += backward ? reach - 2 : -1;
            std::uint32_t fraction = rng();
            if (pick(4) == 0) {
                fraction = pick(2) ? 0xFFFFFFFFu - pick(4) : pick(4);
            }
            std::int32_t left, right, incL = 0, incR = 0;
            auto volume = [&] {
                switch (pick(4)) {
                case 0:
                    return static_cast<std::int32_t>(128 * pick(128));
                case 1:
                    return static_cast<std::int32_t>(pick(16384)) - 127;
                case 2:
                    return -static_cast<std::int32_t>(pick(128));
                default:
                    return static_cast<std::int32_t>(pick(200000)) - 100000;
                }
            };
            left = volume();
            right = pick(3) == 0 ? left : volume();
            if (pick(3) == 0) {
                // A ramp as the mixer sets it up: towards 128 x target over 128 frames.
                incL = (128 * static_cast<std::int32_t>(pick(128)) - left) >> 7;
                incR = (128 * static_cast<std::int32_t>(pick(128)) - right) >> 7;
            }
            std::vector<std::int32_t> sums(2 * static_cast<std::size_t>(frames) + 16);
            for (std::int32_t& v : sums) {
                v = pick(8) == 0 ? INT32_MAX - static_cast<std::int32_t>(pick(1000))
                                 : static_cast<std::int32_t>(rng());
            }
            std::vector<std::int32_t> expected = sums;
            const std::int64_t position =
                static_cast<std::int64_t>(static_cast<std::uint64_t>(start) << 32 | fraction);
            const std::int64_t signedStep =
                backward ? -static_cast<std::int64_t>(step) : static_cast<std::int64_t>(step);
            // data holds values[-1] to values[length + 6].
            MixSpan a{.values = values,
                      .readable = length + 7,
                      .position = position,
                      .step = signedStep,
                      .out = expected.data(),
                      .frames = frames,
                      .left = left,
                      .right = right,
                      .leftIncrement = incL,
                      .rightIncrement = incR};
            MixSpan b = a;
            b.out = sums.data();
            MixSpanScalar(a);
            kernel(b);
            ASSERT_EQ(b.position, a.position);
            ASSERT_EQ(b.left, a.left);
            ASSERT_EQ(b.right, a.right);
            ASSERT_EQ(b.frames, a.frames);
            ASSERT_EQ(b.out - sums.data(), a.out - expected.data());
            for (std::size_t i = 0; i < sums.size(); ++i) {
                ASSERT_EQ(sums[i], expected[i]) << "value " << i << " of " << 2 * frames;
            }
        }
    }
}

TEST(Output, BlockConversionEqualsTheSampleRuleOnEveryPath) {
    // The block conversion of each mixing path against the plain rule, over edges, a sweep,
    // and both ends of every step of 64 below the limit (every dividend of the division by
    // 255 that the vector paths do by multiplication).
    std::vector<std::int32_t> in = {
        0,         8159,       8160,      -8160,     -8159,         534765599,       534765600,
        534765601, -534765600, INT32_MAX, INT32_MIN, INT32_MIN + 1, 16320 * 3 + 8159};
    for (std::int64_t v = -600000000; v <= 600000000; v += 12345) {
        in.push_back(static_cast<std::int32_t>(v));
    }
    for (std::int32_t k = -32770; k <= 32770; ++k) {
        in.push_back(k * 16320 + 8160);
        in.push_back(k * 16320 + 8159);
    }
    for (std::int32_t a = 0; a <= 534765599; a += 64) {
        in.push_back(a);
        in.push_back(-a - 63);
    }
    std::vector<std::int16_t> expected(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const std::int64_t v = in[i];
        const std::int64_t a = v < 0 ? -v : v;
        std::int64_t m = a / 16320 + (a % 16320 >= 8160 ? 1 : 0);
        if (m > 32767)
            m = 32767;
        expected[i] = static_cast<std::int16_t>(v < 0 ? -m : m);
        ASSERT_EQ(ConvertSample(in[i]), expected[i]) << v;
    }
    for (MixPath path : {MixPath::Scalar, MixPath::Sse2, MixPath::Avx2, MixPath::Avx512}) {
        if (!MixPathAvailable(path)) {
            continue;
        }
        SCOPED_TRACE(MixPathName(path));
        std::vector<std::int16_t> out(in.size());
        ConvertBlock(in.data(), out.data(), static_cast<int>(in.size()), path);
        for (std::size_t i = 0; i < in.size(); ++i) {
            ASSERT_EQ(out[i], expected[i]) << in[i];
        }
        // Counts that leave a rest after the whole vectors.
        for (int count : {1, 7, 15, 17, 31, 33}) {
            std::vector<std::int16_t> part(count, 12345);
            ConvertBlock(in.data() + 3, part.data(), count, path);
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(part[i], expected[3 + i]) << count;
            }
        }
    }
}
