#pragma once

#include <functional>

#include <QApplication>
#include <QTimer>

namespace tess::test {

// Runs `action` on the next modal dialog of type T once it is open; a dialog
// that never opens within 10 s leaves the watch to end by itself.
template <typename T>
void onNextModal(std::function<void(T&)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(*dialog);
        }
    });
    timer->start();
    QTimer::singleShot(10000, timer, [timer] { timer->deleteLater(); });
}

}  // namespace tess::test
