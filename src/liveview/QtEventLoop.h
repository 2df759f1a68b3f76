#pragma once

#include <map>

#include <QObject>

#include "platform/EventLoop.h"

class QTimer;

namespace tess {

// The GUI thread's event loop as an EventLoop: posted tasks are queued calls
// on an object of the GUI thread, timers are single-shot QTimers. Tasks and
// timers still pending when it is destroyed never run.
class QtEventLoop final : public EventLoop {
public:
    QtEventLoop();
    ~QtEventLoop() override;

    void post(Task task) override;
    TimerId startTimer(int milliseconds, Task task) override;
    void cancelTimer(TimerId id) override;

private:
    // Lives on the GUI thread; its queued calls die with it.
    QObject context_;
    std::map<TimerId, QTimer*> timers_;
    TimerId nextId_ = 1;
};

}  // namespace tess
