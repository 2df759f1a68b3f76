#include "shell/QtMessageSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

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

QtMessageSink::QtMessageSink(QObject* parent) : QObject(parent) {}

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
    bool answer = false;
    QMetaObject::invokeMethod(
        this, [&] { answer = execBox(message, withCancel); }, Qt::BlockingQueuedConnection);
    return answer;
}

}  // namespace tess
