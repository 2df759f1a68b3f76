#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tess {

// A named thread whose end can be awaited with a time limit. The destructor
// joins: whoever owns a WorkerThread must first make its body return (stop
// event, cancelled semaphores, closed links), so no thread outlives what it uses.
// It must never be destroyed by its own thread.
class WorkerThread {
public:
    WorkerThread(std::string name, std::function<void()> body);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // True when the body has returned within `timeoutMs`.
    bool waitFor(uint32_t timeoutMs);
    bool finished();
    void join();
    bool isCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace tess
