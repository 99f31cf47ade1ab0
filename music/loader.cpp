// XM loader: one pass over the reader into the module arena. Only the listed checks refuse
// a module; everything else is taken as it comes, and every index the player later uses is
// kept inside the arrays it indexes.
#include <bit>
#include <cstring>

#include "music/engine.h"

namespace music {

static_assert(std::endian::native == std::endian::little, "file fields are copied as they lie");

EmptySampleStorage gEmptySample{};
const InstrumentRecord kEmptyInstrument{};

namespace {

constexpr std::uint32_t kFileHeaderBytes = 336;
constexpr std::uint32_t kHeaderSizeOffset = 60;
constexpr std::uint32_t kPatternHeaderBytes = 9;
constexpr std::uint32_t kInstrumentHeadBytes = 33;
constexpr std::uint32_t kSampleHeaderMax = 40;
constexpr std::uint32_t kEmptyPatternRows = 64;
constexpr std::uint8_t kAdpcmPacking = 0xAD;
constexpr std::uint8_t kMaskFlag = 0x80;

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint8_t ReadByte(ModuleReader& r) {
    std::uint8_t b = 0;
    ReaderRead(r, &b, 1);
    return b;
}

bool ReadPatternCells(ModuleReader& r, Cell* cells, std::uint32_t count,
                      std::uint8_t instrumentCount) {
    for (std::uint32_t i = 0; i < count; ++i) {
        Cell& c = cells[i];
        std::uint8_t b = ReadByte(r);
        if (b & kMaskFlag) {
            if (b & 0x01)
                c.note = ReadByte(r);
            if (b & 0x02)
                c.instrument = ReadByte(r);
            if (b & 0x04)
                c.volume = ReadByte(r);
            if (b & 0x08)
                c.effect = ReadByte(r);
            if (b & 0x10)
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
    return true;
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
        std::int8_t table[16] = {};
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
            acc = static_cast<std::uint16_t>(acc + U16(bytes + 2 * i));
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

} // namespace

bool LoadModule(Engine& engine, ModuleReader& r, platform::HeapArena* arena, const char** reason) {
    const char* unused = nullptr;
    const char*& why = reason ? *reason : unused;
    why = nullptr;
    SongState& song = engine.song;
    song = SongState{};

    std::uint8_t header[kFileHeaderBytes] = {};
    ReaderRead(r, header, sizeof(header));
    const std::uint32_t headerSize = U32(header + 60);
    const std::uint16_t songLength = U16(header + 64);
    const std::uint16_t restart = U16(header + 66);
    const std::uint8_t channels = header[68];
    const std::uint16_t patternCount = U16(header + 70);
    const std::uint8_t instrumentCount = header[72];
    song.flags = U16(header + 74);
    song.defaultTempo = U16(header + 76);
    song.defaultBpm = U16(header + 78);
    std::memcpy(song.orders, header + 80, sizeof(song.orders));

    ReaderSeek(r, kHeaderSizeOffset + headerSize, SeekFrom::Start);

    if (patternCount == 0) {
        why = "the module has no patterns";
        return false;
    }
    if (songLength == 0 || songLength > 256) {
        why = "the song length is not 1 to 256";
        return false;
    }
    int highest = 0;
    for (int i = 0; i < songLength; ++i) {
        if (song.orders[i] > highest) {
            highest = song.orders[i];
        }
    }
    const std::uint32_t slots = patternCount > highest + 1 ? patternCount : highest + 1;
    if (channels == 0 || channels > kMaxChannels) {
        why = "the channel count is not 1 to 64";
        return false;
    }
    song.songLength = songLength;
    song.restart = restart;
    song.channelCount = channels;
    song.patternCount = static_cast<std::uint16_t>(slots);
    song.instrumentCount = instrumentCount;

    const std::size_t voiceBytes = sizeof(Voice) * 2 * channels;
    const std::size_t channelBytes = sizeof(ChannelState) * channels;
    const std::size_t slotBytes = sizeof(PatternSlot) * slots;
    const std::size_t instrumentBytes = sizeof(InstrumentRecord) * instrumentCount;
    auto* block = static_cast<std::uint8_t*>(
        platform::ArenaAlloc(arena, voiceBytes + channelBytes + slotBytes + instrumentBytes));
    if (!block) {
        why = "out of memory";
        return false;
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

    for (std::uint32_t p = 0; p < patternCount; ++p) {
        std::uint8_t ph[kPatternHeaderBytes] = {};
        ReaderRead(r, ph, sizeof(ph));
        PatternSlot& slot = song.patterns[p];
        slot.rows = U16(ph + 5);
        slot.dataSize = U16(ph + 7);
        if (slot.dataSize == 0) {
            continue;
        }
        if (slot.rows == 0 || slot.rows > 256) {
            why = "a pattern has not 1 to 256 rows";
            return false;
        }
        const std::uint32_t cells = std::uint32_t{slot.rows} * channels;
        slot.cells = static_cast<Cell*>(platform::ArenaAlloc(arena, cells * sizeof(Cell)));
        if (!slot.cells) {
            why = "out of memory";
            return false;
        }
        ReadPatternCells(r, slot.cells, cells, instrumentCount);
    }
    for (std::uint32_t p = patternCount; p < slots; ++p) {
        PatternSlot& slot = song.patterns[p];
        slot.rows = kEmptyPatternRows;
        slot.cells = static_cast<Cell*>(
            platform::ArenaAlloc(arena, std::size_t{kEmptyPatternRows} * channels * sizeof(Cell)));
        if (!slot.cells) {
            why = "out of memory";
            return false;
        }
    }

    song.tick = 0;
    song.samplesToNextTick = 0;
    song.patternDelay = 0;
    song.nextOrder = 0;
    song.nextRow = 0;

    // Work records kept across instruments: what a short read leaves is what they held.
    std::uint8_t head[kInstrumentHeadBytes] = {};
    std::uint8_t sampleHeader[kSampleHeaderMax] = {};
    for (std::uint32_t i = 0; i < instrumentCount; ++i) {
        InstrumentRecord& ins = song.instruments[i];
        ReaderRead(r, head, sizeof(head));
        const std::uint32_t insHeaderSize = U32(head);
        const std::uint8_t sampleCount = head[27];
        const std::uint32_t sampleHeaderSize = U32(head + 29);
        std::uint32_t read = kInstrumentHeadBytes;
        if (sampleCount != 0) {
            if (sampleHeaderSize > kSampleHeaderMax || sampleCount > kMaxSamplesPerInstrument) {
                why = "an instrument has more than 16 samples or sample headers over 40 bytes";
                return false;
            }
            ReaderRead(r, ins.sampleMap, kInstrumentFileFields);
            read += kInstrumentFileFields;
        }
        ReaderSeek(r, insHeaderSize - read, SeekFrom::Current);
        ins.fadeout = static_cast<std::uint16_t>(ins.fadeout * 2);
        SanitiseEnvelope(ins.volumeType, ins.volumePoints, ins.volumeLoopStart);
        SanitiseEnvelope(ins.panningType, ins.panningPoints, ins.panningLoopStart);
        if (sampleCount == 0) {
            continue;
        }
        for (std::uint32_t s = 0; s < sampleCount; ++s) {
            ReaderRead(r, sampleHeader, sampleHeaderSize);
            std::uint32_t length = U32(sampleHeader);
            std::uint32_t loopStart = U32(sampleHeader + 4);
            std::uint32_t loopLength = U32(sampleHeader + 8);
            const std::uint8_t type = sampleHeader[14];
            const bool is16 = (type & 0x10) != 0;
            std::uint8_t loopType = type & 0x03;
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
            // A length the data step refuses fails the load in any case; refusing it here
            // spares the arena an allocation of up to 8 GB.
            if (length >= kMaxSampleLength) {
                why = "a sample is 2^22 samples long or longer";
                return false;
            }
            auto* rec = static_cast<SampleRecord*>(platform::ArenaAlloc(
                arena,
                sizeof(SampleRecord) + 2 * (kLeadValues + std::size_t{length} + kGuardValues)));
            if (!rec) {
                why = "out of memory";
                return false;
            }
            rec->length = length;
            rec->loopStart = loopStart;
            rec->loopLength = loopLength;
            rec->volume = sampleHeader[12];
            rec->finetune = static_cast<std::int8_t>(sampleHeader[13]);
            rec->is16Bit = is16 ? 1 : 0;
            rec->panning = sampleHeader[15];
            rec->relativeNote = static_cast<std::int8_t>(sampleHeader[16]);
            rec->packing = sampleHeader[17];
            rec->loopType = loopType;
            ins.samples[s] = rec;
        }
        for (std::uint32_t s = 0; s < sampleCount; ++s) {
            DecodeSample(r, *ins.samples[s]);
        }
    }
    return true;
}

bool LoadFromMemory(Engine& engine, const void* data, std::uint32_t size,
                    platform::HeapArena* arena, const char** reason) {
    ModuleReader r = MemoryReader(data, size);
    ReaderOpen(r);
    bool ok = LoadModule(engine, r, arena, reason);
    ReaderClose(r);
    return ok;
}

} // namespace music
