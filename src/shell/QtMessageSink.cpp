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

void QtMessageSink::show(std::string_view text) {
    const QString message = QString::fromUtf8(text);
    if (QThread::currentThread() == thread()) {
        execBox(message, false);
        return;
    }
    QMetaObject::invokeMethod(
        this, [message] { execBox(message, false); }, Qt::QueuedConnection);
}

bool QtMessageSink::confirm(std::string_view text) {
    if (QThread::currentThread() != thread()) return false;
    return execBox(QString::fromUtf8(text), true);
}

}  // namespace tess
