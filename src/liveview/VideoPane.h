#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include <QObject>
#include <QPointer>

#include "liveview/PaneWidget.h"
#include "liveview/PictureSlot.h"
#include "liveview/RenderThread.h"
#include "liveview/SnapshotWriter.h"
#include "pane/PaneRuntime.h"
#include "platform/Log.h"
#include "snapshots/SnapshotFile.h"

class QWidget;

namespace tess {

// The window side of one picture pane of the live view: its PaneWidget
// ("View1" ... "View4"), the PictureSlot between its render thread and the
// widget, the render state the GUI thread sets (selection, drag rectangle,
// snapshot request), the RenderThread on the runtime's FrameQueue, and the
// PaneRuntime that owns the device connection.
//
// GUI thread, except where a function says otherwise. The runtime's reports
// arrive on the pane's threads; the pane re-posts them to the GUI thread,
// drops those of an earlier start or stop, and hands the rest to `window`.
class VideoPane final : public QObject,
                        public PaneEvents,
                        public FrameConsumer,
                        public SnapshotWriter {
    Q_OBJECT

public:
    // `number` 0 ... 3 names the widget "View1" ... "View4", a child of
    // `parent`. `audioOut` is the program's one sound output; `window` gets
    // the pane's current reports on the GUI thread; `currentView` is the live
    // view's. All must outlive the pane. Snapshots go to `snapshotFolder`
    // (with its trailing separator).
    VideoPane(int number, AudioOut& audioOut, PaneEvents& window,
              const std::atomic<int32_t>& currentView, std::string snapshotFolder, QWidget* parent);
    // Ends the runtime's threads and the render thread before the widget goes.
    ~VideoPane() override;
    VideoPane(const VideoPane&) = delete;
    VideoPane& operator=(const VideoPane&) = delete;

    int number() const { return number_; }
    PaneWidget& widget() { return *widget_; }
    PaneRuntime& runtime() { return *runtime_; }
    PaneConnection& connection() { return runtime_->connection(); }
    SessionFacts facts() const { return runtime_->facts(); }
    PaneRenderState& renderState() { return renderState_; }
    PictureSlot& pictureSlot() { return slot_; }
    RenderThread& renderThread() { return *renderThread_; }
    // The pane's statistics record as read now: the runtime's counters with
    // the picture slot's skips. Any thread.
    PaneHealth health() const {
        PaneHealth reading = runtime_->health();
        reading.renderSkips = slot_.skippedCount();
        return reading;
    }

    // Starts the pane on `login`; the widget shows its caption until the
    // first picture of this start. Returns at once.
    void startPane(const LoginData& login);
    // Stops the pane without a reconnect; from here on it shows no new
    // picture and reports nothing. Returns at once.
    void stopPane();
    // True when `stamp` is the pane's latest start or stop.
    bool isCurrent(PaneStamp stamp) const;

    // Sends `command` on the pane's command worker; a busy cursor shows over
    // the pane until every command sent has finished.
    void queueCommand(DeviceCommand command);
    int commandsInFlight() const { return commandsInFlight_; }

    const std::string& snapshotFolder() const { return snapshotFolder_; }
    // Asks for a snapshot of the pane's next frame, named `stem` (the local
    // time) and starting with `header`. Its outcome comes back as
    // snapshotSaved or snapshotFailed, unless the pane starts or stops first:
    // both drop a pending request.
    void requestSnapshot(std::string stem, const SnapshotHeader& header);

    // PaneEvents, on the pane's threads.
    void loginFinished(PaneStamp stamp, bool loggedIn) override;
    void modelKnown(PaneStamp stamp, int32_t deviceClass) override;
    void negotiated(PaneStamp stamp, const SessionFacts& facts) override;
    void connectFailed(PaneStamp stamp, RequestResult result) override;
    void pictureLost(PaneStamp stamp) override;
    void commandFinished(PaneStamp stamp, RequestResult result,
                         std::optional<int32_t> channel) override;

    // FrameConsumer, on the runtime's reaper (or in its destructor).
    void startConsumer() override;
    void requestConsumerStop() override;
    void joinConsumer() override;

    // SnapshotWriter, on the render thread.
    void writeSnapshot(std::span<const uint8_t> frame) override;

signals:
    // On the GUI thread: the snapshot was published as `fileName` in the
    // snapshot folder, or could not be saved for `reason`.
    void snapshotSaved(const QString& fileName);
    void snapshotFailed(const QString& reason);

private:
    // Runs `report` on the GUI thread if `stamp` is still current then.
    template <typename Report>
    void onGuiThread(PaneStamp stamp, Report report);
    void showBusy();

    const int number_;
    const std::string snapshotFolder_;
    // The device of the current start as the log names it; GUI thread.
    LogDeviceName logName_;
    PaneEvents& window_;
    QPointer<PaneWidget> widget_;
    PictureSlot slot_;
    PaneRenderState renderState_;
    std::unique_ptr<RenderThread> renderThread_;
    std::unique_ptr<PaneRuntime> runtime_;
    int commandsInFlight_ = 0;

    std::mutex snapshotMutex_;  // guards the two fields below
    std::string snapshotStem_;
    SnapshotHeader snapshotHeader_;
};

}  // namespace tess
