// The sequencer: walks the order table row by row and tick by tick, reads each cell and
// applies the volume column and the effects with their memories.
#include "music/engine.h"
#include "music/mix_kernels.h"
#include "music/wrap.h"

namespace music {

namespace {

constexpr std::int32_t kFullFade = 65536;

enum Effect : std::uint8_t {
    FxArpeggio = 0,
    FxPortaUp = 1,
    FxPortaDown = 2,
    FxTonePorta = 3,
    FxVibrato = 4,
    FxTonePortaVolSlide = 5,
    FxVibratoVolSlide = 6,
    FxTremolo = 7,
    FxSetPanning = 8,
    FxSampleOffset = 9,
    FxVolumeSlide = 10,
    FxPositionJump = 11,
    FxSetVolume = 12,
    FxPatternBreak = 13,
    FxExtended = 14,
    FxSpeedTempo = 15,
    FxGlobalVolume = 16,
    FxGlobalVolumeSlide = 17,
    FxKeyOff = 20,
    FxEnvelopePosition = 21,
    FxPanningSlide = 25,
    FxMultiRetrig = 27,
    FxTremor = 29,
    FxExtraFinePorta = 33,
};

enum Extended : std::uint8_t {
    ExFinePortaUp = 1,
    ExFinePortaDown = 2,
    ExVibratoControl = 4,
    ExFinetune = 5,
    ExPatternLoop = 6,
    ExTremoloControl = 7,
    ExSetPanning = 8,
    ExRetrig = 9,
    ExFineVolumeUp = 10,
    ExFineVolumeDown = 11,
    ExNoteCut = 12,
    ExNoteDelay = 13,
    ExPatternDelay = 14,
};

// The volume column: the byte's high nibble says what it does, its low nibble is the value.
enum VolumeColumn : std::uint8_t {
    VcVolume0To15 = 0x1, // 0x10 to 0x4F set the volume 0 to 63
    VcVolume16To31 = 0x2,
    VcVolume32To47 = 0x3,
    VcVolume48To63 = 0x4,
    VcVolume64 = 0x5, // only 0x50 sets the volume 64; 0x51 to 0x5F do nothing
    VcSlideDown = 0x6,
    VcSlideUp = 0x7,
    VcFineSlideDown = 0x8,
    VcFineSlideUp = 0x9,
    VcVibratoSpeed = 0xA,
    VcVibratoDepth = 0xB,
    VcSetPanning = 0xC,
    VcPanningSlideLeft = 0xD,
    VcPanningSlideRight = 0xE,
    VcTonePorta = 0xF,
};
constexpr std::uint8_t kVcVolume0 = 0x10;  // the byte that sets the volume 0
constexpr std::uint8_t kVcVolume64 = 0x50; // the byte that sets the volume 64

// The extra fine portamento's high nibble.
enum ExtraFine : std::uint8_t {
    XfPortaUp = 1,
    XfPortaDown = 2,
};

struct Row {
    SongState& song;
    bool jumpSeen = false;
};

const InstrumentRecord& ChannelInstrument(const SongState& song, const ChannelState& c) {
    return c.instrument < song.instrumentCount ? song.instruments[c.instrument] : kEmptyInstrument;
}

SampleRecord* ChannelSample(const SongState& song, const ChannelState& c) {
    const InstrumentRecord& ins = ChannelInstrument(song, c);
    const std::uint8_t m = ins.sampleMap[c.note < 96 ? c.note : 95];
    if (m >= kMaxSamplesPerInstrument || !ins.samples[m]) {
        return EmptySample();
    }
    return ins.samples[m];
}

void ResetEnvelopes(ChannelState& c) {
    c.volumeEnv = EnvelopeState{};
    c.panningEnv = EnvelopeState{};
    c.autoVibratoSweep = 0;
    c.autoVibratoPosition = 0;
    c.keyReleased = 0;
    c.volumeEnvEnded = 0;
    c.panningEnvEnded = 0;
}

void ResetOscillators(ChannelState& c) {
    if ((c.waveControl & 0x0C) == 0) {
        c.vibratoPosition = 0;
    }
    if (static_cast<std::int8_t>(c.waveControl) < 0x4F) {
        c.tremoloPosition = 0;
    }
}

void TonePortaStep(ChannelState& c) {
    const std::int64_t step = 4 * std::int64_t{c.tonePortamentoSpeed};
    std::int64_t p = c.period;
    if (p < c.portamentoTarget) {
        p += step;
        if (p >= c.portamentoTarget) {
            p = c.portamentoTarget;
        }
    } else if (p > c.portamentoTarget) {
        p -= step;
        if (p <= c.portamentoTarget) {
            p = c.portamentoTarget;
        }
    }
    c.period = static_cast<std::int32_t>(p);
    c.flags |= UpdateFrequency;
}

void VolumeSlide(ChannelState& c, std::uint8_t memory) {
    if (memory >> 4) {
        c.volume = WrapAdd(c.volume, memory >> 4);
    } else {
        c.volume = WrapSub(c.volume, memory & 0x0F);
    }
    c.flags |= UpdateVolume;
}

// The volume column's slides of the volume and of the panning by its value; false for the
// other codes.
bool VolumeColumnSlide(ChannelState& c, std::uint8_t code, int y) {
    switch (code) {
    case VcSlideDown:
        c.volume = WrapSub(c.volume, y);
        c.flags |= UpdateVolume;
        return true;
    case VcSlideUp:
        c.volume = WrapAdd(c.volume, y);
        c.flags |= UpdateVolume;
        return true;
    case VcPanningSlideLeft:
        c.panning = WrapSub(c.panning, y);
        c.flags |= UpdatePanning;
        return true;
    case VcPanningSlideRight:
        c.panning = WrapAdd(c.panning, y);
        c.flags |= UpdatePanning;
        return true;
    default:
        return false;
    }
}

// On a row's first tick a fine slide takes its one step, the step of a slide.
constexpr std::uint8_t FirstTickSlide(std::uint8_t code) {
    if (code == VcFineSlideDown) {
        return VcSlideDown;
    }
    return code == VcFineSlideUp ? std::uint8_t{VcSlideUp} : code;
}

// The first tick runs with the volume already to be updated.
void VolumeColumnTick0(ChannelState& c, std::uint8_t b) {
    const int y = b & 0x0F;
    if (VolumeColumnSlide(c, FirstTickSlide(b >> 4), y)) {
        return;
    }
    switch (b >> 4) {
    case VcVolume0To15:
    case VcVolume16To31:
    case VcVolume32To47:
    case VcVolume48To63:
        c.volume = b - kVcVolume0;
        break;
    case VcVolume64:
        if (b == kVcVolume64) {
            c.volume = 64;
        }
        break;
    case VcVibratoSpeed:
        c.vibratoSpeed = static_cast<std::uint8_t>(y);
        break;
    case VcVibratoDepth:
        c.vibratoDepth = static_cast<std::uint8_t>(y);
        break;
    case VcSetPanning:
        c.panning = y * 16;
        c.flags |= UpdatePanning;
        break;
    case VcTonePorta:
        if (y != 0) {
            c.tonePortamentoSpeed = static_cast<std::uint8_t>(y * 16);
        }
        c.portamentoTarget = c.notePeriod;
        c.flags &= ~UpdateTrigger;
        break;
    default:
        break;
    }
}

void VolumeColumnOther(ChannelState& c, std::uint8_t b) {
    const int y = b & 0x0F;
    if (VolumeColumnSlide(c, b >> 4, y)) {
        return;
    }
    if ((b >> 4) == VcVibratoDepth) {
        c.vibratoDepth = static_cast<std::uint8_t>(y);
        ApplyVibrato(c);
    } else if ((b >> 4) == VcTonePorta) {
        TonePortaStep(c);
    }
}

std::int32_t RetrigVolume(int mode, std::int32_t v) {
    switch (mode) {
    case 1:
        return WrapSub(v, 1);
    case 2:
        return WrapSub(v, 2);
    case 3:
        return WrapSub(v, 4);
    case 4:
        return WrapSub(v, 8);
    case 5:
        return WrapSub(v, 16);
    case 6:
        return static_cast<std::int32_t>((2 * std::int64_t{v}) / 3);
    case 7:
        return v >> 1;
    case 8:
        return v;
    case 9:
        return WrapAdd(v, 1);
    case 10:
        return WrapAdd(v, 2);
    case 11:
        return WrapAdd(v, 4);
    case 12:
        return WrapAdd(v, 8);
    case 13:
        return WrapAdd(v, 16);
    case 14:
        return static_cast<std::int32_t>((3 * std::int64_t{v}) >> 1);
    case 15:
        return WrapMul(v, 2);
    default:
        return v;
    }
}

void Tremor(ChannelState& c) {
    const int counter = c.tremorCounter;
    if (counter > c.tremorOn) {
        c.volumeDelta = WrapSub(0, c.volume);
    }
    c.tremorCounter =
        static_cast<std::uint8_t>(counter > c.tremorOn + c.tremorOff ? 0 : counter + 1);
    c.flags |= UpdateVolume;
}

void SetEnvelopePosition(ChannelState& c, const InstrumentRecord& ins, int xx) {
    if (!(ins.volumeType & EnvOn)) {
        return;
    }
    const EnvelopePoint* pts = ins.volumeEnvelope;
    const int count = ins.volumePoints;
    // Searching on past the last point could only end in the same "ended" result.
    int i = 0;
    while (i < count - 1 && xx > pts[i + 1].x) {
        ++i;
    }
    c.volumeEnv.index = i;
    if (i >= count - 1) {
        c.volumeEnvEnded = 1;
        c.envelopeVolume = pts[count - 1].y;
        return;
    }
    c.volumeEnv.tick = xx;
    const int dx = pts[i + 1].x - pts[i].x;
    const std::int32_t slope =
        dx == 0 ? 0
                : static_cast<std::int32_t>((std::int64_t{pts[i + 1].y - pts[i].y} * 65536) / dx);
    c.volumeEnv.slope = slope;
    const std::int64_t value = std::int64_t{xx - pts[i].x} * slope + std::int64_t{pts[i].y} * 65536;
    c.volumeEnvValue = static_cast<std::int32_t>(value);
    c.envelopeVolume = c.volumeEnvValue >> 16;
    c.volumeEnv.index = i + 1;
}

struct Saved {
    std::int32_t period, volume, panning;
};

// What an effect sees on a row's first tick: the row, the channel and its sample and
// instrument, the cell, and the channel's values before the cell changed them.
struct Tick0 {
    Row& row;
    ChannelState& c;
    SampleRecord* smp;
    const InstrumentRecord& ins;
    const Cell& cell;
    const Saved& saved;

