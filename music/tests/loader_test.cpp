// The loader's checks, its rules for missing and short data, and the sample decoders.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "music/engine.h"
#include "music/tests/xm_builder.h"

using namespace music;
using xmtest::Loaded;

namespace {

xmtest::Module Basic() {
    xmtest::Module m;
    m.channels = 2;
    m.instruments.push_back(xmtest::ConstantInstrument());
    m.AddPattern();
    m.At(0, 0, 0) = {49, 1, 0, 0, 0};
    return m;
}

} // namespace

TEST(Loader, RefusesOnlyWhatTheChecksName) {
    struct Case {
        const char* what;
        void (*change)(xmtest::Module&);
        bool loads;
    } cases[] = {
        {"basic", [](xmtest::Module&) {}, true},
        {"pattern count 0", [](xmtest::Module& m) { m.patternCountOverride = 0; }, false},
        {"song length 0", [](xmtest::Module& m) { m.songLength = 0; }, false},
        {"song length 256", [](xmtest::Module& m) { m.songLength = 256; }, true},
        {"song length 257", [](xmtest::Module& m) { m.songLength = 257; }, false},
        {"channels 0", [](xmtest::Module& m) { m.channels = 0x0100; }, false},
        {"channels 64",
         [](xmtest::Module& m) {
             m.channels = 64;
             m.patterns.clear();
             m.AddPattern();
         },
         true},
        {"channels 65",
         [](xmtest::Module& m) {
             m.channels = 65;
             m.patterns.clear();
             m.AddPattern();
         },
         false},
        {"rows 0 with data", [](xmtest::Module& m) { m.patterns[0].rows = 0; }, false},
        {"rows 257",
         [](xmtest::Module& m) {
             m.patterns.clear();
             m.AddPattern(257);
         },
         false},
        {"rows 256",
         [](xmtest::Module& m) {
             m.patterns.clear();
             m.AddPattern(256);
         },
         true},
        {"rows 0 without data",
         [](xmtest::Module& m) {
             m.patterns[0].rows = 0;
             m.patterns[0].stored = false;
         },
         true},
        {"sample header 40", [](xmtest::Module&) {}, true},
        {"sample header 41", [](xmtest::Module& m) { m.instruments[0].sampleHeaderSize = 41; },
         false},
        {"16 samples", [](xmtest::Module& m) { m.instruments[0].samples.resize(16); }, true},
        {"17 samples", [](xmtest::Module& m) { m.instruments[0].samples.resize(17); }, false},
        {"17 samples, low byte",
         [](xmtest::Module& m) { m.instruments[0].sampleCountOverride = 0x0101; }, true},
        {"bad id and version", [](xmtest::Module&) {}, true},
    };
    for (const Case& c : cases) {
        xmtest::Module m = Basic();
        c.change(m);
        std::vector<std::uint8_t> bytes = xmtest::Write(m);
        if (std::string(c.what) == "bad id and version") {
            bytes[0] = 'X';
            bytes[37] = 0;
            bytes[58] = 0x99;
        }
        Loaded l(bytes);
        EXPECT_EQ(l.ok, c.loads) << c.what;
    }
}

TEST(Loader, SampleLengthLimit) {
    // Headers only: the data lies beyond the end of the source and reads as zero.
    for (std::uint32_t length : {(1u << 22) - 1, 1u << 22, 0xFFFFFFFFu}) {
        xmtest::Module m = Basic();
        std::vector<std::uint8_t> bytes = xmtest::Write(m);
        // The instrument starts after the pattern; its first sample header follows 263 bytes.
        const std::size_t sampleHeader = bytes.size() - 256 - 40;
        bytes[sampleHeader + 0] = length & 0xFF;
        bytes[sampleHeader + 1] = (length >> 8) & 0xFF;
        bytes[sampleHeader + 2] = (length >> 16) & 0xFF;
        bytes[sampleHeader + 3] = length >> 24;
        bytes.resize(sampleHeader + 40);
        Loaded l(bytes);
        EXPECT_EQ(l.ok, length < (1u << 22)) << length;
    }
}

