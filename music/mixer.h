// The mixer: the voices of the channels, started and handed over when a note triggers, and
// mixed into the engine's mix buffer run by run.
#pragma once

#include "music/xm_types.h"

namespace music {

struct Engine;

// Adds frames of every voice with a sample into the mix buffer from writeFrame on.
void MixRun(Engine& engine, int frames, int writeFrame);
// Starts the sample on the channel's voice. Where that voice still sounds, it ramps out on
// its own and the note starts on its twin, which takes over its settings for the channel.
void TriggerVoice(SongState& song, ChannelState& channel, SampleRecord* sample);

} // namespace music
