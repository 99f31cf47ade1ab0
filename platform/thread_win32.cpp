// Threads on Windows, with their priorities.
#include "platform/thread.h"

#include <windows.h>

namespace platform {

void SetCurrentThreadPriorityBelowNormal() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

void SetCurrentThreadPriorityTimeCritical() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

namespace {
DWORD WINAPI Trampoline(LPVOID entry) {
    reinterpret_cast<ThreadEntry>(entry)();
    return 0;
}
} // namespace

ThreadHandle ThreadStart(ThreadEntry entry) {
    return CreateThread(nullptr, 0, Trampoline, reinterpret_cast<LPVOID>(entry), 0, nullptr);
}

void ThreadSetTimeCritical(ThreadHandle thread) {
    SetThreadPriority(static_cast<HANDLE>(thread), THREAD_PRIORITY_TIME_CRITICAL);
}

void ThreadJoinAndClose(ThreadHandle thread) {
    WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread));
}

void SleepMilliseconds(std::uint32_t ms) {
    Sleep(ms);
}

} // namespace platform
