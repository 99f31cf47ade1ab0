// Threads as the player needs them: start one, raise it to time-critical priority, wait for
// its end, sleep in milliseconds.
#pragma once

#include <cstdint>

namespace platform {

using ThreadHandle = void*; // null: none
using ThreadEntry = void (*)();

// Starts entry on a new thread at once; null on failure.
ThreadHandle ThreadStart(ThreadEntry entry);
void ThreadSetTimeCritical(ThreadHandle thread);
// Waits without time limit for the thread's end, then releases the handle.
void ThreadJoinAndClose(ThreadHandle thread);
void SleepMilliseconds(std::uint32_t ms);

} // namespace platform
