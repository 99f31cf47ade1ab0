// Threads: priorities for the program's background threads, and the playback thread's
// start, wait and sleep.
#pragma once

#include <cstdint>

namespace platform {

void SetCurrentThreadPriorityBelowNormal();
// Time-critical priority (the music's playback thread).
void SetCurrentThreadPriorityTimeCritical();

using ThreadHandle = void*; // null: none
using ThreadEntry = void (*)();

// Starts entry on a new thread at once; null on failure.
ThreadHandle ThreadStart(ThreadEntry entry);
void ThreadSetTimeCritical(ThreadHandle thread);
// Waits without time limit for the thread's end, then releases the handle.
void ThreadJoinAndClose(ThreadHandle thread);
void SleepMilliseconds(std::uint32_t ms);

} // namespace platform
