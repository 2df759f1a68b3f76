#pragma once

#include <string_view>

#include <QObject>

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

    void show(std::string_view text) override;
    bool confirm(std::string_view text) override;

private:
    bool runBox(std::string_view text, bool withCancel);
};

}  // namespace tess
