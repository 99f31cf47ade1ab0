// Thread priorities for the program's background threads.
#pragma once

namespace platform {

void SetCurrentThreadPriorityBelowNormal();
// Time-critical priority (the music's playback thread).
void SetCurrentThreadPriorityTimeCritical();

} // namespace platform