TEST(Loader, HeaderFieldsAndMissingPatterns) {
    xmtest::Module m = Basic();
    m.channels = 0x0112; // only the low byte counts: 18
    m.patterns.clear();
    for (int i = 0; i < 28; ++i)
        m.AddPattern(32);
    m.songLength = 3;
    m.orders[0] = 0;
    m.orders[1] = 30;
    m.orders[2] = 27;
    m.orders[3] = 200; // beyond the song length: not counted
    m.patterns[5].stored = false;
    m.patterns[5].rows = 77;
    m.At(0, 0, 0) = {49, 9, 0, 0, 0}; // instrument 9 of 1: none
    m.At(0, 1, 0) = {49, 1, 0, 0, 0};
    m.bpm = 111;
    m.tempo = 5;
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    const SongState& s = l.song();
    EXPECT_EQ(s.channelCount, 18u);
    EXPECT_EQ(s.patternCount, 31);
    EXPECT_EQ(s.speed, 5u);
    EXPECT_EQ(s.samplesPerTick, 1081u);
    EXPECT_EQ(s.globalVolume, 64);
    for (int p : {28, 29, 30}) {
        EXPECT_EQ(s.patterns[p].rows, 64) << p;
        ASSERT_NE(s.patterns[p].cells, nullptr);
        EXPECT_EQ(s.patterns[p].cells[64 * 18 - 1].note, 0);
    }
    EXPECT_EQ(s.patterns[5].rows, 77);
    EXPECT_EQ(s.patterns[5].cells, nullptr);
    EXPECT_EQ(s.patterns[0].cells[0].instrument, 0);
    EXPECT_EQ(s.patterns[0].cells[18].instrument, 1);
    EXPECT_EQ(s.voices + 36, reinterpret_cast<Voice*>(s.channels));
    EXPECT_EQ(s.channels[1].voice, &s.voices[2]);
}

TEST(Loader, SampleLoopsAreNormalised) {
    struct Case {
        bool bits16;
        std::uint32_t length, loopStart, loopLength; // in samples as written
        std::uint8_t type;
        std::uint32_t start, len, typeAfter;
    } cases[] = {
        {false, 100, 10, 0, 1, 0, 100, 0},     // loop type 1 with length 0: plain sample
        {false, 100, 10, 50, 0, 0, 100, 0},    // no loop type: the loop is the whole sample
        {false, 100, 150, 10, 1, 0, 100, 0},   // start beyond the end: length 0 loop
        {false, 100, 60, 80, 2, 60, 40, 2},    // loop cut at the end
        {true, 500, 100, 200, 1, 100, 200, 1}, // 16-bit: 1,000 bytes are 500 samples
        {false, 0, 0, 0, 0, 0, 0, 0},
        {false, 100, 10, 20, 3, 10, 20, 3}, // type 3 kept as read
    };
    for (const Case& c : cases) {
        xmtest::Module m = Basic();
        xmtest::Sample& s = m.instruments[0].samples[0];
        s.bits16 = c.bits16;
        s.values.assign(c.length, 5);
        s.loopStart = c.loopStart;
        s.loopLength = c.loopLength;
        s.loopType = c.type;
        Loaded l(m);
        ASSERT_TRUE(l.ok);
        const SampleRecord* r = l.song().instruments[0].samples[0];
        EXPECT_EQ(r->length, c.length);
        EXPECT_EQ(r->loopStart, c.start) << c.length << " " << c.loopStart;
        EXPECT_EQ(r->loopLength, c.len) << c.length << " " << c.loopStart;
        EXPECT_EQ(r->loopType, c.typeAfter);
        EXPECT_EQ(r->Values()[c.length + 1], 0);
        EXPECT_EQ(r->Values()[c.length + 2], 0);
        if (c.typeAfter == 0) {
            EXPECT_EQ(r->Values()[c.length], 0); // no loop: the guard stays 0
        }
    }
}

