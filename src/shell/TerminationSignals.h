#pragma once

#include <QObject>

class QSocketNotifier;

namespace tess {

// Turns SIGINT, SIGTERM and SIGHUP into the Qt signal `requested`, emitted on
// the GUI thread's event loop, so that the program can end the way closing
// its main window does. The handler only writes one byte into a pipe (the
// self-pipe); a notifier on the pipe's other end does the rest. One object at
// a time; the default dispositions return when it is destroyed.
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe or the handlers could not be set up; the signals
    // then keep their default effect.
    bool installed() const { return installed_; }

signals:
    void requested();

private:
    void drain();

    int readFd_ = -1;
    int writeFd_ = -1;
    bool installed_ = false;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tess
