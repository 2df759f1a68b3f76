#include "liveview/VideoPane.h"

#include <QMetaObject>
#include <QString>

#include "platform/Log.h"
#include "resources/StringTable.h"

namespace tess {

VideoPane::VideoPane(int number, AudioOut& audioOut, PaneEvents& window,
                     const std::atomic<int32_t>& currentView, std::string snapshotFolder,
                     QWidget* parent)
    : number_(number),
      snapshotFolder_(std::move(snapshotFolder)),
      window_(window),
      widget_(new PaneWidget(
          QString::fromUtf8(text::paneCaptions[number].data(), text::paneCaptions[number].size()),
          parent)),
      runtime_(std::make_unique<PaneRuntime>(number, audioOut, *this)) {
    widget_->setObjectName(widget_->caption());
    PaneConnection& connection = runtime_->connection();
    connection.audioToPlayer = false;
    renderThread_ = std::make_unique<RenderThread>(RenderThread::Inputs{
        runtime_->frames(), slot_, renderState_, currentView, connection.statistics.frameCount,
        *this, connection.health, connection.videoWanted});
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

void VideoPane::startPane(const LoginData& login) {
    // The runtime closes the slot as it ends the earlier start, so a picture
    // of that start still on its way is dropped: the widget shows its caption
    // until the first picture of this start.
    widget_->clearPicture();
    renderState_.dragRectangle.shown = false;
    // A snapshot asked of the earlier start is not taken of this one.
    renderState_.snapshotRequested = false;
    commandsInFlight_ = 0;
    showBusy();
    logName_.set(login.label, login.host, login.devicePort);
    runtime_->startPane(login);
}

void VideoPane::stopPane() {
    renderState_.snapshotRequested = false;
    commandsInFlight_ = 0;
    showBusy();
    runtime_->stopPane();
}

bool VideoPane::isCurrent(PaneStamp stamp) const {
    return stamp.pane == number_ && stamp.generation == runtime_->connection().generation();
}

void VideoPane::queueCommand(DeviceCommand command) {
    ++commandsInFlight_;
    showBusy();
    runtime_->queueCommand(std::move(command));
}

void VideoPane::showBusy() {
    if (!widget_) return;
    if (commandsInFlight_ > 0) {
        widget_->setCursor(Qt::BusyCursor);
    } else {
        widget_->unsetCursor();
    }
}

void VideoPane::requestSnapshot(std::string stem, const SnapshotHeader& header) {
    {
        std::lock_guard lock(snapshotMutex_);
        snapshotStem_ = std::move(stem);
        snapshotHeader_ = header;
    }
    renderState_.selected = true;
    renderState_.snapshotRequested = true;
}

template <typename Report>
void VideoPane::onGuiThread(PaneStamp stamp, Report report) {
    QMetaObject::invokeMethod(
        this,
        [this, stamp, report = std::move(report)] {
            if (isCurrent(stamp)) report();
        },
        Qt::QueuedConnection);
}

void VideoPane::loginFinished(PaneStamp stamp, bool loggedIn) {
    onGuiThread(stamp, [this, stamp, loggedIn] { window_.loginFinished(stamp, loggedIn); });
}

void VideoPane::modelKnown(PaneStamp stamp, int32_t deviceClass) {
    onGuiThread(stamp, [this, stamp, deviceClass] { window_.modelKnown(stamp, deviceClass); });
}

void VideoPane::negotiated(PaneStamp stamp, const SessionFacts& facts) {
    onGuiThread(stamp, [this, stamp, facts] { window_.negotiated(stamp, facts); });
}

void VideoPane::connectFailed(PaneStamp stamp, RequestResult result) {
    onGuiThread(stamp, [this, stamp, result] {
        if (widget_) widget_->clearPicture();
        window_.connectFailed(stamp, result);
    });
}

void VideoPane::pictureLost(PaneStamp stamp) {
    onGuiThread(stamp, [this, stamp] {
        if (widget_) widget_->clearPicture();
        window_.pictureLost(stamp);
    });
}

void VideoPane::commandFinished(PaneStamp stamp, RequestResult result,
                                std::optional<int32_t> channel) {
    onGuiThread(stamp, [this, stamp, result, channel] {
        if (commandsInFlight_ > 0) --commandsInFlight_;
        showBusy();
        if (result != RequestResult::Ok) {
            logLine(LogArea::Ptz, LogLevel::Warning, "%s: device command failed: %s",
                    logName_.c_str(), describe(result));
        }
        window_.commandFinished(stamp, result, channel);
    });
}

void VideoPane::startConsumer() {
    slot_.open();
    renderThread_->start();
}

void VideoPane::requestConsumerStop() {
    // Closed at once: a frame being composed right now is not shown.
    slot_.close();
    renderThread_->requestStop();
}

void VideoPane::joinConsumer() {
    renderThread_->join();
}

void VideoPane::writeSnapshot(std::span<const uint8_t> frame) {
    std::unique_lock lock(snapshotMutex_);
    const std::string stem = snapshotStem_;
    const SnapshotHeader header = snapshotHeader_;
    lock.unlock();
    const PaneStamp stamp = runtime_->stamp();
    const SavedSnapshot saved = saveSnapshot(snapshotFolder_, stem, header, frame);
    onGuiThread(stamp, [this, saved] {
        if (saved.saved) {
            emit snapshotSaved(QString::fromStdString(saved.fileName));
        } else {
            logLine(LogArea::Ui, LogLevel::Warning, "%s: snapshot not saved: %s", logName_.c_str(),
                    saved.error.c_str());
            emit snapshotFailed(QString::fromStdString(saved.error));
        }
    });
}

}  // namespace tess
