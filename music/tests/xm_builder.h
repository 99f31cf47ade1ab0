// A tiny XM writer for the tests: builds small synthetic modules field by field, with raw
// control over the bytes where a test needs a malformed file.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "music/engine.h"
#include "music/sequencer.h"

namespace xmtest {

struct Cell {
    std::uint8_t note = 0, instrument = 0, volume = 0, effect = 0, param = 0;
};

struct Pattern {
    std::uint16_t rows = 64;
    std::vector<Cell> cells; // rows * channels; empty: stored without data
    bool stored = true;
    std::uint16_t sizeOverride = 0xFFFF; // packed size written in the header
};

struct Sample {
    std::vector<std::int16_t> values; // 8-bit values (-128..127) unless bits16
    bool bits16 = false;
    bool adpcm = false;
    std::vector<std::int8_t> adpcmTable;  // with adpcm: 16 entries
    std::vector<std::uint8_t> adpcmBytes; // with adpcm: the packed nibbles
    std::uint8_t loopType = 0;
    std::uint32_t loopStart = 0, loopLength = 0; // in samples
    std::uint8_t volume = 64, panning = 128;
    std::int8_t finetune = 0, relativeNote = 0;
};

struct Envelope {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> points;
    std::uint8_t sustain = 0, loopStart = 0, loopEnd = 0, type = 0;
    int countOverride = -1; // point count written instead of the number of points
};

struct Instrument {
    std::vector<Sample> samples;
    std::uint8_t sampleMap[96] = {};
    Envelope volume, panning;
    std::uint8_t vibType = 0, vibSweep = 0, vibDepth = 0, vibRate = 0;
    std::uint16_t fadeout = 0;
    std::uint32_t headerSize = 0; // 0: the usual 263 (29 without samples)
    std::uint32_t sampleHeaderSize = 40;
    int sampleCountOverride = -1;
};

struct Module {
    std::uint16_t channels = 1;
    std::uint16_t songLength = 1;
    std::uint16_t restart = 0;
    std::uint16_t flags = 1; // linear
    std::uint16_t tempo = 6, bpm = 125;
    std::uint32_t headerSize = 276; // the first pattern starts at 60 + this
    std::uint16_t patternCountOverride = 0xFFFF;
    std::uint16_t instrumentCountOverride = 0xFFFF;
    std::uint8_t orders[256] = {};
    std::vector<Pattern> patterns;
    std::vector<Instrument> instruments;

