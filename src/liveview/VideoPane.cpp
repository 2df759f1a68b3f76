#include "liveview/VideoPane.h"

#include <chrono>
#include <thread>

#include <QMetaObject>
#include <QString>

#include "resources/StringTable.h"

namespace tess {

VideoPane::VideoPane(int number, AudioOut& audioOut, LiveViewLayout& layout,
                     const std::atomic<int32_t>& currentView, std::string snapshotFolder,
                     QWidget* parent)
    : number_(number),
      snapshotFolder_(std::move(snapshotFolder)),
      widget_(new PaneWidget(
          QString::fromUtf8(text::paneCaptions[number].data(), text::paneCaptions[number].size()),
          parent)),
      runtime_(std::make_unique<PaneRuntime>(audioOut, *this, &layout)),
      frames_(&runtime_->frames()) {
    widget_->setObjectName(widget_->caption());
    SessionInfo& session = runtime_->session();
    session.audioToPlayer = false;
    renderThread_ = std::make_unique<RenderThread>(RenderThread::Inputs{
        *frames_, slot_, renderState_, currentView, session.frameCount, *this});
    runtime_->setFrameConsumer(this);
    widget_->attachSlot(slot_);
}

VideoPane::~VideoPane() {
    // The runtime joins every thread of the pane, the render thread included;
    // only then may the slot, the render state and the widget go.
    runtime_.reset();
    renderThread_.reset();
    if (widget_) {
        widget_->detachSlot();
        delete widget_.data();
    }
}

void VideoPane::startPane() {
    ++generation_;
    runtime_->startPane();
}

void VideoPane::stopPane() {
    runtime_->session().keepRetrying = false;
    runtime_->stopPane();
}

void VideoPane::setSnapshot(std::string name, const SnapshotHeader& header) {
    std::lock_guard lock(snapshotMutex_);
    snapshotName_ = std::move(name);
    snapshotHeader_ = header;
}

std::string VideoPane::snapshotName() const {
    std::lock_guard lock(snapshotMutex_);
    return snapshotName_;
}

std::string VideoPane::lastSnapshotError() const {
    std::lock_guard lock(snapshotMutex_);
    return lastSnapshotError_;
}

void VideoPane::loginFinished(bool loggedIn) {
    const uint32_t generation = generation_.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, loggedIn] {
            if (generation == generation_.load()) {
                emit loginResult(loggedIn);
            }
        },
        Qt::QueuedConnection);
}

void VideoPane::requestRepaint() {
    const uint32_t generation = generation_.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == generation_.load() && widget_) {
                widget_->clearPicture();
            }
        },
        Qt::QueuedConnection);
}

void VideoPane::startConsumer() {
    // The runtime has ended any earlier render thread before it starts again.
    renderThread_->join();
    // A picture of the earlier start may still wait in the slot, its wake-up
    // queued: drop it, so that the widget shows its caption until the first
    // picture of this start instead of the last one of the earlier.
    QImage stale;
    slot_.take(stale);
    widget_->clearPicture();
    renderThread_->start();
}

void VideoPane::requestConsumerStop() {
    renderThread_->requestStop();
    // The render thread may be waiting for a frame that never comes.
    frames_->cancel();
}

bool VideoPane::waitConsumerEnd(uint32_t timeoutMs) {
    const auto limit = std::chrono::milliseconds(timeoutMs);
    const auto start = std::chrono::steady_clock::now();
    while (!renderThread_->finished()) {
        if (timeoutMs != UINT32_MAX && std::chrono::steady_clock::now() - start >= limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kConsumerPollMs));
    }
    renderThread_->join();
    return true;
}

bool VideoPane::writeSnapshot(std::span<const uint8_t> frame) {
    std::unique_lock lock(snapshotMutex_);
    SnapshotFile file(snapshotFolder_ + snapshotName_ + ".jpg", snapshotHeader_);
    lock.unlock();
    if (file.write(frame)) {
        return true;
    }
    ++snapshotFailures_;
    lock.lock();
    lastSnapshotError_ = file.error();
    return false;
}

}  // namespace tess
