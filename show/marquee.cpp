// The marquee thread: the turning text and the thread that hands it to the GUI thread.
#include "show/marquee.h"

#include "platform/thread.h"
#include "show/random.h"

namespace show {

std::u16string TurnRight(std::u16string_view text) {
    if (text.empty()) {
        return {};
    }
    return std::u16string(1, text.back()) + std::u16string(text.substr(0, text.size() - 1));
}

std::uint32_t MarqueePause() {
    return 150 + 50 * Random(5);
}

TItoolsThread::TItoolsThread(Synchronize synchronize, Sleeper sleep)
    : synchronize_(std::move(synchronize)), sleep_(std::move(sleep)) {}

TItoolsThread::~TItoolsThread() {
    {
        std::lock_guard guard(lock_);
        terminated_ = true;
        running_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TItoolsThread::Start() {
    std::lock_guard guard(lock_);
    running_ = true;
    paused_ = false;
    if (!started_) {
        started_ = true;
        thread_ = std::thread([this] {
            platform::SetCurrentThreadPriorityBelowNormal();
            Execute();
        });
    }
    wake_.notify_all();
}

void TItoolsThread::Pause() {
    std::lock_guard guard(lock_);
    running_ = false;
}

bool TItoolsThread::Paused() const {
    std::lock_guard guard(lock_);
    return paused_;
}

int TItoolsThread::Turns() const {
    std::lock_guard guard(lock_);
    return turns_;
}

void TItoolsThread::Update() {
    if (Lbl) {
        Lbl(SourceString);
    }
    if (Lbl2) {
        Lbl2(SourceString2);
    }
}

void TItoolsThread::Execute() {
    std::u16string text(kMarqueeText), text2(kMarqueeText2);
    for (;;) {
        {
            // The pause point: here the thread holds nothing but its own lock, which it gives
            // up while it waits.
            std::unique_lock guard(lock_);
            if (!running_) {
                paused_ = true;
                wake_.wait(guard, [this] { return running_; });
                paused_ = false;
            }
            if (terminated_) {
                return;
            }
        }
        text = TurnRight(text);
        text2 = TurnRight(text2);
        sleep_(MarqueePause());
        {
            // Paused while asleep: hand nothing more over.
            std::lock_guard guard(lock_);
            if (!running_) {
                continue;
            }
        }
        synchronize_([this, text, text2] {
            SourceString = text;
            SourceString2 = text2;
            Update();
        });
        std::lock_guard guard(lock_);
        ++turns_;
    }
}

} // namespace show
