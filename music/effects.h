// The effect column of a cell (effects 0 to 33, the extended E1 to EE among them): each
// effect's handler on a row's first tick and on the row's later ticks, found in one table.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

namespace music {

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

// What the channels of one row share: a position jump seen before a pattern break.
struct RowState {
    bool jumpSeen = false;
};

// A channel's period, volume and panning.
struct ChannelValues {
    std::int32_t period, volume, panning;
};

// What an effect sees: the song and its row, the channel with its sample and instrument, the
// cell, and the channel's values before the row's cell changed them (on later ticks, before
// the tick).
struct EffectContext {
    SongState& song;
    RowState& row;
    ChannelState& c;
    SampleRecord* smp;
    const InstrumentRecord& ins;
    const Cell& cell;
    ChannelValues saved;

    std::uint8_t xx() const { return cell.param; }
    int x() const { return cell.param >> 4; }
    int y() const { return cell.param & 0x0F; }
};

// The cell's effect on a row's first tick, after the note, instrument and volume column.
void FirstTickEffect(EffectContext& e);
// The cell's effect on each later tick of the row, after the volume column.
void LaterTickEffect(EffectContext& e);

// One step of a tone portamento toward its target; the volume column's takes it too.
void TonePortaStep(ChannelState& c);

} // namespace music
