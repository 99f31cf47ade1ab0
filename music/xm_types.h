// In-memory model of a loaded XM module: song, patterns, instruments, samples, the
// mixer's voices and the per-channel playback state. Everything but EmptySample lives in
// the module arena and starts zero-filled.
#pragma once

#include <cstddef>
#include <cstdint>

namespace music {

inline constexpr int kMaxChannels = 64;
inline constexpr int kMaxSamplesPerInstrument = 16;
inline constexpr int kEnvelopePoints = 12;
inline constexpr std::uint32_t kMaxSampleLength = 1u << 22; // samples; this and above is refused
inline constexpr int kGuardValues = 3; // extra values after the data, the first is the loop guard
// One zero value before the data: a backward run that ends a hair below a loop start at 0
// reads it instead of memory outside the sample.
inline constexpr int kLeadValues = 1;

// Cell of a pattern: 5 bytes, row by row, channel by channel.
struct Cell {
    std::uint8_t note;       // 0 none, 1..96 C-0..B-7, 97 and above key off
    std::uint8_t instrument; // 0 none, else 1-based
    std::uint8_t volume;     // volume-column byte
    std::uint8_t effect;
    std::uint8_t param;
};
static_assert(sizeof(Cell) == 5);

struct PatternSlot {
    std::uint16_t rows;
    std::uint16_t dataSize; // 0 for a pattern stored without data
    Cell* cells;            // null when the pattern has no data
};

struct EnvelopePoint {
    std::uint16_t x; // ticks
    std::uint16_t y; // 0..64
};

enum EnvelopeType : std::uint8_t { EnvOn = 1, EnvSustain = 2, EnvLoop = 4 };

struct SampleRecord;

// Instrument fields after the sample references are stored exactly as the file lays them
// out (208 bytes from the sample map to the fadeout).
struct InstrumentRecord {
    SampleRecord* samples[kMaxSamplesPerInstrument];
    std::uint8_t sampleMap[96];
    EnvelopePoint volumeEnvelope[kEnvelopePoints];
    EnvelopePoint panningEnvelope[kEnvelopePoints];
    std::uint8_t volumePoints;
    std::uint8_t panningPoints;
    std::uint8_t volumeSustain;
    std::uint8_t volumeLoopStart;
    std::uint8_t volumeLoopEnd;
    std::uint8_t panningSustain;
    std::uint8_t panningLoopStart;
    std::uint8_t panningLoopEnd;
    std::uint8_t volumeType;
    std::uint8_t panningType;
    std::uint8_t vibratoType;
    std::uint8_t vibratoSweep;
    std::uint8_t vibratoDepth;
    std::uint8_t vibratoRate;
    std::uint16_t fadeout; // doubled after loading
};
inline constexpr std::size_t kInstrumentFileFields = 208;
static_assert(offsetof(InstrumentRecord, fadeout) + 2 - offsetof(InstrumentRecord, sampleMap) ==
              kInstrumentFileFields);

enum LoopType : std::uint8_t { LoopNone = 0, LoopForward = 1, LoopPingPong = 2 };

// A sample record is followed in the same allocation by a zero lead value, then
// length + 3 signed 16-bit values.
struct SampleRecord {
    std::uint32_t length;
    std::uint32_t loopStart;
    std::uint32_t loopLength;
    std::uint8_t volume;
    std::int8_t finetune;
    std::uint8_t is16Bit; // used only while loading
    std::uint8_t panning;
    std::int8_t relativeNote;
    std::uint8_t packing;  // 0xAD: 4-bit ADPCM
    std::uint8_t loopType; // LoopType, or 3 (kept as read: plays to the loop end and stops)
    std::uint8_t spare;

