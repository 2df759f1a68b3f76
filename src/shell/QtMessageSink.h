#pragma once

#include <string_view>

#include <QObject>

#include "platform/MessageSink.h"

namespace tess {

// The on-screen message sink: each message is a modal QMessageBox, kept on
// top, captioned "Tessarine", shown by the GUI thread. Messages and questions
// come from the windows, on the GUI thread; workers report failures as values
// and never wait for a user. A message that still arrives from another thread
// is handed to the GUI thread without waiting, and a question from there is
// answered with Cancel.
class QtMessageSink : public QObject, public MessageSink {
    Q_OBJECT

public:
    // Must be constructed on the GUI thread, after the QApplication.
    explicit QtMessageSink(QObject* parent = nullptr) : QObject(parent) {}

    void show(std::string_view text) override;
    bool confirm(std::string_view text) override;
};

}  // namespace tess
