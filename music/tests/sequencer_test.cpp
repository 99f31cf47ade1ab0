// Rows, ticks and effects, each on a small synthetic module run tick by tick.
#include <gtest/gtest.h>

#include "music/engine.h"
#include "music/mixer.h"
#include "music/sequencer.h"
#include "music/tests/xm_builder.h"

using namespace music;
using xmtest::Loaded;

namespace {

xmtest::Module Song(int channels = 1, int songLength = 1, std::uint16_t rows = 64) {
    xmtest::Module m;
    m.channels = static_cast<std::uint16_t>(channels);
    m.songLength = static_cast<std::uint16_t>(songLength);
    m.instruments.push_back(xmtest::ConstantInstrument());
    m.instruments[0].samples[0].volume = 40;
    m.AddPattern(rows);
    return m;
}

// Ticks until the song reaches the given row start; returns the number of ticks it took.
int TicksUntilRowChanges(Loaded& l, int limit = 1000) {
    const std::uint32_t row = l.song().row;
    const std::uint32_t order = l.song().order;
    for (int n = 1; n <= limit; ++n) {
        EXPECT_TRUE(l.Ticks(1));
        if (l.song().row != row || l.song().order != order) {
            return n - 1;
        }
    }
    return -1;
}

} // namespace

TEST(Rows, JumpAndBreakPrecedence) {
    struct Case {
        std::uint8_t effect0, param0, effect1, param1;
        std::uint32_t order, row;
    } cases[] = {
        {11, 0x05, 13, 0x10, 5, 10}, // B05 then D10: the break keeps the jump's order
        {13, 0x10, 11, 0x05, 5, 0},  // D10 then B05: the jump wins whole
        {11, 0x63, 0, 0, 0, 0},      // a jump beyond the song goes to order 0
        {13, 0x21, 0, 0, 1, 21},
    };
    for (const Case& c : cases) {
        xmtest::Module m = Song(2, 8);
        m.At(0, 0, 0) = {0, 0, 0, c.effect0, c.param0};
        m.At(0, 0, 1) = {0, 0, 0, c.effect1, c.param1};
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(6));
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.song().order, c.order) << int(c.effect0) << "/" << int(c.effect1);
        EXPECT_EQ(l.song().row, c.row);
    }
}

TEST(Rows, BreakInTheLastOrderGoesToTheStartEvenWithoutLoop) {
    xmtest::Module m = Song(1, 2);
    m.At(0, 0, 0) = {0, 0, 0, 13, 0x00};
    Loaded l(m, /*noLoop=*/true);
    ASSERT_TRUE(l.ok);
    l.song().nextOrder = 1; // start in the last order position
    ASSERT_TRUE(l.Ticks(6));
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.song().order, 0u);
}

TEST(Rows, RowLengthFromSpeedAndPatternDelay) {
    struct Case {
        std::uint16_t tempo;
        std::uint8_t effect, param;
        int ticks; // ticks of row 0 after its first
    } cases[] = {
        {6, 0, 0, 5},     {6, 14, 0xE2, 17}, // EE2: 6 + 12 ticks
        {0, 0, 0, 0},                        // speed 0 behaves as speed 1
        {6, 15, 0x00, 0},                    // F00 likewise
        {6, 15, 0x03, 2},
    };
    for (const Case& c : cases) {
        xmtest::Module m = Song();
        m.tempo = c.tempo;
        m.At(0, 0, 0) = {0, 0, 0, c.effect, c.param};
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(TicksUntilRowChanges(l), c.ticks) << int(c.effect) << " " << int(c.param);
    }
    // 111 BPM: 1,081 frames per tick.
    xmtest::Module m = Song();
    m.bpm = 111;
    Loaded l(m);
    EXPECT_EQ(l.song().samplesPerTick, 1081u);
    SetTempo(l.song(), 0);
    EXPECT_EQ(l.song().samplesPerTick, 120000u);
}

TEST(Rows, ArpeggioDuringPatternDelayCountsTicksOnward) {
    xmtest::Module m = Song();
    m.At(0, 0, 0) = {49, 1, 0, 0, 0x0B};
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    const std::int32_t expected[] = {0, 0, 704, 0, 0, 704}; // ticks 0..5
    for (int t = 0; t < 6; ++t) {
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.channel().periodDelta, expected[t]) << "tick " << t;
    }
}

