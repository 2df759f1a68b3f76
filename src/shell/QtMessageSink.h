#pragma once

#include <string_view>

#include <QObject>

#include <condition_variable>
#include <mutex>

#include "platform/MessageSink.h"

namespace tess {

// The on-screen message sink: each message is a modal QMessageBox, kept on
// top, captioned "Tessarine", shown by the GUI thread. Called on the GUI
// thread it runs the box at once; called from any other thread it hands the
// box to the GUI thread and waits until the user has answered. That wait is
// safe because the GUI thread never waits on a worker. Install it while the
// QApplication's event loop runs (a worker calling after the loop has ended
// would wait for ever).
class QtMessageSink : public QObject, public MessageSink {
    Q_OBJECT

public:
    // Must be constructed on the GUI thread, after the QApplication.
    explicit QtMessageSink(QObject* parent = nullptr);

    ~QtMessageSink() override;

    void show(std::string_view text) override;
    bool confirm(std::string_view text) override;

    // From now on a worker thread gets no box: its message counts as dismissed
    // (a question as Cancel). Called when the application quits, because the
    // windows then end their panes' threads, and a thread waiting for a box
    // that the GUI thread will never show again would never end.
    void close();

private:
    struct PendingAnswer {
        bool answered = false;
        bool answer = false;
    };

    bool runBox(std::string_view text, bool withCancel);

    std::mutex mutex_;
    std::condition_variable answered_;
    bool closed_ = false;
};

}  // namespace tess
