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
#include "liveview/SnapshotFile.h"
#include "liveview/SnapshotWriter.h"
#include "media/PaneRuntime.h"

class QWidget;

namespace tess {

// The window side of one picture pane of the live view: its PaneWidget
// ("View1" ... "View4"), the PictureSlot between its render thread and the
// widget, the render state the GUI thread sets (selection, drag rectangle,
// snapshot request), the RenderThread on the runtime's FrameQueue, and the
// PaneRuntime that owns the device connection.
//
// GUI thread, except where a function says otherwise. The pane's worker
// threads report through loginFinished() and requestRepaint(), which only
// queue work for the GUI thread and never wait for it.
class VideoPane final : public QObject,
                        public PaneListener,
                        public FrameConsumer,
                        public SnapshotWriter {
    Q_OBJECT

  public:
    // How often waitConsumerEnd() looks whether the render thread has ended.
    static constexpr uint32_t kConsumerPollMs = 2;

    // `number` 0 ... 3 names the widget "View1" ... "View4", a child of
    // `parent`. `audioOut` is the program's one sound output; `layout` is the
    // live view, which also holds `currentView`; both must outlive the pane.
    // Snapshots go to `snapshotFolder` (with its trailing separator).
    VideoPane(int number, AudioOut& audioOut, LiveViewLayout& layout,
              const std::atomic<int32_t>& currentView, std::string snapshotFolder, QWidget* parent);
    // Ends the runtime's threads and the render thread before the widget goes.
    ~VideoPane() override;
    VideoPane(const VideoPane&) = delete;
    VideoPane& operator=(const VideoPane&) = delete;

    int number() const { return number_; }
    PaneWidget& widget() { return *widget_; }
    PaneRuntime& runtime() { return *runtime_; }
    SessionInfo& session() { return runtime_->session(); }
    PaneRenderState& renderState() { return renderState_; }
    PictureSlot& pictureSlot() { return slot_; }
    RenderThread& renderThread() { return *renderThread_; }

    // Starts the pane on the session filled in by the caller; the widget shows
    // its caption until the first picture. Login results and repaints of an
    // earlier start that are still on their way are dropped from here on.
    void startPane();
    // Clears keepRetrying first, so that no reconnect follows, then stops.
    void stopPane();

    const std::string& snapshotFolder() const { return snapshotFolder_; }
    // Names the next snapshot (without extension) and the header its file
    // starts with; the request itself is renderState().snapshotRequested.
    void setSnapshot(std::string name, const SnapshotHeader& header);
    std::string snapshotName() const;
    // Snapshot writes that failed, and why the last one did.
    uint64_t snapshotFailures() const { return snapshotFailures_.load(); }
    std::string lastSnapshotError() const;

    // PaneListener, on the pane's connect thread.
    void loginFinished(bool loggedIn) override;
    // RepaintTarget, on any of the pane's threads: the stream was lost or
    // refused, so the widget goes back to its caption.
    void requestRepaint() override;

    // FrameConsumer, called by the runtime on the GUI thread.
    void startConsumer() override;
    void requestConsumerStop() override;
    bool waitConsumerEnd(uint32_t timeoutMs) override;

    // SnapshotWriter, on the render thread.
    bool writeSnapshot(std::span<const uint8_t> frame) override;

  signals:
    // On the GUI thread, once per login attempt of the current start.
    void loginResult(bool loggedIn);

  private:
    const int number_;
    const std::string snapshotFolder_;
    QPointer<PaneWidget> widget_;
    PictureSlot slot_;
    PaneRenderState renderState_;
    std::unique_ptr<PaneRuntime> runtime_;
    // The runtime's queue, reachable also while the runtime is being destroyed.
    FrameQueue* frames_;
    std::unique_ptr<RenderThread> renderThread_;
    // Counts starts; a login result or repaint is acted on only while its
    // start is the latest. Written on the GUI thread, read by the connect thread.
    std::atomic<uint32_t> generation_{0};

    mutable std::mutex snapshotMutex_;  // guards the three fields below
    std::string snapshotName_;
    SnapshotHeader snapshotHeader_;
    std::string lastSnapshotError_;
    std::atomic<uint64_t> snapshotFailures_{0};
};

}  // namespace tess