TEST(Rows, SongEndsOrLoopsAtTheRestartPosition) {
    struct Case {
        std::uint16_t restart;
        std::uint32_t order;
    } cases[] = {{3, 3}, {50, 0}, {43, 43}, {0, 0}};
    for (const Case& c : cases) {
        xmtest::Module m = Song(1, 44, 1);
        m.tempo = 1;
        m.restart = c.restart;
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(44));
        EXPECT_EQ(l.song().order, 43u);
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.song().order, c.order) << c.restart;
    }
    xmtest::Module m = Song(1, 44, 1);
    m.tempo = 1;
    Loaded l(m, /*noLoop=*/true);
    EXPECT_TRUE(l.Ticks(43));
    EXPECT_FALSE(l.Ticks(1)); // the last row ends the song
}

TEST(Effects, MultiRetrigRestartsQuieter) {
    xmtest::Module m = Song();
    m.At(0, 0, 0) = {49, 1, 0x40, 27, 0x22}; // volume 48, R22
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    const std::int32_t volume[] = {48, 48, 46, 46, 44, 44};
    Voice* voiceAt[6];
    for (int t = 0; t < 6; ++t) {
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.channel().volume, volume[t]) << "tick " << t;
        voiceAt[t] = l.channel().voice;
    }
    EXPECT_EQ(voiceAt[1], voiceAt[0]);
    EXPECT_NE(voiceAt[2], voiceAt[1]);
    EXPECT_EQ(voiceAt[3], voiceAt[2]);
    EXPECT_NE(voiceAt[4], voiceAt[3]);
}

TEST(Effects, TremorTwoOnTwoOffAcrossRows) {
    xmtest::Module m = Song();
    m.At(0, 0, 0) = {49, 1, 0, 29, 0x11};
    m.At(0, 1, 0) = {0, 0, 0, 29, 0x00};
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    const bool sounding[] = {1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0};
    for (int t = 0; t < 12; ++t) {
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.channel().voice->finalVolume != 0, sounding[t]) << "tick " << t;
    }
}

TEST(Effects, NoteDelayAndNoteCut) {
    // ED0: never starts; ED1: starts at tick 1 and later volume changes do not reach the
    // voice; EC0: cuts nothing; EC2: silent from tick 2.
    struct Case {
        std::uint8_t param;
        std::uint8_t volumeByte;
        bool startedAtTick0, startedAtTick1;
        std::int32_t finalAtTick5;
    } cases[] = {
        {0xD0, 0, false, false, 0},
        {0xD1, 0x61, false, true, 77}, // volume 39 at the delayed start; later slides stay off
        {0xC0, 0, true, true, 79},
        {0xC2, 0, true, true, 0},
    };
    for (const Case& c : cases) {
        xmtest::Module m = Song();
        m.At(0, 0, 0) = {49, 1, c.volumeByte, 14, c.param};
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.channel().voice->sample != nullptr, c.startedAtTick0)
            << std::hex << int(c.param);
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.channel().voice->sample != nullptr, c.startedAtTick1)
            << std::hex << int(c.param);
        ASSERT_TRUE(l.Ticks(4));
        EXPECT_EQ(l.channel().voice->finalVolume, c.finalAtTick5) << std::hex << int(c.param);
    }
}

TEST(Effects, SampleOffsetBelowAndAtTheLoopEnd) {
    // The sample's loop ends at 256: 9xx with 0x100 does not start the note and restarts the
    // note already sounding from its beginning.
    xmtest::Module m = Song();
    m.tempo = 1;
    m.At(0, 0, 0) = {49, 1, 0, 0, 0};
    m.At(0, 1, 0) = {49, 0, 0, 9, 0x01};
    m.At(0, 2, 0) = {49, 0, 0, 9, 0x00}; // memory: still 0x100
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(1));
    Voice* first = l.channel().voice;
    MixRun(*l.engine, 1000, 0);
    EXPECT_NE(first->position, 0u);
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().voice, first);
    EXPECT_EQ(first->position, 0u);
    EXPECT_EQ(first->fraction, 0u);

    m.instruments[0].samples[0].values.assign(1024, 64);
    m.instruments[0].samples[0].loopLength = 1024;
    Loaded longer(m);
    ASSERT_TRUE(longer.ok);
    ASSERT_TRUE(longer.Ticks(2));
    EXPECT_NE(longer.channel().voice, &longer.voice(0));
    EXPECT_EQ(longer.channel().voice->position, 0x100u);
}

TEST(Effects, VolumeColumnBytes) {
    struct Case {
        std::uint8_t byte;
        std::int32_t volumeAtTick0, volumeAtTick2, panningAtTick0;
    } cases[] = {
        {0x00, 40, 40, 128}, {0x10, 0, 0, 128},   {0x50, 64, 64, 128}, {0x55, 40, 40, 128},
        {0x62, 38, 34, 128}, {0x73, 43, 49, 128}, {0x84, 36, 36, 128}, {0x95, 45, 45, 128},
        {0xC3, 40, 40, 48},  {0xD4, 40, 40, 124}, {0xE4, 40, 40, 132},
    };
    for (const Case& c : cases) {
        xmtest::Module m = Song();
        m.At(0, 0, 0) = {49, 1, c.byte, 0, 0};
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.channel().volume, c.volumeAtTick0) << std::hex << int(c.byte);
        EXPECT_EQ(l.channel().panning, c.panningAtTick0) << std::hex << int(c.byte);
        ASSERT_TRUE(l.Ticks(2));
        EXPECT_EQ(l.channel().volume, c.volumeAtTick2) << std::hex << int(c.byte);
    }
}

