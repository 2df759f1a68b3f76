#include "shell/QtMessageSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <memory>

#include "resources/StringTable.h"

namespace tess {

namespace {

// GUI thread: one modal box over whatever window is active.
bool execBox(const QString& text, bool withCancel) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromUtf8(text::programName));
    box.setText(text);
    box.setIcon(withCancel ? QMessageBox::Question : QMessageBox::Information);
    box.setStandardButtons(withCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    if (withCancel) {
        box.setEscapeButton(QMessageBox::Cancel);
    }
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec() == QMessageBox::Ok;
}

}  // namespace

QtMessageSink::QtMessageSink(QObject* parent) : QObject(parent) {
    connect(qApp, &QCoreApplication::aboutToQuit, this, &QtMessageSink::close);
}

QtMessageSink::~QtMessageSink() { close(); }

void QtMessageSink::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    answered_.notify_all();
}

void QtMessageSink::show(std::string_view text) {
    runBox(text, false);
}

bool QtMessageSink::confirm(std::string_view text) {
    return runBox(text, true);
}

bool QtMessageSink::runBox(std::string_view text, bool withCancel) {
    const QString message = QString::fromUtf8(text);
    if (QThread::currentThread() == thread()) {
        return execBox(message, withCancel);
    }
    // A worker posts the box to the GUI thread and waits for the answer, or
    // for the sink to close.
    auto pending = std::make_shared<PendingAnswer>();
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
    }
    QMetaObject::invokeMethod(
        this,
        [this, pending, message, withCancel] {
            {
                std::lock_guard lock(mutex_);
                if (closed_) return;
            }
            const bool answer = execBox(message, withCancel);
            {
                std::lock_guard lock(mutex_);
                pending->answer = answer;
                pending->answered = true;
            }
            answered_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return pending->answered || closed_; });
    return pending->answered && pending->answer;
}

}  // namespace tess
