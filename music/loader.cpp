// XM loader: one pass over the reader into the module arena. Only the listed checks refuse
// a module; everything else is taken as it comes, and every index the player later uses is
// kept inside the arrays it indexes.
#include "music/loader.h"

#include <bit>
#include <cstring>

#include "binary/reader.h"
#include "music/engine.h"
#include "music/sequencer.h"

namespace music {

static_assert(std::endian::native == std::endian::little, "file fields are copied as they lie");

EmptySampleStorage gEmptySample{};
const InstrumentRecord kEmptyInstrument{};

namespace {

using binary::ErrorCode;

// The file header, read whole (336 bytes, the order table's 256 included).
constexpr std::uint32_t kFileHeaderBytes = 336;
constexpr std::uint32_t kHeaderSizeField = 60; // the header's size counts from here
constexpr std::uint32_t kSongLengthField = 64;
constexpr std::uint32_t kRestartField = 66;
constexpr std::uint32_t kChannelsField = 68; // 16-bit; its low byte counts
constexpr std::uint32_t kPatternCountField = 70;
constexpr std::uint32_t kInstrumentCountField = 72; // 16-bit; its low byte counts
constexpr std::uint32_t kFlagsField = 74;
constexpr std::uint32_t kTempoField = 76;
constexpr std::uint32_t kBpmField = 78;
constexpr std::uint32_t kOrdersField = 80;

// A pattern header.
constexpr std::uint32_t kPatternHeaderBytes = 9;
constexpr std::uint32_t kPatternRowsField = 5;
constexpr std::uint32_t kPatternDataSizeField = 7;

// The first part of an instrument header; the sample map and envelopes follow when it has
// samples.
constexpr std::uint32_t kInstrumentHeadBytes = 33;
constexpr std::uint32_t kInstrumentSizeField = 0;
constexpr std::uint32_t kInstrumentSamplesField = 27; // 16-bit; its low byte counts
constexpr std::uint32_t kSampleHeaderSizeField = 29;

// A sample header, at most this long.
constexpr std::uint32_t kSampleHeaderMax = 40;
constexpr std::uint32_t kSampleLengthField = 0;
constexpr std::uint32_t kSampleLoopStartField = 4;
constexpr std::uint32_t kSampleLoopLengthField = 8;
constexpr std::uint32_t kSampleVolumeField = 12;
constexpr std::uint32_t kSampleFinetuneField = 13;
constexpr std::uint32_t kSampleTypeField = 14;
constexpr std::uint32_t kSamplePanningField = 15;
constexpr std::uint32_t kSampleRelativeNoteField = 16;
constexpr std::uint32_t kSamplePackingField = 17;
constexpr std::uint8_t kSample16Bit = 0x10; // in the type
constexpr std::uint8_t kSampleLoopMask = 0x03;

constexpr std::uint32_t kEmptyPatternRows = 64;
constexpr std::uint32_t kMaxRows = 256;
constexpr std::uint32_t kMaxSongLength = 256;
constexpr std::uint8_t kAdpcmPacking = 0xAD;
constexpr std::uint32_t kAdpcmTableBytes = 16;

// Packed pattern cells: a byte with the top bit set says which of the five fields follow.
constexpr std::uint8_t kMaskFlag = 0x80;
constexpr std::uint8_t kMaskNote = 0x01;
constexpr std::uint8_t kMaskInstrument = 0x02;
constexpr std::uint8_t kMaskVolume = 0x04;
constexpr std::uint8_t kMaskEffect = 0x08;
constexpr std::uint8_t kMaskParam = 0x10;

// A record read whole into a buffer; its fields are read through the bounds-checked reader
// (a field beyond the record reads as 0).
template <std::size_t N> struct Record {
    std::uint8_t bytes[N] = {};

    binary::Reader Fields() const { return binary::Reader(bytes, N); }
    std::uint8_t U8(std::uint32_t at) const {
        std::uint8_t v = 0;
        return Fields().U8(at, v) ? v : std::uint8_t{0};
    }
    std::uint16_t U16(std::uint32_t at) const {
        std::uint16_t v = 0;
        return Fields().U16(at, v) ? v : std::uint16_t{0};
    }
    std::uint32_t U32(std::uint32_t at) const {
        std::uint32_t v = 0;
        return Fields().U32(at, v) ? v : std::uint32_t{0};
    }
};

std::uint8_t ReadByte(ModuleReader& r) {
    std::uint8_t b = 0;
    ReaderRead(r, &b, 1);
    return b;
}

void ReadPatternCells(ModuleReader& r, Cell* cells, std::uint32_t count,
                      std::uint8_t instrumentCount) {
    for (std::uint32_t i = 0; i < count; ++i) {
        Cell& c = cells[i];
        std::uint8_t b = ReadByte(r);
        if (b & kMaskFlag) {
            if (b & kMaskNote)
                c.note = ReadByte(r);
            if (b & kMaskInstrument)
                c.instrument = ReadByte(r);
            if (b & kMaskVolume)
                c.volume = ReadByte(r);
            if (b & kMaskEffect)
                c.effect = ReadByte(r);
            if (b & kMaskParam)
                c.param = ReadByte(r);
        } else {
            if (b != 0)
                c.note = b;
            c.instrument = ReadByte(r);
            c.volume = ReadByte(r);
            c.effect = ReadByte(r);
            c.param = ReadByte(r);
        }
        if (c.instrument > instrumentCount) {
            c.instrument = 0;
        }
    }
}

// An envelope holds 12 points. A loop start whose point (or the point after it, where the
// envelope goes on from there) lies beyond those 12 is ignored, so the envelope never
// indexes past its points; any other loop plays as it stands, also one that starts beyond
// the point count (the 12 points are all read from the file).
void SanitiseEnvelope(std::uint8_t& type, std::uint8_t& points, std::uint8_t loopStart) {
    if (points < 2) {
        type = 0;
    }
    if (points > kEnvelopePoints) {
        points = kEnvelopePoints;
    }
    const bool pastTheEnd = loopStart >= kEnvelopePoints ||
                            (loopStart + 1 >= kEnvelopePoints && loopStart + 1 != points);
    if ((type & EnvLoop) && pastTheEnd) {
        type = static_cast<std::uint8_t>(type & ~EnvLoop);
    }
}

void DecodeSample(ModuleReader& r, SampleRecord& s) {
    const std::uint32_t n = s.length;
    std::int16_t* v = s.Values();
    auto* bytes = reinterpret_cast<std::uint8_t*>(v);
    const std::uint32_t area = 2 * n + 2 * kGuardValues;
    if (s.packing == kAdpcmPacking) {
        std::int8_t table[kAdpcmTableBytes] = {};
        ReaderRead(r, table, sizeof(table));
        const std::uint32_t packed = (n + 1) / 2;
        const std::uint32_t at = area - packed; // the upper quarter: decoding never overtakes
        ReaderRead(r, bytes + at, packed);
        std::uint8_t acc = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
            std::uint8_t b = bytes[at + i / 2];
            std::uint8_t nibble = (i & 1) ? b >> 4 : b & 0x0F;
            acc = static_cast<std::uint8_t>(acc + table[nibble]);
            v[i] = static_cast<std::int16_t>(static_cast<std::int8_t>(acc) * 256);
        }
        std::memset(bytes + 2 * n, 0, 2 * kGuardValues);
    } else if (s.is16Bit) {
        ReaderRead(r, bytes, 2 * n);
        std::uint16_t acc = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
            acc = static_cast<std::uint16_t>(acc + binary::Load16(bytes + 2 * i));
            v[i] = static_cast<std::int16_t>(acc);
        }
    } else {
        ReaderRead(r, bytes, n);
        std::uint8_t acc = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
            acc = static_cast<std::uint8_t>(acc + bytes[i]);
            bytes[i] = acc;
        }
        // Widen from the end backwards: value i never overwrites a byte still to be read.
        for (std::uint32_t i = n; i-- > 0;) {
            v[i] = static_cast<std::int16_t>(static_cast<std::int8_t>(bytes[i]) * 256);
        }
    }
    if (s.loopType == LoopForward) {
        v[s.LoopEnd()] = v[s.loopStart];
    } else if (s.loopType == LoopPingPong) {
        v[s.LoopEnd()] = v[s.LoopEnd() - 1];
    }
}