TEST(Effects, KeyOffWithInstrumentResetsThenReleases) {
    xmtest::Module m = Song();
    m.tempo = 1;
    m.At(0, 0, 0) = {49, 1, 0x20, 0, 0};
    m.At(0, 1, 0) = {97, 1, 0, 0, 0};
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().volume, 16);
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().volume, 40); // the instrument's reset ran
    EXPECT_EQ(l.channel().keyReleased, 1);
    EXPECT_EQ(l.channel().envelopeVolume, 0); // no volume envelope: silent at once
    EXPECT_EQ(l.channel().voice->finalVolume, 0);
}

TEST(Effects, TonePortamentoKeepsInstrumentAndSample) {
    xmtest::Module m = Song();
    m.instruments.push_back(xmtest::ConstantInstrument(-64));
    m.At(0, 0, 0) = {49, 1, 0, 0, 0};
    m.At(0, 1, 0) = {61, 2, 0, 3, 0x10};
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(6));
    Voice* v = l.channel().voice;
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().voice, v); // not restarted
    EXPECT_EQ(l.channel().instrument, 0);
    EXPECT_EQ(l.channel().period, 4608);
    EXPECT_EQ(l.channel().portamentoTarget, 3840);
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().period, 4608 - 64);
}

TEST(Envelopes, SustainHoldsUntilKeyOffAndLoopsRepeat) {
    xmtest::Module m = Song();
    m.tempo = 1;
    xmtest::Instrument& ins = m.instruments[0];
    ins.volume.points = {{0, 64}, {2, 32}, {4, 48}, {6, 16}};
    ins.volume.type = EnvOn | EnvSustain;
    ins.volume.sustain = 1;
    m.At(0, 0, 0) = {49, 1, 0, 0, 0};
    m.At(0, 8, 0) = {97, 0, 0, 0, 0};
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    const std::int32_t expected[] = {64, 48, 32, 32, 32, 32, 32, 32, 32, 40, 48, 32, 16, 16};
    for (int t = 0; t < 14; ++t) {
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.channel().envelopeVolume, expected[t]) << "tick " << t;
    }

    ins.volume.type = EnvOn | EnvLoop;
    ins.volume.loopStart = 1;
    ins.volume.loopEnd = 3;
    Loaded looped(m);
    ASSERT_TRUE(looped.ok);
    const std::int32_t loopExpected[] = {64, 48, 32, 40, 48, 32, 32, 40, 48, 32, 32, 40};
    for (int t = 0; t < 12; ++t) {
        ASSERT_TRUE(looped.Ticks(1));
        EXPECT_EQ(looped.channel().envelopeVolume, loopExpected[t]) << "tick " << t;
        EXPECT_EQ(looped.channel().volumeEnvEnded, 0);
    }
}

TEST(Envelopes, AutoVibratoSweepGrowsOverSixteenTicks) {
    xmtest::Module m = Song();
    xmtest::Instrument& ins = m.instruments[0];
    ins.vibType = 1; // square: +64 while the position is below 128
    ins.vibDepth = 16;
    ins.vibSweep = 16;
    ins.vibRate = 0;
    m.At(0, 0, 0) = {49, 1, 0, 0, 0};
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    for (int t = 0; t < 24; ++t) {
        ASSERT_TRUE(l.Ticks(1));
        EXPECT_EQ(l.channel().periodDelta, t < 16 ? t : 16) << "tick " << t;
    }
}

TEST(Envelopes, FadeoutAfterKeyOff) {
    xmtest::Module m = Song();
    m.tempo = 1;
    xmtest::Instrument& ins = m.instruments[0];
    ins.volume.points = {{0, 64}, {10, 64}};
    ins.volume.type = EnvOn;
    ins.fadeout = 0x4000; // doubled: 32768 a tick
    m.At(0, 0, 0) = {49, 1, 0, 0, 0};
    m.At(0, 1, 0) = {0, 0, 0, 20, 0}; // K00
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().fadeVolume, 65536);
    ASSERT_TRUE(l.Ticks(1));
    EXPECT_EQ(l.channel().fadeVolume, 32768);
    ASSERT_TRUE(l.Ticks(2));
    EXPECT_EQ(l.channel().fadeVolume, 0);
    EXPECT_EQ(l.channel().voice->finalVolume, 0);
}

