#include "platform/WorkerThread.h"

#include <pthread.h>

namespace tess {

WorkerThread::WorkerThread(std::string name, Body body, std::function<void()> wake)
    : name_(std::move(name)), body_(std::move(body)), wake_(std::move(wake)) {}

WorkerThread::~WorkerThread() {
    requestStop();
    join();
}

bool WorkerThread::start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return false;
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] {
        // Linux limits thread names to 15 characters.
        pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
        body_(stop_);
        running_ = false;
    });
    return true;
}

void WorkerThread::requestStop() {
    stop_ = true;
    if (wake_ && running_) wake_();
}

void WorkerThread::join() {
    std::thread ending;
    {
        std::lock_guard lock(mutex_);
        ending = std::move(thread_);
    }
    if (ending.joinable()) ending.join();
}

}  // namespace tess