    Pattern& AddPattern(std::uint16_t rows = 64) {
        Pattern p;
        p.rows = rows;
        p.cells.assign(std::size_t{rows} * (channels & 0xFF), Cell{});
        patterns.push_back(p);
        return patterns.back();
    }
    Cell& At(std::size_t pattern, int row, int channel) {
        return patterns[pattern].cells[std::size_t(row) * (channels & 0xFF) + channel];
    }
};

inline void Put16(std::vector<std::uint8_t>& o, std::uint32_t v) {
    o.push_back(v & 0xFF);
    o.push_back((v >> 8) & 0xFF);
}
inline void Put32(std::vector<std::uint8_t>& o, std::uint32_t v) {
    Put16(o, v & 0xFFFF);
    Put16(o, v >> 16);
}

// Byte by byte: GCC 12 warns wrongly about vector::insert at -O3.
template <typename It> void Append(std::vector<std::uint8_t>& o, It first, It last) {
    for (; first != last; ++first)
        o.push_back(static_cast<std::uint8_t>(*first));
}

inline std::vector<std::uint8_t> Write(const Module& m) {
    std::vector<std::uint8_t> o;
    const char id[] = "Extended Module: ";
    Append(o, id, id + 17);
    o.resize(o.size() + 20, 0);
    o.push_back(0x1A);
    o.resize(o.size() + 20, 0);
    Put16(o, 0x0104);
    Put32(o, m.headerSize);
    Put16(o, m.songLength);
    Put16(o, m.restart);
    Put16(o, m.channels);
    Put16(o, m.patternCountOverride != 0xFFFF ? m.patternCountOverride
                                              : static_cast<std::uint16_t>(m.patterns.size()));
    Put16(o, m.instrumentCountOverride != 0xFFFF
                 ? m.instrumentCountOverride
                 : static_cast<std::uint16_t>(m.instruments.size()));
    Put16(o, m.flags);
    Put16(o, m.tempo);
    Put16(o, m.bpm);
    Append(o, m.orders, m.orders + 256);
    for (const Pattern& p : m.patterns) {
        std::vector<std::uint8_t> packed;
        if (p.stored) {
            for (const Cell& c : p.cells) {
                packed.push_back(0x9F);
                packed.push_back(c.note);
                packed.push_back(c.instrument);
                packed.push_back(c.volume);
                packed.push_back(c.effect);
                packed.push_back(c.param);
            }
        }
        Put32(o, 9);
        o.push_back(0);
        Put16(o, p.rows);
        Put16(o, p.sizeOverride != 0xFFFF ? p.sizeOverride
                                          : static_cast<std::uint16_t>(packed.size()));
        Append(o, packed.begin(), packed.end());
    }
    for (const Instrument& ins : m.instruments) {
        const std::size_t count = ins.sampleCountOverride >= 0
                                      ? std::size_t(ins.sampleCountOverride)
                                      : ins.samples.size();
        const std::uint32_t headerSize = ins.headerSize ? ins.headerSize : (count ? 263 : 29);
        const std::size_t start = o.size();
        Put32(o, headerSize);
        o.resize(o.size() + 22, 0);
        o.push_back(0);
        Put16(o, static_cast<std::uint32_t>(count));
        if (count == 0) {
            o.resize(start + headerSize, 0);
            continue;
        }
        Put32(o, ins.sampleHeaderSize);
        Append(o, ins.sampleMap, ins.sampleMap + 96);
        for (const Envelope* e : {&ins.volume, &ins.panning}) {
            for (int i = 0; i < 12; ++i) {
                auto pt = i < int(e->points.size()) ? e->points[i]
                                                    : std::pair<std::uint16_t, std::uint16_t>{};
                Put16(o, pt.first);
                Put16(o, pt.second);
            }
        }
        for (const Envelope* e : {&ins.volume, &ins.panning}) {
            o.push_back(static_cast<std::uint8_t>(e->countOverride >= 0 ? e->countOverride
                                                                        : int(e->points.size())));
        }
        o.push_back(ins.volume.sustain);
        o.push_back(ins.volume.loopStart);
        o.push_back(ins.volume.loopEnd);
        o.push_back(ins.panning.sustain);
        o.push_back(ins.panning.loopStart);
        o.push_back(ins.panning.loopEnd);
        o.push_back(ins.volume.type);
        o.push_back(ins.panning.type);
        o.push_back(ins.vibType);
        o.push_back(ins.vibSweep);
        o.push_back(ins.vibDepth);
        o.push_back(ins.vibRate);
        Put16(o, ins.fadeout);
        o.resize(start + headerSize, 0);
        for (const Sample& s : ins.samples) {
            const std::size_t h = o.size();
            const std::uint32_t scale = s.bits16 ? 2 : 1;
            Put32(o, static_cast<std::uint32_t>(s.values.size()) * scale);
            Put32(o, s.loopStart * scale);
            Put32(o, s.loopLength * scale);
            o.push_back(s.volume);
            o.push_back(static_cast<std::uint8_t>(s.finetune));
            o.push_back(static_cast<std::uint8_t>(s.loopType | (s.bits16 ? 0x10 : 0)));
            o.push_back(s.panning);
            o.push_back(static_cast<std::uint8_t>(s.relativeNote));
            o.push_back(s.adpcm ? 0xAD : 0);
            o.resize(h + ins.sampleHeaderSize, 0);
        }
        for (const Sample& s : ins.samples) {
            if (s.adpcm) {
                for (std::int8_t t : s.adpcmTable)
                    o.push_back(static_cast<std::uint8_t>(t));
                Append(o, s.adpcmBytes.begin(), s.adpcmBytes.end());
                continue;
            }
            std::int32_t prev = 0;
            for (std::int16_t v : s.values) {
                if (s.bits16) {
                    Put16(o, static_cast<std::uint16_t>(v - prev));
                } else {
                    o.push_back(static_cast<std::uint8_t>(v - prev));
                }
                prev = v;
            }
        }
    }
    return o;
}

// A loaded engine over its own arena.
struct Loaded {
    std::unique_ptr<music::Engine> engine = std::make_unique<music::Engine>();
    platform::HeapArena* arena = platform::ArenaCreate();
    bool ok = false;
    std::vector<std::uint8_t> bytes;

    explicit Loaded(std::vector<std::uint8_t> data, bool noLoop = false) : bytes(std::move(data)) {
        engine->noLoop = noLoop ? 1 : 0;
        ok = static_cast<bool>(music::LoadFromMemory(
            *engine, bytes.data(), static_cast<std::uint32_t>(bytes.size()), arena));
    }
    explicit Loaded(const Module& m, bool noLoop = false) : Loaded(Write(m), noLoop) {}
    ~Loaded() { platform::ArenaDestroy(arena); }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;

    music::SongState& song() { return engine->song; }
    music::ChannelState& channel(int c = 0) { return engine->song.channels[c]; }
    music::Voice& voice(int v) { return engine->song.voices[v]; }
    // Runs n ticks (each followed by nothing else); false when the song ended.
    bool Ticks(int n) {
        for (int i = 0; i < n; ++i) {
            if (!music::RunTick(*engine))
                return false;
        }
        return true;
    }
};

// One instrument with one looping 8-bit sample of constant value, mapped to every note.
inline Instrument ConstantInstrument(std::int16_t value = 64, std::uint32_t length = 256) {
    Instrument ins;
    Sample s;
    s.values.assign(length, value);
    s.loopType = 1;
    s.loopStart = 0;
    s.loopLength = length;
    ins.samples.push_back(s);
    return ins;
}

} // namespace xmtest
