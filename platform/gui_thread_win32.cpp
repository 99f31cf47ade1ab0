// The GUI thread's message pump and the hand-over of updates from other threads.
#include "platform/gui_thread_win32.h"

#include "platform/owner_win32.h"

namespace platform {

void Synchronize(HWND window, const std::function<void()>& update) {
    const KernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done) {
        return;
    }
    SynchronizeJob job{&update, done.Get()};
    if (PostMessageW(window, WM_SYNCHRONIZE, 0, reinterpret_cast<LPARAM>(&job))) {
        WaitForSingleObject(done.Get(), INFINITE);
    }
}

void RunSynchronized(const SynchronizeJob& job) {
    // Set on every way out; the job belongs to the waiting thread and is gone after that.
    struct Release {
        HANDLE done;
        ~Release() { SetEvent(done); }
    } release{job.done};
    (*job.update)();
}

void MessagePump::Handle(MSG& message) {
    if (dialog_ && IsDialogMessageW(dialog_, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void MessagePump::ProcessPending() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            quit_ = true;
            return;
        }
        Handle(m);
    }
}

} // namespace platform