// The counts of the file header that shape the rest of the file.
struct Counts {
    std::uint16_t songLength;
    std::uint16_t restart;
    std::uint8_t channels;
    std::uint16_t patternCount;
    std::uint8_t instrumentCount;
    std::uint32_t slots; // pattern slots: the stored patterns and any the order table names
};

// The file header into the song, then the reader to the first pattern. Refuses a module
// without patterns, a song length beyond 1 to 256 and a channel count beyond 1 to 64.
binary::Expected<Counts> ReadFileHeader(ModuleReader& r, SongState& song) {
    const std::uint32_t start = r.position;
    Record<kFileHeaderBytes> header;
    ReaderRead(r, header.bytes, kFileHeaderBytes);
    Counts counts{header.U16(kSongLengthField),     header.U16(kRestartField),
                  header.U8(kChannelsField),        header.U16(kPatternCountField),
                  header.U8(kInstrumentCountField), 0};
    song.flags = header.U16(kFlagsField);
    song.defaultTempo = header.U16(kTempoField);
    song.defaultBpm = header.U16(kBpmField);
    std::memcpy(song.orders, header.bytes + kOrdersField, sizeof(song.orders));

    ReaderSeek(r, kHeaderSizeField + header.U32(kHeaderSizeField), SeekFrom::Start);

    if (counts.patternCount == 0) {
        return binary::Fault(ErrorCode::Malformed, "the module has no patterns",
                             start + kPatternCountField, 2);
    }
    if (counts.songLength == 0 || counts.songLength > kMaxSongLength) {
        return binary::Fault(ErrorCode::Malformed, "the song length is not 1 to 256",
                             start + kSongLengthField, 2);
    }
    int highest = 0;
    for (int i = 0; i < counts.songLength; ++i) {
        if (song.orders[i] > highest) {
            highest = song.orders[i];
        }
    }
    counts.slots = counts.patternCount > highest + 1 ? counts.patternCount : highest + 1;
    if (counts.channels == 0 || counts.channels > kMaxChannels) {
        return binary::Fault(ErrorCode::Unsupported, "the channel count is not 1 to 64",
                             start + kChannelsField, 2);
    }
    return counts;
}

