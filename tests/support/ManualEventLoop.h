#pragma once

#include <mutex>
#include <vector>

#include "platform/EventLoop.h"

namespace tess {

// A loop driven by hand, in simulated time: posted tasks wait for
// runPosted(), timers for advance(). post() is safe on any thread; the rest
// belongs to the thread that drives it.
class ManualEventLoop final : public EventLoop {
public:
    void post(Task task) override;
    TimerId startTimer(int milliseconds, Task task) override;
    void cancelTimer(TimerId id) override;

    // Runs the tasks posted so far, and those they post, until none is left;
    // how many ran.
    int runPosted();
    // Moves the clock on by `milliseconds`, running each timer due on the way
    // at its own time, and the posted tasks after each.
    void advance(int milliseconds);
    int64_t now() const { return now_; }
    int pendingTimers() const { return static_cast<int>(timers_.size()); }

private:
    struct Timer {
        TimerId id;
        int64_t due;
        Task task;
    };

    std::mutex mutex_;
    std::vector<Task> posted_;
    std::vector<Timer> timers_;
    TimerId nextId_ = 1;
    int64_t now_ = 0;
};

}  // namespace tess
