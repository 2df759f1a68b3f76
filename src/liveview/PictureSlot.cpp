#include "liveview/PictureSlot.h"

#include <QMetaObject>

namespace tess {

void PictureSlot::setReceiver(QObject* receiver, std::function<void()> onWake) {
    std::lock_guard lock(mutex_);
    receiver_ = receiver;
    onWake_ = receiver != nullptr ? std::move(onWake) : std::function<void()>();
    wakeInFlight_ = false;
}

void PictureSlot::publish(QImage& picture) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return;
    }
    pending_.swap(picture);
    if (hasPending_) {
        ++skipped_;
    }
    hasPending_ = true;
    ++published_;
    // Posting under the lock keeps setReceiver(nullptr) from racing a post to
    // a receiver that is going away; posting an event never waits for the GUI.
    if (receiver_ != nullptr && !wakeInFlight_.exchange(true)) {
        ++wakes_;
        QMetaObject::invokeMethod(receiver_, onWake_, Qt::QueuedConnection);
    }
}

bool PictureSlot::take(QImage& shown) {
    // Consumed before looking: a picture published from here on posts a new
    // wake-up instead of waiting unseen behind this one.
    wakeInFlight_ = false;
    std::lock_guard lock(mutex_);
    if (!hasPending_) {
        return false;
    }
    pending_.swap(shown);
    hasPending_ = false;
    return true;
}

void PictureSlot::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    hasPending_ = false;
}

void PictureSlot::open() {
    std::lock_guard lock(mutex_);
    closed_ = false;
}

void PictureSlot::setClientSize(QSize size) {
    clientWidth_ = size.width();
    clientHeight_ = size.height();
}

QSize PictureSlot::clientSize() const {
    return {clientWidth_.load(), clientHeight_.load()};
}

void PictureSlot::setDisplaySize(QSize size) {
    displayWidth_ = size.width();
    displayHeight_ = size.height();
}

QSize PictureSlot::displaySize() const {
    return {displayWidth_.load(), displayHeight_.load()};
}

}  // namespace tess
