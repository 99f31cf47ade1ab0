// The GUI thread: the pump of the program's message loops, and the hand-over of an update from
// another thread, which waits until the GUI thread has run it.
#pragma once

#include <windows.h>

#include <functional>

namespace platform {

// Posted by Synchronize to a window: run the SynchronizeJob in lParam on the window's thread.
constexpr UINT WM_SYNCHRONIZE = WM_APP + 2;

// The hand-over's one record: the update and the event its waiting thread is released by.
struct SynchronizeJob {
    const std::function<void()>* update;
    HANDLE done;
};
// Hands `update` to the thread of `window` and waits until it has run there; returns at once
// when it cannot be handed over.
void Synchronize(HWND window, const std::function<void()>& update);
// Runs a handed-over update on the window's thread (its window procedure calls this for
// WM_SYNCHRONIZE). The waiting thread is released however the update ends; an error it
// throws goes on to the caller.
void RunSynchronized(const SynchronizeJob& job);

// How the program's message loops handle messages on the GUI thread.
class MessagePump {
public:
    // The window whose keyboard navigation runs before dispatch (Tab moves the focus between
    // its controls); none for no navigation.
    void SetDialogWindow(HWND window) { dialog_ = window; }
    HWND DialogWindow() const { return dialog_; }
    // Handles one message: the dialog navigation first, then translation and dispatch.
    void Handle(MSG& message);
    // Handles every pending message once, like a framework's "process messages"; a quit
    // message is remembered (see QuitRequested) instead of being dispatched.
    void ProcessPending();
    bool QuitRequested() const { return quit_; }

private:
    HWND dialog_ = nullptr;
    bool quit_ = false;
};

} // namespace platform
