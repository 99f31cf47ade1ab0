// The effect column's effects, each with what it does on a row's first tick and on its later
// ticks, and the memories they keep on the channel.
#include "music/effects.h"

#include "music/channel.h"
#include "music/sequencer.h"
#include "music/volume_column.h"
#include "music/wrap.h"

namespace music {

namespace {

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
constexpr std::size_t kExtendedCodes = 16;

// The extra fine portamento's high nibble.
enum ExtraFine : std::uint8_t {
    XfPortaUp = 1,
    XfPortaDown = 2,
};

using EffectHandler = void (*)(EffectContext& e);

struct EffectHandlers {
    EffectHandler firstTick;
    EffectHandler laterTicks;
};

// Runs the first-tick or the later-tick handler of the code, where the table has one.
void Dispatch(const EffectHandlers* table, std::size_t codes, std::size_t code,
              EffectHandler EffectHandlers::*which, EffectContext& e) {
    if (code < codes) {
        if (const EffectHandler handler = table[code].*which) {
            handler(e);
        }
    }
}

// ---- shared steps

void VolumeSlide(ChannelState& c, std::uint8_t memory) {
    if (memory >> 4) {
        c.volume = WrapAdd(c.volume, memory >> 4);
    } else {
        c.volume = WrapSub(c.volume, memory & 0x0F);
    }
    c.flags |= UpdateVolume;
}

// A tone portamento slides from where the channel is to the cell's note: no new trigger.
void StartTonePorta(ChannelState& c) {
    c.portamentoTarget = c.notePeriod;
    c.flags &= ~(UpdateFrequency | UpdateTrigger);
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

// ---- the extended effects (E1 to EE)

void FinePortaUpFirstTick(EffectContext& e) {
    if (e.y())
        e.c.finePortaUpMemory = static_cast<std::uint8_t>(e.y());
    e.c.period = WrapSub(e.c.period, 4 * e.c.finePortaUpMemory);
}

void FinePortaDownFirstTick(EffectContext& e) {
    if (e.y())
        e.c.finePortaDownMemory = static_cast<std::uint8_t>(e.y());
    e.c.period = WrapAdd(e.c.period, 4 * e.c.finePortaDownMemory);
}

void VibratoControlFirstTick(EffectContext& e) {
    e.c.waveControl = static_cast<std::uint8_t>((e.c.waveControl & 0xF0) | e.y());
}

void FinetuneFirstTick(EffectContext& e) {
    // The shared stand-in for a missing sample stays all-zero.
    if (e.smp != EmptySample()) {
        e.smp->finetune = static_cast<std::int8_t>(e.y());
    }
}

// E60 marks the loop's start row; E6y plays the rows from there y times more.
void PatternLoopFirstTick(EffectContext& e) {
    ChannelState& c = e.c;
    SongState& song = e.song;
    if (e.y() == 0) {
        c.loopRow = static_cast<std::int32_t>(song.row);
    } else if (c.loopCounter == 0) {
        c.loopCounter = static_cast<std::uint8_t>(e.y());
        song.nextRow = c.loopRow;
    } else {
        c.loopCounter = static_cast<std::uint8_t>(c.loopCounter - 1);
        if (c.loopCounter != 0) {
            song.nextRow = c.loopRow;
        }
    }
}

void TremoloControlFirstTick(EffectContext& e) {
    e.c.waveControl = static_cast<std::uint8_t>((e.c.waveControl & 0x0F) | e.y() << 4);
}

void ExtendedSetPanningFirstTick(EffectContext& e) {
    e.c.panning = e.y() * 16;
    e.c.flags |= UpdatePanning;
}

void RetrigLaterTick(EffectContext& e) {
    const auto y = static_cast<std::uint32_t>(e.y());
    if (y != 0 && e.song.tick % y == 0) {
        e.c.flags |= UpdateFrequency | UpdateVolume | UpdateTrigger;
    }
}

// The memory holds the step to subtract: negative for a slide up.
void FineVolumeUpFirstTick(EffectContext& e) {
    if (e.y())
        e.c.fineVolumeMemory = static_cast<std::int8_t>(-e.y());
    e.c.volume = WrapSub(e.c.volume, e.c.fineVolumeMemory);
}

void FineVolumeDownFirstTick(EffectContext& e) {
    if (e.y())
        e.c.fineVolumeMemory = static_cast<std::int8_t>(e.y());
    e.c.volume = WrapSub(e.c.volume, e.c.fineVolumeMemory);
}

void NoteCutLaterTick(EffectContext& e) {
    if (e.song.tick == static_cast<std::uint32_t>(e.y())) {
        e.c.volume = 0;
        e.c.flags |= UpdateVolume;
    }
}

// The row's first tick keeps the channel as it was; the note starts on tick y.
void NoteDelayFirstTick(EffectContext& e) {
    e.c.period = e.saved.period;
    e.c.volume = e.saved.volume;
    e.c.panning = e.saved.panning;
    e.c.flags = 0;
}

void DelayedNoteStart(ChannelState& c, SampleRecord* smp, const Cell& cell) {
    c.fadeVolume = kFullFade;
    c.volume = smp->volume;
    c.envelopeVolume = c.envelopeVolume > 9 ? 64 : 0;
    ResetEnvelopes(c);
    ResetOscillators(c);
    c.period = c.notePeriod;
    c.flags |= UpdateFrequency | UpdateVolume | UpdateTrigger;
    VolumeColumnFirstTick(c, cell.volume);
}

void NoteDelayLaterTick(EffectContext& e) {
    if (e.song.tick == static_cast<std::uint32_t>(e.y())) {
        DelayedNoteStart(e.c, e.smp, e.cell);
    } else {
        e.c.flags = 0;
    }
}

void PatternDelayFirstTick(EffectContext& e) {
    e.song.patternDelay = static_cast<std::uint32_t>(e.y()) * e.song.speed;
}

// The handlers by the parameter's high nibble (a struct: a table built by a constant
// function).
struct ExtendedTable {
    EffectHandlers byCode[kExtendedCodes];
};

constexpr ExtendedTable kExtended = [] {
    ExtendedTable t{};
    EffectHandlers* h = t.byCode;
    h[ExFinePortaUp] = {FinePortaUpFirstTick, nullptr};
    h[ExFinePortaDown] = {FinePortaDownFirstTick, nullptr};
    h[ExVibratoControl] = {VibratoControlFirstTick, nullptr};
    h[ExFinetune] = {FinetuneFirstTick, nullptr};
    h[ExPatternLoop] = {PatternLoopFirstTick, nullptr};
    h[ExTremoloControl] = {TremoloControlFirstTick, nullptr};
    h[ExSetPanning] = {ExtendedSetPanningFirstTick, nullptr};
    h[ExRetrig] = {nullptr, RetrigLaterTick};
    h[ExFineVolumeUp] = {FineVolumeUpFirstTick, nullptr};
    h[ExFineVolumeDown] = {FineVolumeDownFirstTick, nullptr};
    h[ExNoteCut] = {nullptr, NoteCutLaterTick};
    h[ExNoteDelay] = {NoteDelayFirstTick, NoteDelayLaterTick};
    h[ExPatternDelay] = {PatternDelayFirstTick, nullptr};
    return t;
}();

void ExtendedFirstTick(EffectContext& e) {
    Dispatch(kExtended.byCode, kExtendedCodes, e.x(), &EffectHandlers::firstTick, e);
}

void ExtendedLaterTick(EffectContext& e) {
    Dispatch(kExtended.byCode, kExtendedCodes, e.x(), &EffectHandlers::laterTicks, e);
}

// ---- the effects

void ArpeggioLaterTick(EffectContext& e) {
    if (!e.xx()) {
        return;
    }
    ChannelState& c = e.c;
    const std::uint32_t phase = e.song.tick % 3;
    const int semis = phase == 0 ? 0 : phase == 1 ? e.x() : e.y();
    if (e.song.Linear()) {
        c.periodDelta = 64 * semis;
    } else {
        c.periodDelta = NotePeriod(false, c.realNote + semis, e.smp->finetune) -
                        NotePeriod(false, c.realNote, e.smp->finetune);
    }
    c.flags |= UpdateFrequency;
}

void PortaMemoryFirstTick(EffectContext& e) {
    if (e.xx())
        e.c.portamentoMemory = e.xx();
}

// The period goes no lower than 1.
void PortaUpLaterTick(EffectContext& e) {
    ChannelState& c = e.c;
    const std::int64_t p = std::int64_t{c.period} - 4 * c.portamentoMemory;
    c.period = static_cast<std::int32_t>(p < 1 ? 1 : p);
    c.periodDelta = 0;
    c.flags |= UpdateFrequency;
}

void PortaDownLaterTick(EffectContext& e) {
    ChannelState& c = e.c;
    const std::int32_t p = WrapAdd(c.period, 4 * c.portamentoMemory);
    c.period = p < 1 ? 1 : p;
    c.periodDelta = 0;
    c.flags |= UpdateFrequency;
}

void TonePortaFirstTick(EffectContext& e) {
    if (e.xx())
        e.c.tonePortamentoSpeed = e.xx();
    StartTonePorta(e.c);
}

void TonePortaLaterTick(EffectContext& e) {
    TonePortaStep(e.c);
}

void VibratoFirstTick(EffectContext& e) {
    if (e.x())
        e.c.vibratoSpeed = static_cast<std::uint8_t>(e.x());
    if (e.y())
        e.c.vibratoDepth = static_cast<std::uint8_t>(e.y());
    ApplyVibrato(e.c);
}

void VibratoLaterTick(EffectContext& e) {
    ApplyVibrato(e.c);
}

void VolumeSlideFirstTick(EffectContext& e) {
    if (e.xx())
        e.c.volumeSlideMemory = e.xx();
}

void VolumeSlideLaterTick(EffectContext& e) {
    VolumeSlide(e.c, e.c.volumeSlideMemory);
}

void TonePortaVolSlideFirstTick(EffectContext& e) {
    VolumeSlideFirstTick(e);
    StartTonePorta(e.c);
}

void TonePortaVolSlideLaterTick(EffectContext& e) {
    TonePortaStep(e.c);
    VolumeSlide(e.c, e.c.volumeSlideMemory);
}

void VibratoVolSlideFirstTick(EffectContext& e) {
    VolumeSlideFirstTick(e);
    ApplyVibrato(e.c);
}

void VibratoVolSlideLaterTick(EffectContext& e) {
    ApplyVibrato(e.c);
    VolumeSlide(e.c, e.c.volumeSlideMemory);
}

void TremoloFirstTick(EffectContext& e) {
    if (e.x())
        e.c.tremoloSpeed = static_cast<std::uint8_t>(e.x());
    if (e.y())
        e.c.tremoloDepth = static_cast<std::uint8_t>(e.y());
}

void TremoloLaterTick(EffectContext& e) {
    ApplyTremolo(e.c);
}

void SetPanningFirstTick(EffectContext& e) {
    e.c.panning = e.xx();
    e.c.flags |= UpdatePanning;
}

// An offset at or past the loop's end starts nothing.
void SampleOffsetFirstTick(EffectContext& e) {
    ChannelState& c = e.c;
    if (e.xx())
        c.offsetMemory = std::uint32_t{e.xx()} * 256;
    if (c.offsetMemory < e.smp->LoopEnd()) {
        c.voice->startOffset = c.offsetMemory;
    } else {
        c.flags &= ~UpdateTrigger;
        c.voice->startOffset = 0;
        c.voice->position = 0;
        c.voice->fraction = 0;
    }
}

void PositionJumpFirstTick(EffectContext& e) {
    SongState& song = e.song;
    song.nextOrder = e.xx() < song.songLength ? e.xx() : 0;
    song.nextRow = 0;
    e.row.jumpSeen = true;
}

void SetVolumeFirstTick(EffectContext& e) {
    e.c.volume = e.xx();
}

// The row is given in decimal digits; without a jump in the row it is in the next pattern.
void PatternBreakFirstTick(EffectContext& e) {
    SongState& song = e.song;
    song.nextRow = 10 * e.x() + e.y();
    if (!e.row.jumpSeen) {
        song.nextOrder = song.order + 1 < song.songLength ? song.order + 1 : 0;
    }
}

// Below 32 the ticks per row, from 32 on the tempo.
void SpeedTempoFirstTick(EffectContext& e) {
    if (e.xx() < 32) {
        e.song.speed = e.xx();
    } else {
        SetTempo(e.song, e.xx());
    }
}

void GlobalVolumeFirstTick(EffectContext& e) {
    e.song.globalVolume = e.xx();
}

void GlobalVolumeSlideFirstTick(EffectContext& e) {
    if (e.xx())
        e.song.globalSlideMemory = e.xx();
}

void GlobalVolumeSlideLaterTick(EffectContext& e) {
    SongState& song = e.song;
    const std::uint8_t m = song.globalSlideMemory;
    song.globalVolume =
        (m >> 4) ? WrapAdd(song.globalVolume, m >> 4) : WrapSub(song.globalVolume, m & 0x0F);
}

void EnvelopePositionFirstTick(EffectContext& e) {
    SetEnvelopePosition(e.c, e.ins, e.xx());
}

void PanningSlideFirstTick(EffectContext& e) {
    if (e.xx()) {
        e.c.panningSlideMemory = e.xx();
        e.c.flags |= UpdatePanning;
    }
}

// The panning stays within 0 to 255.
void PanningSlideLaterTick(EffectContext& e) {
    ChannelState& c = e.c;
    const std::uint8_t m = c.panningSlideMemory;
    if (m >> 4) {
        const std::int64_t p = std::int64_t{c.panning} + (m >> 4);
        c.panning = static_cast<std::int32_t>(p < 255 ? p : 255);
    } else {
        const std::int64_t p = std::int64_t{c.panning} - (m & 0x0F);
        c.panning = static_cast<std::int32_t>(p > 0 ? p : 0);
    }
    c.flags |= UpdatePanning;
}

void MultiRetrigFirstTick(EffectContext& e) {
    if (e.xx()) {
        e.c.retrigMode = static_cast<std::uint8_t>(e.x());
        e.c.retrigInterval = static_cast<std::uint8_t>(e.y());
    }
}

void MultiRetrigLaterTick(EffectContext& e) {
    ChannelState& c = e.c;
    if (c.retrigInterval != 0 && e.song.tick % c.retrigInterval == 0) {
        c.flags |= UpdateTrigger;
        if (c.retrigMode != 0) {
            c.volume = RetrigVolume(c.retrigMode, c.volume);
            c.flags |= UpdateVolume;
        }
    }
}

void TremorFirstTick(EffectContext& e) {
    if (e.xx()) {
        e.c.tremorOn = static_cast<std::uint8_t>(e.x());
        e.c.tremorOff = static_cast<std::uint8_t>(e.y());
    }
    Tremor(e.c);
}

void TremorLaterTick(EffectContext& e) {
    Tremor(e.c);
}

void ExtraFinePortaFirstTick(EffectContext& e) {
    ChannelState& c = e.c;
    const int y = e.y();
    if (e.x() == XfPortaUp) {
        if (y)
            c.extraFineUpMemory = static_cast<std::uint8_t>(y);
        c.period = WrapSub(c.period, c.extraFineUpMemory);
    } else if (e.x() == XfPortaDown) {
        if (y)
            c.extraFineDownMemory = static_cast<std::uint8_t>(y);
        c.period = WrapAdd(c.period, c.extraFineDownMemory);
    }
}

constexpr std::size_t kEffectCodes = FxExtraFinePorta + 1;

// The handlers by effect code (a struct: a table built by a constant function). The key off
// (20) is the sequencer's: it has no handler.
struct EffectTable {
    EffectHandlers byCode[kEffectCodes];
};

constexpr EffectTable kEffects = [] {
    EffectTable t{};
    EffectHandlers* h = t.byCode;
    h[FxArpeggio] = {nullptr, ArpeggioLaterTick};
    h[FxPortaUp] = {PortaMemoryFirstTick, PortaUpLaterTick};
    h[FxPortaDown] = {PortaMemoryFirstTick, PortaDownLaterTick};
    h[FxTonePorta] = {TonePortaFirstTick, TonePortaLaterTick};
    h[FxVibrato] = {VibratoFirstTick, VibratoLaterTick};
    h[FxTonePortaVolSlide] = {TonePortaVolSlideFirstTick, TonePortaVolSlideLaterTick};
    h[FxVibratoVolSlide] = {VibratoVolSlideFirstTick, VibratoVolSlideLaterTick};
    h[FxTremolo] = {TremoloFirstTick, TremoloLaterTick};
    h[FxSetPanning] = {SetPanningFirstTick, nullptr};
    h[FxSampleOffset] = {SampleOffsetFirstTick, nullptr};
    h[FxVolumeSlide] = {VolumeSlideFirstTick, VolumeSlideLaterTick};
    h[FxPositionJump] = {PositionJumpFirstTick, nullptr};
    h[FxSetVolume] = {SetVolumeFirstTick, nullptr};
    h[FxPatternBreak] = {PatternBreakFirstTick, nullptr};
    h[FxExtended] = {ExtendedFirstTick, ExtendedLaterTick};
    h[FxSpeedTempo] = {SpeedTempoFirstTick, nullptr};
    h[FxGlobalVolume] = {GlobalVolumeFirstTick, nullptr};
    h[FxGlobalVolumeSlide] = {GlobalVolumeSlideFirstTick, GlobalVolumeSlideLaterTick};
    h[FxEnvelopePosition] = {EnvelopePositionFirstTick, nullptr};
    h[FxPanningSlide] = {PanningSlideFirstTick, PanningSlideLaterTick};
    h[FxMultiRetrig] = {MultiRetrigFirstTick, MultiRetrigLaterTick};
    h[FxTremor] = {TremorFirstTick, TremorLaterTick};
    h[FxExtraFinePorta] = {ExtraFinePortaFirstTick, nullptr};
    return t;
}();

} // namespace

void FirstTickEffect(EffectContext& e) {
    Dispatch(kEffects.byCode, kEffectCodes, e.cell.effect, &EffectHandlers::firstTick, e);
}

void LaterTickEffect(EffectContext& e) {
    Dispatch(kEffects.byCode, kEffectCodes, e.cell.effect, &EffectHandlers::laterTicks, e);
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

} // namespace music
