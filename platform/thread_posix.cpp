// Threads off Windows: std::thread, with priorities lowered where an ordinary user may.
#include "platform/thread.h"

#include <sys/resource.h>

#include <chrono>
#include <new>
#include <thread>

namespace platform {

// Ordinary users may lower a thread's priority but not raise it; raising is best effort.
void SetCurrentThreadPriorityBelowNormal() {
    setpriority(PRIO_PROCESS, 0, 5);
}

void SetCurrentThreadPriorityTimeCritical() {}

ThreadHandle ThreadStart(ThreadEntry entry) {
    try {
        return new std::thread(entry);
    } catch (...) {
        return nullptr;
    }
}

// As above: an ordinary user may not raise priorities on Linux.
void ThreadSetTimeCritical(ThreadHandle) {}

void ThreadJoinAndClose(ThreadHandle thread) {
    auto* t = static_cast<std::thread*>(thread);
    t->join();
    delete t;
}

void SleepMilliseconds(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace platform
