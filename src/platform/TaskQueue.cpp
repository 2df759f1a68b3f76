#include "platform/TaskQueue.h"

namespace tess {

TaskQueue::TaskQueue(std::string name)
    : thread_(
          std::move(name), [this](const WorkerThread::StopRequest& stop) { run(stop); },
          [this] { wake(); }) {
    thread_.start();
}

TaskQueue::~TaskQueue() {
    dropQueued();
    thread_.requestStop();
    thread_.join();
}

void TaskQueue::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    posted_.notify_one();
}

void TaskQueue::dropQueued() {
    std::lock_guard lock(mutex_);
    tasks_.clear();
}

void TaskQueue::wake() {
    // Taking the lock orders the wake-up after a waiter's look at the stop request.
    { std::lock_guard lock(mutex_); }
    posted_.notify_all();
}

void TaskQueue::run(const WorkerThread::StopRequest& stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        posted_.wait(lock, [&] { return stop || !tasks_.empty(); });
        if (stop) return;
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // what the task holds goes before the next one starts
        lock.lock();
    }
}

}  // namespace tess