TEST(Loader, DecodesEightSixteenBitAndAdpcm) {
    xmtest::Module m = Basic();
    xmtest::Sample eight;
    eight.values = {0, 1, -1, 127, -128, 5};
    xmtest::Sample sixteen;
    sixteen.bits16 = true;
    sixteen.values = {0, 300, -300, 32767, -32768, 7};
    xmtest::Sample adpcm;
    adpcm.adpcm = true;
    adpcm.values.resize(5); // length in samples; the data are nibbles
    adpcm.adpcmTable = {0, 1, 2, 4, 8, 16, 32, 64, -1, -2, -4, -8, -16, -32, -64, -128};
    adpcm.adpcmBytes = {0x21, 0x87, 0x0F}; // nibbles 1, 2, 7, 8, 15
    m.instruments[0].samples = {eight, sixteen, adpcm};
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    const std::int16_t* e = l.song().instruments[0].samples[0]->Values();
    const std::int16_t expect8[] = {0, 256, -256, 32512, -32768, 1280};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(e[i], expect8[i]) << i;
    const std::int16_t* s = l.song().instruments[0].samples[1]->Values();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(s[i], sixteen.values[i]) << i;
    const SampleRecord* a = l.song().instruments[0].samples[2];
    ASSERT_EQ(a->length, 5u);
    // Accumulator: 1, 3, 67, 66, -62 (wrapping 8-bit), times 256.
    const std::int16_t expectA[] = {256, 768, 67 * 256, 66 * 256, -62 * 256, 0, 0, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(a->Values()[i], expectA[i]) << i;
}

TEST(Loader, ShortSourceReadsAsZero) {
    // Cut inside the sample data: the rest of the deltas read as 0, so the last value holds.
    xmtest::Module m = Basic();
    xmtest::Sample& smp = m.instruments[0].samples[0];
    smp.values.clear();
    for (int i = 0; i < 256; ++i)
        smp.values.push_back(static_cast<std::int16_t>(i % 100));
    std::vector<std::uint8_t> bytes = xmtest::Write(m);
    bytes.resize(bytes.size() - 200); // keeps values 0..55
    Loaded l(bytes);
    ASSERT_TRUE(l.ok);
    const std::int16_t* v = l.song().instruments[0].samples[0]->Values();
    EXPECT_EQ(v[55], 55 * 256);
    EXPECT_EQ(v[56], 55 * 256);
    EXPECT_EQ(v[255], 55 * 256);
    // Cut inside the header: no pattern data, still only the checks decide.
    std::vector<std::uint8_t> header(bytes.begin(), bytes.begin() + 70);
    Loaded cut(header);
    EXPECT_FALSE(cut.ok); // the pattern count reads as 0
}

TEST(Loader, InstrumentWithoutSamplesStepsBackOverItsShortHeader) {
    xmtest::Module m = Basic();
    xmtest::Instrument empty;
    m.instruments.insert(m.instruments.begin(), empty); // header of 29 bytes, read as 33
    m.At(0, 0, 0) = {49, 2, 0, 0, 0};
    Loaded l(m);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.song().instrumentCount, 2);
    EXPECT_EQ(l.song().instruments[0].samples[0], nullptr);
    ASSERT_NE(l.song().instruments[1].samples[0], nullptr);
    EXPECT_EQ(l.song().instruments[1].samples[0]->length, 256u);
    EXPECT_EQ(l.song().instruments[1].samples[0]->Values()[10], 64 * 256);
}

