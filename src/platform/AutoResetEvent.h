#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tess {

// An event that releases one waiter per `set` and clears itself as that waiter
// returns. A `set` with nobody waiting stays pending until the next wait or poll.
class AutoResetEvent {
public:
    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void set();
    void reset();
    // True when the event was signalled within `timeoutMs`; consumes the signal.
    bool waitFor(uint32_t timeoutMs);
    // Waits without a time limit.
    void wait();
    // Looks without waiting; consumes a pending signal.
    bool poll();

private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
};

}  // namespace tess
