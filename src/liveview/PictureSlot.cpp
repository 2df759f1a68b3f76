#include "liveview/PictureSlot.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace tess {
namespace {

// Empties the eventfd; it never blocks.
void drain(int fd) {
    uint64_t count = 0;
    while (::read(fd, &count, sizeof count) > 0) {
    }
}

}  // namespace

PictureSlot::PictureSlot() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PictureSlot::~PictureSlot() {
    delete notifier_.data();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void PictureSlot::setReceiver(QObject* receiver, std::function<void()> onWake) {
    delete notifier_.data();
    if (wakeFd_ >= 0) drain(wakeFd_);
    std::function<void()> wake = receiver != nullptr ? std::move(onWake) : std::function<void()>();
    if (receiver != nullptr && wakeFd_ >= 0) {
        notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, receiver);
        QObject::connect(notifier_, &QSocketNotifier::activated, receiver, [this] {
            drain(wakeFd_);
            if (onWake_) onWake_();
        });
    }
    std::lock_guard lock(mutex_);
    receiver_ = receiver;
    onWake_ = std::move(wake);
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
    // Waking under the lock keeps setReceiver(nullptr) from racing a wake-up
    // of a receiver that is going away; writing the count never waits for the
    // GUI and allocates nothing.
    if (receiver_ != nullptr && !wakeInFlight_.exchange(true)) {
        ++wakes_;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
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
