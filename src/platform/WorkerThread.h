#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tess {

// The one owner of a thread's lifecycle: the stop request, the wake-up that
// ends the body's unbounded waits, and the join, all in one place.
//
// The body gets the stop request and looks at it between frames or blocks;
// `wake` (may be empty) runs on the thread that asks for the stop and cancels
// whatever the body may be blocked in (a queue's semaphores, a link). A body
// may run again after its thread was joined.
//
// requestStop() returns at once and may be called from any thread, also
// while another thread joins. start() and join() are for the owner's threads,
// never the body's own. The destructor asks for the stop and joins, so no
// thread outlives what it uses.
class WorkerThread {
public:
    using StopRequest = std::atomic<bool>;
    using Body = std::function<void(const StopRequest&)>;

    WorkerThread(std::string name, Body body, std::function<void()> wake = {});
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs the body on a new thread; false (nothing starts) while an earlier
    // run has not been joined.
    bool start();
    // Sets the stop request and, while the body runs, wakes it.
    void requestStop();
    bool stopRequested() const { return stop_.load(); }
    // Waits for the body to return and releases its thread.
    void join();
    // True from start() until the body has returned.
    bool running() const { return running_.load(); }

private:
    const std::string name_;
    const Body body_;
    const std::function<void()> wake_;
    StopRequest stop_{false};
    std::atomic<bool> running_{false};
    std::mutex mutex_;  // guards thread_
    std::thread thread_;
};

}  // namespace tess
