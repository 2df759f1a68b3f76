#include "liveview/QtEventLoop.h"

#include <QMetaObject>
#include <QTimer>

namespace tess {

QtEventLoop::QtEventLoop() = default;

QtEventLoop::~QtEventLoop() {
    // The timers are children of the context and go with it.
    timers_.clear();
}

void QtEventLoop::post(Task task) {
    QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

EventLoop::TimerId QtEventLoop::startTimer(int milliseconds, Task task) {
    const TimerId id = nextId_++;
    auto* timer = new QTimer(&context_);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, &context_, [this, id, task = std::move(task)] {
        cancelTimer(id);
        task();
    });
    timers_[id] = timer;
    timer->start(milliseconds);
    return id;
}

void QtEventLoop::cancelTimer(TimerId id) {
    const auto found = timers_.find(id);
    if (found == timers_.end()) return;
    QTimer* timer = found->second;
    timers_.erase(found);
    timer->stop();
    // Not deleted at once: it may be the timer whose timeout runs now.
    timer->deleteLater();
}

}  // namespace tess