// The song's voices, channels, pattern slots and instruments in one block of the arena, and
// the playback state a song starts with.
binary::Status AllocateSong(SongState& song, platform::HeapArena* arena, const Counts& counts) {
    const std::uint32_t channels = counts.channels;
    song.songLength = counts.songLength;
    song.restart = counts.restart;
    song.channelCount = channels;
    song.patternCount = static_cast<std::uint16_t>(counts.slots);
    song.instrumentCount = counts.instrumentCount;

    const std::size_t voiceBytes = sizeof(Voice) * 2 * channels;
    const std::size_t channelBytes = sizeof(ChannelState) * channels;
    const std::size_t slotBytes = sizeof(PatternSlot) * counts.slots;
    const std::size_t instrumentBytes = sizeof(InstrumentRecord) * counts.instrumentCount;
    auto* block = static_cast<std::uint8_t*>(
        platform::ArenaAlloc(arena, voiceBytes + channelBytes + slotBytes + instrumentBytes));
    if (!block) {
        return binary::OutOfMemory("out of memory");
    }
    song.voices = reinterpret_cast<Voice*>(block);
    song.channels = reinterpret_cast<ChannelState*>(block + voiceBytes);
    song.patterns = reinterpret_cast<PatternSlot*>(block + voiceBytes + channelBytes);
    song.instruments =
        reinterpret_cast<InstrumentRecord*>(block + voiceBytes + channelBytes + slotBytes);
    for (std::uint32_t c = 0; c < channels; ++c) {
        song.channels[c].voice = &song.voices[2 * c];
    }
    SetTempo(song, song.defaultBpm);
    song.globalVolume = 64;
    song.speed = song.defaultTempo;
    return binary::Ok();
}

