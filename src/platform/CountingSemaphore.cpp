#include "platform/CountingSemaphore.h"

#include <chrono>

namespace tess {

CountingSemaphore::CountingSemaphore(int32_t initial, int32_t maximum)
    : count_(initial), maximum_(maximum) {}

bool CountingSemaphore::acquire() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return count_ > 0 || cancelled_; });
    if (cancelled_) return false;
    --count_;
    return true;
}

bool CountingSemaphore::acquireFor(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    const bool ready = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [this] { return count_ > 0 || cancelled_; });
    if (!ready || cancelled_) return false;
    --count_;
    return true;
}

bool CountingSemaphore::tryAcquire() {
    std::lock_guard lock(mutex_);
    if (cancelled_ || count_ == 0) return false;
    --count_;
    return true;
}

bool CountingSemaphore::release(int32_t n) {
    {
        std::lock_guard lock(mutex_);
        if (n <= 0 || count_ > maximum_ - n) return false;
        count_ += n;
    }
    changed_.notify_all();
    return true;
}

void CountingSemaphore::cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    changed_.notify_all();
}

int32_t CountingSemaphore::count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

}  // namespace tess
