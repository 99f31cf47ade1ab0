// The sequencer: walks the order table row by row and tick by tick. A row's first tick reads
// each channel's cell (note, instrument, volume column, effect); the later ticks go on with
// what the cell started. The effects themselves are effects.cpp's and volume_column.cpp's.
#include "music/sequencer.h"

#include "music/channel.h"
#include "music/effects.h"
#include "music/engine.h"
#include "music/volume_column.h"
#include "music/wrap.h"

namespace music {

namespace {

constexpr std::uint32_t kTickFramesAtOneBpm = 120000; // 2.5 s at 48 kHz

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

const Cell* RowCells(const SongState& song) {
    const PatternSlot& slot = song.patterns[song.orders[song.order]];
    // A row at or beyond the pattern's end (a break or loop that names it) has no cells.
    if (!slot.cells || song.row >= slot.rows) {
        return nullptr;
    }
    return slot.cells + std::size_t{song.row} * song.channelCount;
}

bool HasNote(const Cell& cell) {
    return cell.note >= 1 && cell.note <= 96;
}

// A tone portamento slides to the cell's note from where the channel is.
bool IsTonePorta(const Cell& cell) {
    return cell.effect == FxTonePorta || cell.effect == FxTonePortaVolSlide;
}

// The cell's instrument and note become the channel's, except under a tone portamento.
void TakeCell(ChannelState& c, const Cell& cell) {
    if (IsTonePorta(cell)) {
        return;
    }
    if (cell.instrument)
        c.instrument = static_cast<std::uint8_t>(cell.instrument - 1);
    if (HasNote(cell))
        c.note = static_cast<std::uint8_t>(cell.note - 1);
}

// The row's effect takes over from the last one; a tremolo's offset stays in the volume once
// another effect follows it.
void StartRowEffect(ChannelState& c, const Cell& cell) {
    if (cell.effect != FxTremolo && c.lastEffect == FxTremolo) {
        c.volume = WrapAdd(c.volume, c.volumeDelta);
    }
    c.lastEffect = cell.effect;
    c.volumeDelta = 0;
    c.periodDelta = 0;
    c.flags = UpdateFrequency | UpdateVolume;
}

void StartNote(const SongState& song, ChannelState& c, const Cell& cell, const SampleRecord& smp) {
    const int real = cell.note - 1 + smp.relativeNote;
    c.realNote = static_cast<std::int16_t>(real);
    c.notePeriod = NotePeriod(song.Linear(), real, smp.finetune);
    if (!IsTonePorta(cell))
        c.period = c.notePeriod;
    c.flags |= UpdateTrigger;
}

// An instrument in the cell starts the sample's volume and panning, the envelopes and the
// fade-out afresh.
void StartInstrument(ChannelState& c, const SampleRecord& smp) {
    c.volume = smp.volume;
    c.panning = smp.panning;
    c.envelopeVolume = 64;
    c.envelopePanning = 32;
    c.fadeVolume = kFullFade;
    ResetEnvelopes(c);
    ResetOscillators(c);
    c.flags |= UpdateVolume | UpdatePanning;
}

// The envelopes' and the fade-out's step on a row's first tick; a key off releases the key
// first.
void RowEnvelopes(ChannelState& c, const Cell& cell, const InstrumentRecord& ins) {
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
}

// The envelopes' and the fade-out's step on a later tick.
void TickEnvelopes(ChannelState& c, const InstrumentRecord& ins) {
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
}

void RowChannel(SongState& song, RowState& row, ChannelState& c, const Cell& cell) {
    TakeCell(c, cell);
    SampleRecord* smp = ChannelSample(song, c);
    const InstrumentRecord& ins = ChannelInstrument(song, c);
    EffectContext effect{song, row, c, smp, ins, cell, {c.period, c.volume, c.panning}};
    StartRowEffect(c, cell);
    if (HasNote(cell)) {
        StartNote(song, c, cell, *smp);
    }
    if (cell.instrument) {
        StartInstrument(c, *smp);
    }
    VolumeColumnFirstTick(c, cell.volume);
    RowEnvelopes(c, cell, ins);
    FirstTickEffect(effect);
    UpdateChannel(song, c, smp, ins);
}

void TickChannel(SongState& song, RowState& row, ChannelState& c, const Cell& cell) {
    SampleRecord* smp = ChannelSample(song, c);
    const InstrumentRecord& ins = ChannelInstrument(song, c);
    c.volumeDelta = 0;
    c.periodDelta = 0;
    c.flags = 0;
    TickEnvelopes(c, ins);
    VolumeColumnLaterTick(c, cell.volume);
    EffectContext effect{song, row, c, smp, ins, cell, {c.period, c.volume, c.panning}};
    LaterTickEffect(effect);
    UpdateChannel(song, c, smp, ins);
}

void ProcessRow(SongState& song) {
    const Cell* cells = RowCells(song);
    if (!cells) {
        return;
    }
    RowState row;
    for (std::uint32_t ch = 0; ch < song.channelCount; ++ch) {
        RowChannel(song, row, song.channels[ch], cells[ch]);
    }
}

void ProcessTick(SongState& song) {
    const Cell* cells = RowCells(song);
    if (!cells) {
        return;
    }
    RowState row;
    for (std::uint32_t ch = 0; ch < song.channelCount; ++ch) {
        TickChannel(song, row, song.channels[ch], cells[ch]);
    }
}

// The row a jump, break or loop named, or the one planned after the last row.
void EnterRow(SongState& song) {
    const std::int32_t nextOrder = song.nextOrder;
    const std::int32_t nextRow = song.nextRow;
    song.nextOrder = -1;
    song.nextRow = -1;
    if (nextOrder >= 0)
        song.order = static_cast<std::uint32_t>(nextOrder);
    if (nextRow >= 0)
        song.row = static_cast<std::uint32_t>(nextRow);
}

// Where no effect of the row named the next row: the next one of the pattern, or the first of
// the next order position; after the order list the restart position, or the song's end
// (false) under the no-loop flag.
bool PlanNextRow(Engine& engine) {
    SongState& song = engine.song;
    if (song.nextRow != -1) {
        return true;
    }
    const std::uint32_t rows = song.patterns[song.orders[song.order]].rows;
    if (std::uint64_t{song.row} + 1 < rows) {
        song.nextRow = static_cast<std::int32_t>(song.row + 1);
        return true;
    }
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
    return true;
}

// The next tick after this one's frames; a row lasts its speed plus a pattern delay's ticks.
void EndTick(SongState& song) {
    song.samplesToNextTick = song.samplesPerTick;
    song.tick += 1;
    if (song.tick >= song.speed + song.patternDelay) {
        song.patternDelay = 0;
        song.tick = 0;
    }
}

} // namespace

void SetTempo(SongState& song, std::uint32_t bpm) {
    song.samplesPerTick = bpm == 0 ? kTickFramesAtOneBpm : kTickFramesAtOneBpm / bpm;
}

bool RunTick(Engine& engine) {
    SongState& song = engine.song;
    if (engine.observer && !engine.observer->TickStarts(song)) {
        return false;
    }
    if (song.tick == 0) {
        EnterRow(song);
        ProcessRow(song);
        if (!PlanNextRow(engine)) {
            return false;
        }
    } else {
        ProcessTick(song);
    }
    EndTick(song);
    return true;
}

} // namespace music
