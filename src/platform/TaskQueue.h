#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/WorkerThread.h"

namespace tess {

// A thread that runs posted tasks one at a time, in the order they were
// posted. post() and dropQueued() return at once on any thread; a task that
// runs is never interrupted by them. The destructor drops what is still
// queued and joins after the running task.
class TaskQueue {
public:
    using Task = std::function<void()>;

    explicit TaskQueue(std::string name);
    ~TaskQueue();
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    void post(Task task);
    // Forgets the tasks that have not started yet.
    void dropQueued();

private:
    void run(const WorkerThread::StopRequest& stop);
    void wake();

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Task> tasks_;
    WorkerThread thread_;  // last: it starts once the queue exists
};

}  // namespace tess
