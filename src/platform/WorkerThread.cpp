#include "platform/WorkerThread.h"

#include <pthread.h>

#include <chrono>

namespace tess {

WorkerThread::WorkerThread(std::string name, std::function<void()> body) {
    thread_ = std::thread([this, name = std::move(name), body = std::move(body)] {
        // Linux limits thread names to 15 characters.
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        body();
        std::lock_guard lock(mutex_);
        finished_ = true;
        ended_.notify_all();
    });
}

WorkerThread::~WorkerThread() { join(); }

bool WorkerThread::waitFor(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished_; });
}

bool WorkerThread::finished() {
    std::lock_guard lock(mutex_);
    return finished_;
}

void WorkerThread::join() {
    if (thread_.joinable() && !isCurrentThread()) thread_.join();
}

}  // namespace tess
