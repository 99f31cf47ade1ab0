#include "platform/thread.h"

#include <chrono>
#include <new>
#include <thread>

namespace platform {

ThreadHandle ThreadStart(ThreadEntry entry) {
    try {
        return new std::thread(entry);
    } catch (...) {
        return nullptr;
    }
}

// An ordinary user may not raise priorities on Linux; the thread runs at normal priority.
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
