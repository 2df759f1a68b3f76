#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tess {

// A counting semaphore with an initial and a maximum count. A release that
// would pass the maximum fails and changes nothing, so a double release shows
// up as an error instead of silently widening a queue.
//
// `cancel` is for shutdown only: it wakes every waiter, and from then on every
// acquire fails at once. Threads that wait without a time limit rely on it to
// be ended before the buffers they guard go away.
class CountingSemaphore {
public:
    CountingSemaphore(int32_t initial, int32_t maximum);

    CountingSemaphore(const CountingSemaphore&) = delete;
    CountingSemaphore& operator=(const CountingSemaphore&) = delete;

    // Waits without a time limit; false only when cancelled.
    bool acquire();
    // Waits up to `timeoutMs`; false on time-out or when cancelled.
    bool acquireFor(uint32_t timeoutMs);
    bool tryAcquire();
    // Adds `n`; fails without change when the count would pass the maximum.
    bool release(int32_t n = 1);

    void cancel();
    int32_t count() const;
    int32_t maximum() const { return maximum_; }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int32_t count_;
    const int32_t maximum_;
    bool cancelled_ = false;
};

}  // namespace tess