TEST(Envelope, ALoopStartBeyondThePointCountStillJumpsThere) {
    // Four points in use, twelve stored: the loop end (point 3, at tick 6) sends the envelope
    // to point 6 (x 12, y 30), whose value it then holds past its point count.
    xmtest::Module m = Song(1, 2);
    xmtest::Instrument& ins = m.instruments[0];
    ins.volume.points = {{0, 64}, {2, 64}, {4, 64}, {6, 64}, {8, 10}, {10, 20}, {12, 30}, {14, 40}};
    ins.volume.countOverride = 4;
    ins.volume.type = EnvOn | EnvLoop;
    ins.volume.loopStart = 6;
    ins.volume.loopEnd = 3;
    xmtest::Loaded l(m);
    ASSERT_TRUE(l.ok);
    ASSERT_TRUE(l.Ticks(12));
    EXPECT_EQ(l.channel().envelopeVolume, 30);
    EXPECT_EQ(l.channel().volumeEnv.tick, 18);
    EXPECT_FALSE(l.channel().volumeEnvEnded);
}

TEST(Robustness, MalformedIndicesStayInsideTheirArrays) {
    // Each case would index outside a pattern, an envelope or the instruments if taken as it
    // stands; the song must play on (ASan and UBSan watch the native-asan build).
    struct Case {
        const char* what;
        void (*change)(xmtest::Module&);
    } cases[] = {
        {"break to a row beyond the pattern",
         [](xmtest::Module& m) {
             m.At(0, 0, 0) = {49, 1, 0, 13, 0x99};
         }},
        {"pattern loop back to a row beyond the pattern",
         [](xmtest::Module& m) {
             m.At(0, 0, 0) = {49, 1, 0, 13, 0x70};
             m.At(0, 1, 0) = {0, 0, 0, 14, 0x62};
         }},
        {"envelope of 40 points with a loop at point 30",
         [](xmtest::Module& m) {
             xmtest::Instrument& ins = m.instruments[0];
             for (int i = 0; i < 12; ++i)
                 ins.volume.points.push_back({std::uint16_t(i * 2), 40});
             ins.volume.countOverride = 40;
             ins.volume.type = EnvOn | EnvLoop | EnvSustain;
             ins.volume.loopStart = 30;
             ins.volume.loopEnd = 11;
             ins.volume.sustain = 200;
             m.At(0, 0, 0) = {49, 1, 0, 21, 0xFF}; // L: envelope position past the end
         }},
        {"loop start beyond the points",
         [](xmtest::Module& m) {
             xmtest::Instrument& ins = m.instruments[0];
             ins.volume.points = {{0, 64}, {4, 0}, {8, 64}};
             ins.volume.type = EnvOn | EnvLoop;
             ins.volume.loopStart = 11;
             ins.volume.loopEnd = 2;
         }},
        {"notes but no instruments",
         [](xmtest::Module& m) {
             m.instruments.clear();
             m.At(0, 0, 0) = {49, 1, 0, 0, 0};
         }},
        {"sample map beyond the samples, finetune of the missing sample",
         [](xmtest::Module& m) {
             for (auto& e : m.instruments[0].sampleMap)
                 e = 200;
             m.At(0, 0, 0) = {49, 1, 0, 14, 0x57}; // E57 on the stand-in for no sample
         }},
        {"volumes, periods and panning slid without end",
         [](xmtest::Module& m) {
             m.tempo = 31;
             m.At(0, 0, 0) = {49, 1, 0xE9, 27, 0xF1}; // doubling retrig every tick
             m.At(0, 1, 0) = {0, 0, 0, 2, 0xFF};
             m.At(0, 2, 0) = {0, 0, 0, 17, 0xF0};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        xmtest::Module m = Song(1, 2);
        m.orders[1] = 0;
        c.change(m);
        xmtest::Loaded l(m);
        ASSERT_TRUE(l.ok);
        std::int16_t block[kBlockFrames * 2];
        for (int b = 0; b < 400; ++b) {
            ASSERT_TRUE(RenderBlock(*l.engine, block));
        }
        if (m.instruments.size() > 0 && m.instruments[0].volume.points.size() > 0) {
            EXPECT_LE(l.channel().volumeEnv.index, kEnvelopePoints);
        }
    }
    // The shared stand-in for a missing sample stays all-zero.
    EXPECT_EQ(EmptySample()->finetune, 0);
    EXPECT_EQ(EmptySample()->length, 0u);
    EXPECT_EQ(EmptySample()->Values()[0], 0);
}
