// The main window's loop as the show and the patch run drive it: one pass of the message
// pump, the closing flag, the program's end, the frame timer Timer1 and whole repaints.
#pragma once

namespace show {

class WindowLoop {
public:
    virtual ~WindowLoop() = default;
    // Handles every pending window message once.
    virtual void ProcessMessages() = 0;
    // True once the window has closed: from then on nothing may be drawn.
    virtual bool WindowClosed() const = 0;
    // Ends the program at once with exit code 0, releasing the window's device context.
    [[noreturn]] virtual void EndProgram() = 0;
    // Switches the frame timer on or off.
    virtual void SetTimerEnabled(bool enabled) = 0;
    // Repaints the whole window at once.
    virtual void RepaintWindow() = 0;
};

} // namespace show