// The stored patterns, then an empty 64-row pattern in every slot the order table names
// beyond them. A pattern with data must have 1 to 256 rows.
binary::Status ReadPatterns(ModuleReader& r, SongState& song, platform::HeapArena* arena,
                            const Counts& counts) {
    const std::uint32_t channels = counts.channels;
    for (std::uint32_t p = 0; p < counts.patternCount; ++p) {
        const std::uint32_t at = r.position;
        Record<kPatternHeaderBytes> header;
        ReaderRead(r, header.bytes, kPatternHeaderBytes);
        PatternSlot& slot = song.patterns[p];
        slot.rows = header.U16(kPatternRowsField);
        slot.dataSize = header.U16(kPatternDataSizeField);
        if (slot.dataSize == 0) {
            continue;
        }
        if (slot.rows == 0 || slot.rows > kMaxRows) {
            return binary::Fault(ErrorCode::Malformed, "a pattern has not 1 to 256 rows",
                                 at + kPatternRowsField, 2);
        }
        const std::uint32_t cells = std::uint32_t{slot.rows} * channels;
        slot.cells = static_cast<Cell*>(platform::ArenaAlloc(arena, cells * sizeof(Cell)));
        if (!slot.cells) {
            return binary::OutOfMemory("out of memory");
        }
        ReadPatternCells(r, slot.cells, cells, counts.instrumentCount);
    }
    for (std::uint32_t p = counts.patternCount; p < counts.slots; ++p) {
        PatternSlot& slot = song.patterns[p];
        slot.rows = kEmptyPatternRows;
        slot.cells = static_cast<Cell*>(
            platform::ArenaAlloc(arena, std::size_t{kEmptyPatternRows} * channels * sizeof(Cell)));
        if (!slot.cells) {
            return binary::OutOfMemory("out of memory");
        }
    }
    return binary::Ok();
}

// Records read again for every instrument: what a short read leaves is what they held.
struct WorkRecords {
    Record<kInstrumentHeadBytes> head;
    Record<kSampleHeaderMax> sample;
};

// A sample's length and loop in samples.
struct SampleExtent {
    std::uint32_t length;
    std::uint32_t loopStart;
    std::uint32_t loopLength;
    std::uint8_t loopType;
};

// The header's byte counts in samples, the loop kept inside the sample; a sample without a
// loop (or with an empty one) plays its whole length once.
SampleExtent Extent(std::uint32_t length, std::uint32_t loopStart, std::uint32_t loopLength,
                    std::uint8_t loopType, bool is16) {
    if (is16) {
        length /= 2;
        loopStart /= 2;
        loopLength /= 2;
    }
    if (loopStart >= length) {
        loopStart = length;
    }
    if (std::uint64_t{loopStart} + loopLength > length) {
        loopLength = length - loopStart;
    }
    if (loopType == LoopNone || loopLength == 0) {
        loopStart = 0;
        loopType = LoopNone;
        loopLength = length;
    }
    return {length, loopStart, loopLength, loopType};
}

// One sample header into a fresh record of the arena; its data is decoded later.
binary::Expected<SampleRecord*> ReadSampleHeader(ModuleReader& r, platform::HeapArena* arena,
                                                 std::uint32_t headerSize,
                                                 Record<kSampleHeaderMax>& header) {
    const std::uint32_t at = r.position;
    ReaderRead(r, header.bytes, headerSize);
    const std::uint8_t type = header.U8(kSampleTypeField);
    const bool is16 = (type & kSample16Bit) != 0;
    const SampleExtent extent =
        Extent(header.U32(kSampleLengthField), header.U32(kSampleLoopStartField),
               header.U32(kSampleLoopLengthField), type & kSampleLoopMask, is16);
    // A length the data step refuses fails the load in any case; refusing it here spares the
    // arena an allocation of up to 8 GB.
    if (extent.length >= kMaxSampleLength) {
        return binary::Fault(ErrorCode::Unsupported, "a sample is 2^22 samples long or longer",
                             at + kSampleLengthField, 4);
    }
    auto* rec = static_cast<SampleRecord*>(platform::ArenaAlloc(
        arena,
        sizeof(SampleRecord) + 2 * (kLeadValues + std::size_t{extent.length} + kGuardValues)));
    if (!rec) {
        return binary::OutOfMemory("out of memory");
    }
    rec->length = extent.length;
    rec->loopStart = extent.loopStart;
    rec->loopLength = extent.loopLength;
    rec->volume = header.U8(kSampleVolumeField);
    rec->finetune = static_cast<std::int8_t>(header.U8(kSampleFinetuneField));
    rec->is16Bit = is16 ? 1 : 0;
    rec->panning = header.U8(kSamplePanningField);
    rec->relativeNote = static_cast<std::int8_t>(header.U8(kSampleRelativeNoteField));
    rec->packing = header.U8(kSamplePackingField);
    rec->loopType = extent.loopType;
    return rec;
}

