#include "ManualEventLoop.h"

#include <algorithm>

namespace tess {

void ManualEventLoop::post(Task task) {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(task));
}

EventLoop::TimerId ManualEventLoop::startTimer(int milliseconds, Task task) {
    const TimerId id = nextId_++;
    timers_.push_back({id, now_ + std::max(milliseconds, 0), std::move(task)});
    return id;
}

void ManualEventLoop::cancelTimer(TimerId id) {
    std::erase_if(timers_, [id](const Timer& timer) { return timer.id == id; });
}

int ManualEventLoop::runPosted() {
    int ran = 0;
    for (;;) {
        std::vector<Task> batch;
        {
            std::lock_guard lock(mutex_);
            batch.swap(posted_);
        }
        if (batch.empty()) return ran;
        for (Task& task : batch) task();
        ran += static_cast<int>(batch.size());
    }
}

void ManualEventLoop::advance(int milliseconds) {
    const int64_t end = now_ + milliseconds;
    runPosted();
    for (;;) {
        // The earliest due timer, first started among equals.
        auto next =
            std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
                return a.due != b.due ? a.due < b.due : a.id < b.id;
            });
        if (next == timers_.end() || next->due > end) break;
        now_ = next->due;
        Task task = std::move(next->task);
        timers_.erase(next);
        task();
        runPosted();
    }
    now_ = end;
}

}  // namespace tess
