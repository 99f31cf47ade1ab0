// The marquee: a background thread turns the credit nickname by one character every 150 to
// 350 ms and hands each new text to the GUI thread, waiting until it is shown.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace show {

inline constexpr std::u16string_view kMarqueeText = u"\"Vemu7ka\"";
inline constexpr std::u16string_view kMarqueeText2 = u"The Thruth Is Out There";

// The text turned right by one character: its last character moves to the front.
std::u16string TurnRight(std::u16string_view text);
// One of the marquee's pauses: 150, 200, 250, 300 or 350 ms.
std::uint32_t MarqueePause();

class TItoolsThread {
public:
    // Runs `update` on the GUI thread and returns once it has run there.
    using Synchronize = std::function<void(const std::function<void()>& update)>;
    // Shows a text in a label (called on the GUI thread only).
    using LabelSetter = std::function<void(const std::u16string& text)>;
    using Sleeper = std::function<void(std::uint32_t milliseconds)>;

    // Created suspended: nothing runs until Start.
    TItoolsThread(Synchronize synchronize, Sleeper sleep);
    TItoolsThread(const TItoolsThread&) = delete;
    TItoolsThread& operator=(const TItoolsThread&) = delete;
    // The thread is never ended by the program; a destroyed marquee stops it first.
    ~TItoolsThread();

    void* TransMemo = nullptr; // the console; kept, never used by the thread
    LabelSetter Lbl;           // the label showing SourceString
    LabelSetter Lbl2;          // a second label; none in this window

    // Starts (or resumes) the thread at below-normal priority.
    void Start();
    // Stops the thread at the top of its loop, where it holds nothing the GUI thread needs;
    // an update it has already handed over may still run.
    void Pause();
    bool Paused() const;
    int Turns() const;

    // The turning texts; read them on the GUI thread inside an update only.
    std::u16string SourceString;
    std::u16string SourceString2;

private:
    void Execute();
    void Update();

    Synchronize synchronize_;
    Sleeper sleep_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool running_ = false;
    bool started_ = false;
    bool paused_ = false;
    bool terminated_ = false;
    int turns_ = 0;
    std::thread thread_;
};

} // namespace show