// One instrument: its header (the sample map and envelopes stored as the file lays them out),
// its sample headers, then its samples' data. At most 16 samples with headers of at most 40
// bytes.
binary::Status ReadInstrument(ModuleReader& r, platform::HeapArena* arena, InstrumentRecord& ins,
                              WorkRecords& work) {
    const std::uint32_t at = r.position;
    ReaderRead(r, work.head.bytes, kInstrumentHeadBytes);
    const std::uint32_t insHeaderSize = work.head.U32(kInstrumentSizeField);
    const std::uint8_t sampleCount = work.head.U8(kInstrumentSamplesField);
    const std::uint32_t sampleHeaderSize = work.head.U32(kSampleHeaderSizeField);
    std::uint32_t read = kInstrumentHeadBytes;
    if (sampleCount != 0) {
        if (sampleHeaderSize > kSampleHeaderMax || sampleCount > kMaxSamplesPerInstrument) {
            return binary::Fault(
                ErrorCode::Unsupported,
                "an instrument has more than 16 samples or sample headers over 40 bytes", at,
                kInstrumentHeadBytes);
        }
        ReaderRead(r, ins.sampleMap, kInstrumentFileFields);
        read += kInstrumentFileFields;
    }
    ReaderSeek(r, insHeaderSize - read, SeekFrom::Current);
    ins.fadeout = static_cast<std::uint16_t>(ins.fadeout * 2);
    SanitiseEnvelope(ins.volumeType, ins.volumePoints, ins.volumeLoopStart);
    SanitiseEnvelope(ins.panningType, ins.panningPoints, ins.panningLoopStart);
    for (std::uint32_t s = 0; s < sampleCount; ++s) {
        binary::Expected<SampleRecord*> sample =
            ReadSampleHeader(r, arena, sampleHeaderSize, work.sample);
        if (!sample) {
            return sample.TakeError();
        }
        ins.samples[s] = *sample;
    }
    for (std::uint32_t s = 0; s < sampleCount; ++s) {
        DecodeSample(r, *ins.samples[s]);
    }
    return binary::Ok();
}

} // namespace

binary::Status LoadModule(Engine& engine, ModuleReader& r, platform::HeapArena* arena) {
    SongState& song = engine.song;
    song = SongState{};
    binary::Expected<Counts> counts = ReadFileHeader(r, song);
    if (!counts) {
        return counts.TakeError();
    }
    binary::Status loaded = AllocateSong(song, arena, *counts);
    if (loaded) {
        loaded = ReadPatterns(r, song, arena, *counts);
    }
    if (!loaded) {
        return loaded;
    }
    song.tick = 0;
    song.samplesToNextTick = 0;
    song.patternDelay = 0;
    song.nextOrder = 0;
    song.nextRow = 0;

    WorkRecords work;
    for (std::uint32_t i = 0; i < counts->instrumentCount; ++i) {
        loaded = ReadInstrument(r, arena, song.instruments[i], work);
        if (!loaded) {
            return loaded;
        }
    }
    return binary::Ok();
}

binary::Status LoadFromMemory(Engine& engine, const void* data, std::uint32_t size,
                              platform::HeapArena* arena) {
    ModuleReader r = MemoryReader(data, size);
    ReaderOpen(r);
    binary::Status loaded = LoadModule(engine, r, arena);
    ReaderClose(r);
    return loaded;
}

} // namespace music
