#pragma once

#include <cstdint>
#include <functional>

namespace tess {

// The loop of the thread that owns an object (the GUI thread for the live
// session): work handed to it from other threads, and its timers. Objects
// below the windows take one, so that a test can run them in simulated time.
class EventLoop {
public:
    using Task = std::function<void()>;
    using TimerId = uint64_t;

    virtual ~EventLoop() = default;
    // Any thread; returns at once. `task` runs later on the loop's thread,
    // never inside this call; tasks posted by one thread run in order.
    virtual void post(Task task) = 0;
    // Loop thread: `task` runs once on the loop's thread, `milliseconds` from
    // now, unless cancelled first. Ids are never 0.
    virtual TimerId startTimer(int milliseconds, Task task) = 0;
    // Loop thread; an id that has fired or was cancelled is ignored, as is 0.
    virtual void cancelTimer(TimerId id) = 0;
};

}  // namespace tess