    std::uint8_t xx() const { return cell.param; }
    int x() const { return cell.param >> 4; }
    int y() const { return cell.param & 0x0F; }
};

void ExtendedTick0(Tick0& t) {
    SongState& song = t.row.song;
    ChannelState& c = t.c;
    SampleRecord* smp = t.smp;
    const Saved& saved = t.saved;
    const int y = t.y();
    switch (t.x()) {
    case ExFinePortaUp:
        if (y)
            c.finePortaUpMemory = static_cast<std::uint8_t>(y);
        c.period = WrapSub(c.period, 4 * c.finePortaUpMemory);
        break;
    case ExFinePortaDown:
        if (y)
            c.finePortaDownMemory = static_cast<std::uint8_t>(y);
        c.period = WrapAdd(c.period, 4 * c.finePortaDownMemory);
        break;
    case ExVibratoControl:
        c.waveControl = static_cast<std::uint8_t>((c.waveControl & 0xF0) | y);
        break;
    case ExFinetune:
        // The shared stand-in for a missing sample stays all-zero.
        if (smp != EmptySample()) {
            smp->finetune = static_cast<std::int8_t>(y);
        }
        break;
    case ExPatternLoop:
        if (y == 0) {
            c.loopRow = static_cast<std::int32_t>(song.row);
        } else if (c.loopCounter == 0) {
            c.loopCounter = static_cast<std::uint8_t>(y);
            song.nextRow = c.loopRow;
        } else {
            c.loopCounter = static_cast<std::uint8_t>(c.loopCounter - 1);
            if (c.loopCounter != 0) {
                song.nextRow = c.loopRow;
            }
        }
        break;
    case ExTremoloControl:
        c.waveControl = static_cast<std::uint8_t>((c.waveControl & 0x0F) | y << 4);
        break;
    case ExSetPanning:
        c.panning = y * 16;
        c.flags |= UpdatePanning;
        break;
    case ExFineVolumeUp:
        if (y)
            c.fineVolumeMemory = static_cast<std::int8_t>(-y);
        c.volume = WrapSub(c.volume, c.fineVolumeMemory);
        break;
    case ExFineVolumeDown:
        if (y)
            c.fineVolumeMemory = static_cast<std::int8_t>(y);
        c.volume = WrapSub(c.volume, c.fineVolumeMemory);
        break;
    case ExNoteDelay:
        c.period = saved.period;
        c.volume = saved.volume;
        c.panning = saved.panning;
        c.flags = 0;
        break;
    case ExPatternDelay:
        song.patternDelay = static_cast<std::uint32_t>(y) * song.speed;
        break;
    default:
        break;
    }
}

void DelayedNoteStart(ChannelState& c, SampleRecord* smp, const Cell& cell) {
    c.fadeVolume = kFullFade;
    c.volume = smp->volume;
    c.envelopeVolume = c.envelopeVolume > 9 ? 64 : 0;
    ResetEnvelopes(c);
    ResetOscillators(c);
    c.period = c.notePeriod;
    c.flags |= UpdateFrequency | UpdateVolume | UpdateTrigger;
    VolumeColumnTick0(c, cell.volume);
}

void ExtendedOther(SongState& song, ChannelState& c, SampleRecord* smp, const Cell& cell) {
    const std::uint32_t y = cell.param & 0x0F;
    switch (cell.param >> 4) {
    case ExRetrig:
        if (y != 0 && song.tick % y == 0) {
            c.flags |= UpdateFrequency | UpdateVolume | UpdateTrigger;
        }
        break;
    case ExNoteCut:
        if (song.tick == y) {
            c.volume = 0;
            c.flags |= UpdateVolume;
        }
        break;
    case ExNoteDelay:
        if (song.tick == y) {
            DelayedNoteStart(c, smp, cell);
        } else {
            c.flags = 0;
        }
        break;
    default:
        break;
    }
}

// The effects on a row's first tick, one handler each; effects without one do nothing then.

void PortaMemoryTick0(Tick0& t) {
    if (t.xx())
        t.c.portamentoMemory = t.xx();
}

// A tone portamento slides from where the channel is to the cell's note: no new trigger.
void StartTonePorta(ChannelState& c) {
    c.portamentoTarget = c.notePeriod;
    c.flags &= ~(UpdateFrequency | UpdateTrigger);
}

void TonePortaTick0(Tick0& t) {
    if (t.xx())
        t.c.tonePortamentoSpeed = t.xx();
    StartTonePorta(t.c);
}

void VibratoTick0(Tick0& t) {
    if (t.x())
        t.c.vibratoSpeed = static_cast<std::uint8_t>(t.x());
    if (t.y())
        t.c.vibratoDepth = static_cast<std::uint8_t>(t.y());
    ApplyVibrato(t.c);
}

void VolumeSlideMemoryTick0(Tick0& t) {
    if (t.xx())
        t.c.volumeSlideMemory = t.xx();
}

void TonePortaVolSlideTick0(Tick0& t) {
    VolumeSlideMemoryTick0(t);
    StartTonePorta(t.c);
}

void VibratoVolSlideTick0(Tick0& t) {
    VolumeSlideMemoryTick0(t);
    ApplyVibrato(t.c);
}

void TremoloTick0(Tick0& t) {
    if (t.x())
        t.c.tremoloSpeed = static_cast<std::uint8_t>(t.x());
    if (t.y())
        t.c.tremoloDepth = static_cast<std::uint8_t>(t.y());
}

void SetPanningTick0(Tick0& t) {
    t.c.panning = t.xx();
    t.c.flags |= UpdatePanning;
}

// An offset at or past the loop's end starts nothing.
void SampleOffsetTick0(Tick0& t) {
    ChannelState& c = t.c;
    if (t.xx())
        c.offsetMemory = std::uint32_t{t.xx()} * 256;
    if (c.offsetMemory < t.smp->LoopEnd()) {
        c.voice->startOffset = c.offsetMemory;
    } else {
        c.flags &= ~UpdateTrigger;
        c.voice->startOffset = 0;
        c.voice->position = 0;
        c.voice->fraction = 0;
    }
}

void PositionJumpTick0(Tick0& t) {
    SongState& song = t.row.song;
    song.nextOrder = t.xx() < song.songLength ? t.xx() : 0;
    song.nextRow = 0;
    t.row.jumpSeen = true;
}

void SetVolumeTick0(Tick0& t) {
    t.c.volume = t.xx();
}

// The row is given in decimal digits; without a jump in the row it is in the next pattern.
void PatternBreakTick0(Tick0& t) {
    SongState& song = t.row.song;
    song.nextRow = 10 * t.x() + t.y();
    if (!t.row.jumpSeen) {
        song.nextOrder = song.order + 1 < song.songLength ? song.order + 1 : 0;
    }
}

// Below 32 the ticks per row, from 32 on the tempo.
void SpeedTempoTick0(Tick0& t) {
    SongState& song = t.row.song;
    if (t.xx() < 32) {
        song.speed = t.xx();
    } else {
        SetTempo(song, t.xx());
    }
}

void GlobalVolumeTick0(Tick0& t) {
    t.row.song.globalVolume = t.xx();
}

void GlobalVolumeSlideTick0(Tick0& t) {
    if (t.xx())
        t.row.song.globalSlideMemory = t.xx();
}

void EnvelopePositionTick0(Tick0& t) {
    SetEnvelopePosition(t.c, t.ins, t.xx());
}

void PanningSlideTick0(Tick0& t) {
    if (t.xx()) {
        t.c.panningSlideMemory = t.xx();
        t.c.flags |= UpdatePanning;
    }
}

void MultiRetrigTick0(Tick0& t) {
    if (t.xx()) {
        t.c.retrigMode = static_cast<std::uint8_t>(t.x());
        t.c.retrigInterval = static_cast<std::uint8_t>(t.y());
    }
}

void TremorTick0(Tick0& t) {
    if (t.xx()) {
        t.c.tremorOn = static_cast<std::uint8_t>(t.x());
        t.c.tremorOff = static_cast<std::uint8_t>(t.y());
    }
    Tremor(t.c);
}

void ExtraFinePortaTick0(Tick0& t) {
    ChannelState& c = t.c;
    const int y = t.y();
    if (t.x() == XfPortaUp) {
        if (y)
            c.extraFineUpMemory = static_cast<std::uint8_t>(y);
        c.period = WrapSub(c.period, c.extraFineUpMemory);
    } else if (t.x() == XfPortaDown) {
        if (y)
            c.extraFineDownMemory = static_cast<std::uint8_t>(y);
        c.period = WrapAdd(c.period, c.extraFineDownMemory);
    }
}

using Tick0Handler = void (*)(Tick0&);
constexpr std::size_t kEffectCodes = FxExtraFinePorta + 1;

// The handlers by effect code (a struct: a table built by a constant function).
struct Tick0Table {
    Tick0Handler byEffect[kEffectCodes];
};

constexpr Tick0Table kTick0Handlers = [] {
    Tick0Table t{};
    Tick0Handler* h = t.byEffect;
    h[FxPortaUp] = PortaMemoryTick0;
    h[FxPortaDown] = PortaMemoryTick0;
    h[FxTonePorta] = TonePortaTick0;
    h[FxVibrato] = VibratoTick0;
    h[FxTonePortaVolSlide] = TonePortaVolSlideTick0;
    h[FxVibratoVolSlide] = VibratoVolSlideTick0;
    h[FxTremolo] = TremoloTick0;
    h[FxSetPanning] = SetPanningTick0;
    h[FxSampleOffset] = SampleOffsetTick0;
    h[FxVolumeSlide] = VolumeSlideMemoryTick0;
    h[FxPositionJump] = PositionJumpTick0;
    h[FxSetVolume] = SetVolumeTick0;
    h[FxPatternBreak] = PatternBreakTick0;
    h[FxExtended] = ExtendedTick0;
    h[FxSpeedTempo] = SpeedTempoTick0;
    h[FxGlobalVolume] = GlobalVolumeTick0;
    h[FxGlobalVolumeSlide] = GlobalVolumeSlideTick0;
    h[FxEnvelopePosition] = EnvelopePositionTick0;
    h[FxPanningSlide] = PanningSlideTick0;
    h[FxMultiRetrig] = MultiRetrigTick0;
    h[FxTremor] = TremorTick0;
    h[FxExtraFinePorta] = ExtraFinePortaTick0;
    return t;
}();

void EffectTick0(Tick0& t) {
    if (t.cell.effect < kEffectCodes) {
        if (const Tick0Handler handler = kTick0Handlers.byEffect[t.cell.effect]) {
            handler(t);
        }
    }
}

void EffectOther(SongState& song, ChannelState& c, SampleRecord* smp, const Cell& cell) {
    const std::uint8_t xx = cell.param;
    const int x = xx >> 4;
    const int y = xx & 0x0F;
    switch (cell.effect) {
    case FxArpeggio:
        if (xx) {
            const std::uint32_t phase = song.tick % 3;
            const int semis = phase == 0 ? 0 : phase == 1 ? x : y;
            if (song.Linear()) {
                c.periodDelta = 64 * semis;
            } else {
                c.periodDelta = NotePeriod(false, c.realNote + semis, smp->finetune) -
                                NotePeriod(false, c.realNote, smp->finetune);
            }
            c.flags |= UpdateFrequency;
        }
        break;
    case FxPortaUp: {
        std::int64_t p = std::int64_t{c.period} - 4 * c.portamentoMemory;
        c.period = static_cast<std::int32_t>(p < 1 ? 1 : p);
        c.periodDelta = 0;
        c.flags |= UpdateFrequency;
        break;
    }
    case FxPortaDown: {
        std::int32_t p = WrapAdd(c.period, 4 * c.portamentoMemory);
        c.period = p < 1 ? 1 : p;
        c.periodDelta = 0;
        c.flags |= UpdateFrequency;
        break;
    }
    case FxTonePorta:
        TonePortaStep(c);
        break;
    case FxVibrato:
        ApplyVibrato(c);
        break;
    case FxTonePortaVolSlide:
        TonePortaStep(c);
        VolumeSlide(c, c.volumeSlideMemory);
        break;
    case FxVibratoVolSlide:
        ApplyVibrato(c);
        VolumeSlide(c, c.volumeSlideMemory);
        break;
    case FxTremolo:
        ApplyTremolo(c);
        break;
    case FxVolumeSlide:
        VolumeSlide(c, c.volumeSlideMemory);
        break;
    case FxExtended:
        ExtendedOther(song, c, smp, cell);
        break;
    case FxGlobalVolumeSlide: {
        const std::uint8_t m = song.globalSlideMemory;
        song.globalVolume =
            (m >> 4) ? WrapAdd(song.globalVolume, m >> 4) : WrapSub(song.globalVolume, m & 0x0F);
        break;
    }
    case FxPanningSlide: {
        const std::uint8_t m = c.panningSlideMemory;
        if (m >> 4) {
            const std::int64_t p = std::int64_t{c.panning} + (m >> 4);
            c.panning = static_cast<std::int32_t>(p < 255 ? p : 255);
        } else {
            const std::int64_t p = std::int64_t{c.panning} - (m & 0x0F);
            c.panning = static_cast<std::int32_t>(p > 0 ? p : 0);
        }
        c.flags |= UpdatePanning;
        break;
    }
    case FxMultiRetrig:
        if (c.retrigInterval != 0 && song.tick % c.retrigInterval == 0) {
            c.flags |= UpdateTrigger;
            if (c.retrigMode != 0) {
                c.volume = RetrigVolume(c.retrigMode, c.volume);
                c.flags |= UpdateVolume;
            }
        }
        break;
    case FxTremor:
        Tremor(c);
        break;
    default:
        break;
    }
}

const Cell* RowCells(const SongState& song) {
    const PatternSlot& slot = song.patterns[song.orders[song.order]];
    // A row at or beyond the pattern's end (a break or loop that names it) has no cells.
    if (!slot.cells || song.row >= slot.rows) {
        return nullptr;
    }
    return slot.cells + std::size_t{song.row} * song.channelCount;
}

void ProcessRow(SongState& song) {
    const Cell* cells = RowCells(song);
    if (!cells) {
        return;
    }
    Row row{song};
    for (std::uint32_t ch = 0; ch < song.channelCount; ++ch) {
        ChannelState& c = song.channels[ch];
        const Cell& cell = cells[ch];
        const bool tone = cell.effect == FxTonePorta || cell.effect == FxTonePortaVolSlide;
        const bool hasNote = cell.note >= 1 && cell.note <= 96;
        if (!tone) {
            if (cell.instrument)
                c.instrument = static_cast<std::uint8_t>(cell.instrument - 1);
            if (hasNote)
                c.note = static_cast<std::uint8_t>(cell.note - 1);
        }
        SampleRecord* smp = ChannelSample(song, c);
        const InstrumentRecord& ins = ChannelInstrument(song, c);
        const Saved saved{c.period, c.volume, c.panning};
        if (cell.effect != FxTremolo && c.lastEffect == FxTremolo) {
            c.volume = WrapAdd(c.volume, c.volumeDelta);
        }
        c.lastEffect = cell.effect;
        c.volumeDelta = 0;
        c.periodDelta = 0;
        c.flags = UpdateFrequency | UpdateVolume;
        if (hasNote) {
            const int real = cell.note - 1 + smp->relativeNote;
            c.realNote = static_cast<std::int16_t>(real);
            c.notePeriod = NotePeriod(song.Linear(), real, smp->finetune);
            if (!tone)
                c.period = c.notePeriod;
            c.flags |= UpdateTrigger;
        }
        if (cell.instrument) {
            c.volume = smp->volume;
            c.panning = smp->panning;
            c.envelopeVolume = 64;
            c.envelopePanning = 32;
            c.fadeVolume = kFullFade;
            ResetEnvelopes(c);
            ResetOscillators(c);
            c.flags |= UpdateVolume | UpdatePanning;
        }
        VolumeColumnTick0(c, cell.volume);
        if (cell.note >= 97 || cell.effect == FxKeyOff) {
            c.keyReleased = 1;
        }
        if (ins.volumeType & EnvOn) {
            StepEnvelope(c, Envelope::Volume, ins);
        } else if (c.keyReleased) {
            c.envelopeVolume = 0;
        }
        if (ins.panningType & EnvOn) {
            StepEnvelope(c, Envelope::Panning, ins);
        }
        if (c.keyReleased) {
            FadeoutStep(c, ins);
        }
        Tick0 tick0{row, c, smp, ins, cell, saved};
        EffectTick0(tick0);
        UpdateChannel(song, c, smp, ins);
    }
}

void ProcessTick(SongState& song) {
    const Cell* cells = RowCells(song);
    if (!cells) {
        return;
    }
    for (std::uint32_t ch = 0; ch < song.channelCount; ++ch) {
        ChannelState& c = song.channels[ch];
        const Cell& cell = cells[ch];
        SampleRecord* smp = ChannelSample(song, c);
        const InstrumentRecord& ins = ChannelInstrument(song, c);
        c.volumeDelta = 0;
        c.periodDelta = 0;
        c.flags = 0;
        if (ins.volumeType & EnvOn) {
            StepEnvelope(c, Envelope::Volume, ins);
        }
        if (ins.panningType & EnvOn) {
            StepEnvelope(c, Envelope::Panning, ins);
        }
        if (c.keyReleased) {
            FadeoutStep(c, ins);
            c.flags |= UpdateVolume;
        }
        VolumeColumnOther(c, cell.volume);
        EffectOther(song, c, smp, cell);
        UpdateChannel(song, c, smp, ins);
    }
}

} // namespace

void SetTempo(SongState& song, std::uint32_t bpm) {
    song.samplesPerTick = bpm == 0 ? 120000 : 120000 / bpm;
}

bool RunTick(Engine& engine) {
    SongState& song = engine.song;
    if (engine.observer && !engine.observer->TickStarts(song)) {
        return false;
    }
    if (song.tick == 0) {
        const std::int32_t nextOrder = song.nextOrder;
        const std::int32_t nextRow = song.nextRow;
        song.nextOrder = -1;
        song.nextRow = -1;
        if (nextOrder >= 0)
            song.order = static_cast<std::uint32_t>(nextOrder);
        if (nextRow >= 0)
            song.row = static_cast<std::uint32_t>(nextRow);
        ProcessRow(song);
        if (song.nextRow == -1) {
            const std::uint32_t rows = song.patterns[song.orders[song.order]].rows;
            if (std::uint64_t{song.row} + 1 < rows) {
                song.nextRow = static_cast<std::int32_t>(song.row + 1);
            } else {
                song.nextRow = 0;
                std::uint32_t o = song.order + 1;
                if (o >= song.songLength) {
                    if (engine.noLoop) {
                        return false;
                    }
                    if (engine.observer) {
                        engine.observer->OrderListEnds();
                    }
                    o = song.restart < song.songLength ? song.restart : 0;
                }
                song.nextOrder = static_cast<std::int32_t>(o);
            }
        }
    } else {
        ProcessTick(song);
    }
    song.samplesToNextTick = song.samplesPerTick;
    song.tick += 1;
    if (song.tick >= song.speed + song.patternDelay) {
        song.patternDelay = 0;
        song.tick = 0;
    }
    return true;
}

std::int16_t ConvertSample(std::int32_t v) {
    // |v| / 16320 rounded half up (one division), limited to 32,767, with the sign of v.
    const std::uint32_t a =
        v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
    const std::uint32_t limited = a < 534765600u ? a : 534765600u;
    std::uint32_t m = (limited + 8160) / 16320;
    m = m < 32767 ? m : 32767;
    const std::int32_t s = static_cast<std::int32_t>(m);
    return static_cast<std::int16_t>(v < 0 ? -s : s);
}

void ConvertScalar(const std::int32_t* in, std::int16_t* out, int count) {
    for (int i = 0; i < count; ++i) {
        out[i] = ConvertSample(in[i]);
    }
}

void ConvertBlock(const std::int32_t* in, std::int16_t* out, int count, MixPath path) {
    const MixKernels* kernels = KernelsFor(path);
    // A path this CPU lacks: the scalar rule gives the same values.
    (kernels ? kernels->convert : ConvertScalar)(in, out, count);
}

bool RenderBlock(Engine& engine, std::int16_t* out) {
    SongState& song = engine.song;
    for (std::int32_t& v : engine.mixBuffer) {
        v = 0;
    }
    int remaining = kBlockFrames;
    int write = 0;
    while (remaining > 0) {
        if (song.samplesToNextTick == 0 && !RunTick(engine)) {
            return false;
        }
        const int n = song.samplesToNextTick < static_cast<std::uint32_t>(remaining)
                          ? static_cast<int>(song.samplesToNextTick)
                          : remaining;
        MixRun(engine, n, write);
        write += n;
        song.samplesToNextTick -= static_cast<std::uint32_t>(n);
        remaining -= n;
    }
    ConvertBlock(engine.mixBuffer, out, 2 * kBlockFrames, engine.mixPath);
    return true;
}

} // namespace music
