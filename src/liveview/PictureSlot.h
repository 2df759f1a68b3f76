#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>

class QSocketNotifier;

namespace tess {

// The latest-picture hand-off from a pane's render thread to the widget that
// shows it. It holds at most one pending picture: a newer one replaces it and
// the replaced one counts as skipped. The GUI thread is woken by one wake-up
// at a time, given only when the previous one has been consumed, so a slow
// GUI never collects a backlog and the render thread never waits for it.
//
// Pictures move by swapping QImage objects: the three images in circulation
// (being composed, pending, on screen) keep their buffers, and the wake-up is
// a count written to an eventfd the GUI thread's event loop watches, so
// nothing is copied or allocated per frame once they all have the picture's
// size.
class PictureSlot {
public:
    PictureSlot();
    // GUI thread.
    ~PictureSlot();
    PictureSlot(const PictureSlot&) = delete;
    PictureSlot& operator=(const PictureSlot&) = delete;

    // GUI thread. `onWake` runs on the GUI thread after each publish that
    // found no wake-up in flight; it is expected to call take(). A null
    // receiver detaches: later publishes wake nothing. The receiver must
    // detach before it is destroyed.
    void setReceiver(QObject* receiver, std::function<void()> onWake);

    // Render thread. Swaps `picture` in as the pending one (nothing while the
    // slot is closed); `picture` comes
    // back holding an image whose buffer the caller may reuse (or a null one).
    void publish(QImage& picture);

    // Any thread. A closed slot drops its pending picture and every later
    // publish until it is opened again: a stopped pane shows nothing more.
    void close();
    void open();

    // GUI thread. Swaps the pending picture into `shown` (the old content of
    // `shown` goes back for reuse) and marks the wake-up consumed. False when
    // nothing new was pending.
    bool take(QImage& shown);

    // The size of the widget the picture will be stretched over; written by
    // the GUI thread, read by the render thread to scale drag rectangles.
    void setClientSize(QSize size);
    QSize clientSize() const;
    // The same widget's size in device pixels, which the render thread
    // decodes pictures no larger than; empty: full size.
    void setDisplaySize(QSize size);
    QSize displaySize() const;

    uint64_t publishedCount() const { return published_.load(); }
    uint64_t skippedCount() const { return skipped_.load(); }
    uint64_t wakeCount() const { return wakes_.load(); }

private:
    std::mutex mutex_;
    QImage pending_;
    bool hasPending_ = false;
    bool closed_ = false;
    QObject* receiver_ = nullptr;
    std::function<void()> onWake_;
    // The wake-up: the render thread adds to the eventfd, the notifier (a
    // child of the receiver) reads it on the GUI thread.
    int wakeFd_ = -1;
    QPointer<QSocketNotifier> notifier_;
    std::atomic<bool> wakeInFlight_{false};
    std::atomic<int32_t> clientWidth_{0};
    std::atomic<int32_t> clientHeight_{0};
    std::atomic<int32_t> displayWidth_{0};
    std::atomic<int32_t> displayHeight_{0};
    std::atomic<uint64_t> published_{0};
    std::atomic<uint64_t> skipped_{0};
    std::atomic<uint64_t> wakes_{0};
};

}  // namespace tess