TEST(Loader, FileReaderMatchesMemory) {
    // Larger than the 8 KB cache, so the cached and the direct reads both run.
    xmtest::Module m = Basic();
    xmtest::Sample& smp = m.instruments[0].samples[0];
    smp.bits16 = true;
    smp.values.clear();
    for (int i = 0; i < 20000; ++i)
        smp.values.push_back(static_cast<std::int16_t>(i * 37));
    smp.loopLength = 20000;
    const std::vector<std::uint8_t> bytes = xmtest::Write(m);
    const auto path = std::filesystem::temp_directory_path() / "music_loader_test.xm";
    {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    }
    Loaded memory(bytes);
    ASSERT_TRUE(memory.ok);
    for (std::size_t cut : {bytes.size(), bytes.size() - 5000}) {
        std::filesystem::resize_file(path, cut);
        auto engine = std::make_unique<Engine>();
        platform::HeapArena* arena = platform::ArenaCreate();
        std::string name = path.string();
        ModuleReader r =
            FileReader(name.c_str(), reinterpret_cast<std::uint8_t*>(engine->mixBuffer));
        ReaderOpen(r);
        ASSERT_TRUE(LoadModule(*engine, r, arena));
        ReaderClose(r);
        const SampleRecord* a = engine->song.instruments[0].samples[0];
        const SampleRecord* b = memory.song().instruments[0].samples[0];
        ASSERT_EQ(a->length, b->length);
        const std::uint32_t whole = cut == bytes.size() ? a->length : a->length - 2500;
        for (std::uint32_t i = 0; i < whole; ++i) {
            ASSERT_EQ(a->Values()[i], b->Values()[i]) << i;
        }
        if (whole < a->length) {
            EXPECT_EQ(a->Values()[a->length - 1], b->Values()[whole - 1]);
        }
        platform::ArenaDestroy(arena);
    }
    std::filesystem::remove(path);

    ModuleReader missing = FileReader("/nonexistent/module.xm", nullptr);
    auto engine = std::make_unique<Engine>();
    missing.cache = reinterpret_cast<std::uint8_t*>(engine->mixBuffer);
    platform::HeapArena* arena = platform::ArenaCreate();
    ReaderOpen(missing);
    EXPECT_FALSE(LoadModule(*engine, missing, arena));
    ReaderClose(missing);
    platform::ArenaDestroy(arena);
}

TEST(Loader, ReaderSeekIgnoresTargetsOutsideTheSource) {
    const std::uint8_t data[10] = {};
    ModuleReader r = MemoryReader(data, 10);
    ReaderSeek(r, 4, SeekFrom::Start);
    EXPECT_EQ(r.position, 4u);
    ReaderSeek(r, 0u - 5, SeekFrom::Current); // "below 0" wraps above the size
    EXPECT_EQ(r.position, 4u);
    ReaderSeek(r, 6, SeekFrom::Current);
    EXPECT_EQ(r.position, 10u);
    ReaderSeek(r, 11, SeekFrom::Start);
    EXPECT_EQ(r.position, 10u);
    std::uint8_t out[4] = {1, 2, 3, 4};
    ReaderRead(r, out, 4); // nothing left: the destination keeps its bytes
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(r.position, 14u);
}

TEST(Loader, ReaderSeekTargetsWrapInThirtyTwoBits) {
    // The loader's seeks with header sizes of 2^31 and more: 60 + size and position + size
    // - bytes read, modulo 2^32. The file reader's size is 0xFFFFFFFF: every target is in it.
    const std::uint8_t data[400] = {};
    struct Case {
        std::uint32_t from, offset;
        SeekFrom how;
        std::uint32_t memory, file; // positions afterwards
    } cases[] = {
        {336, 60 + 0xFFFFFFFFu, SeekFrom::Start, 59, 59},
        {336, 60 + 0xFFFFFFD0u, SeekFrom::Start, 12, 12},
        {300, 0xFFFFFFFFu - 33, SeekFrom::Current, 266, 266},
        {300, 0xFFFFFFD0u - 241, SeekFrom::Current, 11, 11},
        {30, 0xFFFFFFD0u - 241, SeekFrom::Current, 30, 0xFFFFFEFDu},
        {300, 0x7FFFFFFFu, SeekFrom::Current, 300, 0x8000012Bu},
        {300, 0x80000000u, SeekFrom::Start, 300, 0x80000000u},
    };
    for (const Case& c : cases) {
        ModuleReader memory = MemoryReader(data, sizeof(data));
        ModuleReader file = FileReader("unused", nullptr);
        memory.position = c.from;
        file.position = c.from;
        ReaderSeek(memory, c.offset, c.how);
        ReaderSeek(file, c.offset, c.how);
        EXPECT_EQ(memory.position, c.memory) << c.from << " " << c.offset;
        EXPECT_EQ(file.position, c.file) << c.from << " " << c.offset;
    }
}

namespace {

// A load through the memory reader or, from a file, through the file reader.
struct ReaderLoad {
    std::unique_ptr<Engine> engine = std::make_unique<Engine>();
    platform::HeapArena* arena = platform::ArenaCreate();
    bool ok = false;
    std::string reason; // why the loader refused the module