    std::uint32_t LoopEnd() const { return loopStart + loopLength; }
    std::int16_t* Values() { return reinterpret_cast<std::int16_t*>(this + 1) + kLeadValues; }
    const std::int16_t* Values() const {
        return reinterpret_cast<const std::int16_t*>(this + 1) + kLeadValues;
    }
};
static_assert(sizeof(SampleRecord) % alignof(std::int16_t) == 0);

// Stands for a missing sample: length 0, its zero guard values follow it.
struct EmptySampleStorage {
    SampleRecord record;
    std::int16_t values[kLeadValues + kGuardValues];
};
extern EmptySampleStorage gEmptySample;
inline SampleRecord* EmptySample() {
    return &gEmptySample.record;
}

// A missing instrument (module with no instruments whose cells still play notes).
extern const InstrumentRecord kEmptyInstrument;

struct Voice {
    // The first eleven fields are what a fresh voice takes over from the one it replaces.
    std::int32_t finalVolume;  // 0..127
    std::int32_t finalPanning; // 0..255
    std::uint32_t startOffset;
    std::int32_t rightTarget;
    std::int32_t leftTarget;
    std::uint32_t position;
    std::uint32_t stepFraction;
    std::uint32_t stepInteger;
    std::uint32_t rampTargets; // left << 16 | right of the ramp in progress
    std::int32_t rightIncrement;
    std::int32_t leftIncrement;
    // Not copied.
    SampleRecord* sample; // null: idle
    std::uint32_t fraction;
    std::int32_t rightVolume; // 1/128 units
    std::int32_t leftVolume;
    std::uint16_t rampCounter;
    std::uint8_t direction; // 0 forward, 1 backward
};

enum UpdateFlag : std::uint8_t {
    UpdateFrequency = 1,
    UpdateVolume = 2,
    UpdatePanning = 4,
    UpdateTrigger = 8,
};

struct EnvelopeState {
    std::int32_t tick;
    std::int32_t index; // next point
    std::int32_t slope; // 16.16 per tick
};

struct ChannelState {
    std::uint8_t note;
    std::uint8_t flags;
    std::uint8_t instrument;
    Voice* voice;
    std::int32_t period;
    std::int32_t volume;
    std::int32_t volumeDelta;
    std::int32_t periodDelta;
    std::int32_t panning;
    EnvelopeState volumeEnv;
    EnvelopeState panningEnv;
    std::int32_t autoVibratoSweep;
    std::int32_t autoVibratoPosition;
    std::uint8_t keyReleased;
    std::uint8_t volumeEnvEnded;
    std::uint8_t panningEnvEnded;
    std::int32_t volumeEnvValue;  // 16.16
    std::int32_t envelopeVolume;  // 0..64
    std::int32_t fadeVolume;      // 0..65536
    std::int32_t panningEnvValue; // 16.16
    std::int32_t envelopePanning; // 0..64, 32 centre
    std::int32_t notePeriod;
    std::uint32_t offsetMemory;
    std::int32_t portamentoTarget;
    std::uint8_t loopCounter;
    std::int32_t loopRow;
    std::int16_t realNote; // note plus the relative note, kept whole
    std::uint8_t lastEffect;
    std::uint8_t portamentoMemory;
    std::uint8_t extraFineDownMemory;
    std::uint8_t extraFineUpMemory;
    std::uint8_t volumeSlideMemory;
    std::uint8_t panningSlideMemory;
    std::uint8_t retrigMode;
    std::uint8_t retrigInterval;
    std::uint8_t tonePortamentoSpeed;
    std::uint8_t vibratoPosition;
    std::uint8_t vibratoSpeed;
    std::uint8_t vibratoDepth;
    std::uint8_t tremoloPosition;
    std::uint8_t tremoloSpeed;
    std::uint8_t tremoloDepth;
    std::uint8_t tremorCounter;
    std::uint8_t tremorOn;
    std::uint8_t tremorOff;
    std::uint8_t waveControl; // vibrato low nibble, tremolo high nibble
    std::int8_t fineVolumeMemory;
    std::uint8_t finePortaUpMemory;
    std::uint8_t finePortaDownMemory;
};

enum SongFlag : std::uint16_t { SongLinear = 1 };

struct SongState {
    PatternSlot* patterns;
    InstrumentRecord* instruments;
    std::uint32_t samplesToNextTick;
    std::int32_t globalVolume;
    std::uint32_t tick;
    std::uint32_t speed;
    std::uint32_t order;
    std::uint32_t row;
    std::uint32_t patternDelay;
    std::int32_t nextOrder;
    std::int32_t nextRow;
    std::uint32_t channelCount;
    Voice* voices;
    ChannelState* channels; // also the end of the voice array
    std::uint32_t samplesPerTick;
    std::uint16_t songLength;
    std::uint16_t restart;
    std::uint8_t globalSlideMemory;
    std::uint16_t patternCount; // slots
    std::uint8_t instrumentCount;
    std::uint16_t flags;
    std::uint16_t defaultTempo;
    std::uint16_t defaultBpm;
    std::uint8_t orders[256];

    bool Linear() const { return (flags & SongLinear) != 0; }
};

} // namespace music
