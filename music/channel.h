// Per-channel pitch, volume and envelopes: the periods and frequencies of notes, the
// oscillators of vibrato and tremolo, the envelopes and the fade-out, and the voice's volumes,
// panning and step derived from them once per tick.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

namespace music {

inline constexpr std::int32_t kFullFade = 65536; // the fade-out's volume before a key off

std::int32_t NotePeriod(bool linear, int realNote, int finetune);
std::int32_t AmigaPeriod(int note); // the table P(m)
std::uint32_t Frequency(bool linear, std::int32_t period, std::int32_t periodDelta);
void StepFromFrequency(std::uint32_t frequency, std::uint32_t& integer, std::uint32_t& fraction);

int Oscillate(std::uint8_t& position, int speed, int depth, int waveform);
void ApplyVibrato(ChannelState& channel);
void ApplyTremolo(ChannelState& channel);
// Restarts the vibrato's and the tremolo's waveforms where the wave control does not keep
// them going.
void ResetOscillators(ChannelState& channel);

enum class Envelope { Volume, Panning };
void StepEnvelope(ChannelState& channel, Envelope which, const InstrumentRecord& instrument);
void FadeoutStep(ChannelState& channel, const InstrumentRecord& instrument);
// Both envelopes and the auto-vibrato from their start, the key pressed.
void ResetEnvelopes(ChannelState& channel);

void UpdateChannel(SongState& song, ChannelState& channel, SampleRecord* sample,
                   const InstrumentRecord& instrument);

} // namespace music