    void Take(const binary::Status& loaded) {
        ok = static_cast<bool>(loaded);
        reason = ok ? std::string() : loaded.error().message;
    }

    ReaderLoad(const std::vector<std::uint8_t>& bytes, bool viaFile) {
        if (!viaFile) {
            Take(LoadFromMemory(*engine, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                arena));
            return;
        }
        // A name of its own: other runs of these tests may share the temporary folder.
        const auto path = std::filesystem::temp_directory_path() /
                          ("music_loader_seek_" + std::to_string(std::random_device{}()) + ".xm");
        {
            std::ofstream f(path, std::ios::binary);
            f.write(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<std::streamsize>(bytes.size()));
        }
        const std::string name = path.string();
        ModuleReader r =
            FileReader(name.c_str(), reinterpret_cast<std::uint8_t*>(engine->mixBuffer));
        ReaderOpen(r);
        Take(LoadModule(*engine, r, arena));
        ReaderClose(r);
        std::filesystem::remove(path);
    }
    ~ReaderLoad() { platform::ArenaDestroy(arena); }
    ReaderLoad(const ReaderLoad&) = delete;
    ReaderLoad& operator=(const ReaderLoad&) = delete;
};

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

TEST(Loader, HeaderSizesWrapToPositionsInsideTheModule) {
    // 60 + 0xFFFFFFFF is 59 and 60 + 0xFFFFFFD0 is 12 in 32 bits: the first pattern header
    // is read there. At 59 its row count is the song length and its packed size the restart
    // position (0: no data); at 12 they are bytes 17 to 20, the module name's first four.
    struct Case {
        std::uint32_t headerSize;
        std::uint16_t rows;
    } cases[] = {{0xFFFFFFFFu, 3}, {0xFFFFFFD0u, 0x0120}};
    for (const Case& c : cases) {
        xmtest::Module m = Basic();
        m.songLength = 3;
        m.headerSize = c.headerSize;
        std::vector<std::uint8_t> bytes = xmtest::Write(m);
        bytes[17] = 0x20;
        bytes[18] = 0x01;
        for (bool viaFile : {false, true}) {
            SCOPED_TRACE(std::to_string(c.headerSize) + (viaFile ? " file" : " memory"));
            ReaderLoad l(bytes, viaFile);
            ASSERT_TRUE(l.ok) << l.reason;
            const PatternSlot& p = l.engine->song.patterns[0];
            EXPECT_EQ(p.rows, c.rows);
            EXPECT_EQ(p.dataSize, 0);
            EXPECT_EQ(p.cells, nullptr);
        }
    }
}

TEST(Loader, InstrumentHeaderSizesWrapToPositionsInsideTheModule) {
    // The instrument (263-byte header, one sample) follows the pattern's cells, six bytes
    // each (0x9F then five zeros). After its 241 bytes the seek by size - 241 lands on the
    // instrument's start + size in 32 bits. 0xFFFFFFFF: one byte before it, where the size
    // field's FF bytes read as a sample of 0xFFFFFF00 samples, which is refused.
    // 0xFFFFFFD0: 48 bytes before it, eight cells back: a sample header of length 0x9F and
    // volume 0x9F.
    struct Case {
        std::uint32_t headerSize;
        bool loads;
    } cases[] = {{0xFFFFFFFFu, false}, {0xFFFFFFD0u, true}};
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes = xmtest::Write(Basic());
        const std::size_t instrument = bytes.size() - 256 - 40 - 263;
        ASSERT_EQ(bytes[instrument], 263 & 0xFF);
        PutU32(bytes, instrument, c.headerSize);
        for (bool viaFile : {false, true}) {
            SCOPED_TRACE(std::to_string(c.headerSize) + (viaFile ? " file" : " memory"));
            ReaderLoad l(bytes, viaFile);
            ASSERT_EQ(l.ok, c.loads) << l.reason;
            if (!c.loads) {
                EXPECT_EQ(l.reason, "a sample is 2^22 samples long or longer");
                continue;
            }
            const SampleRecord* s = l.engine->song.instruments[0].samples[0];
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(s->length, 0x9Fu);
            EXPECT_EQ(s->volume, 0x9F);
            EXPECT_EQ(s->loopType, LoopNone);
        }
    }
}
