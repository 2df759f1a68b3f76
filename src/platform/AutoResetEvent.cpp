#include "platform/AutoResetEvent.h"

#include <chrono>

namespace tess {

void AutoResetEvent::set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    signalled_.notify_one();
}

void AutoResetEvent::reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool AutoResetEvent::waitFor(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!signalled_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; }))
        return false;
    set_ = false;
    return true;
}

void AutoResetEvent::wait() {
    std::unique_lock lock(mutex_);
    signalled_.wait(lock, [this] { return set_; });
    set_ = false;
}

bool AutoResetEvent::poll() {
    std::lock_guard lock(mutex_);
    const bool was = set_;
    set_ = false;
    return was;
}

}  // namespace tess
