#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <QImage>

#include "liveview/GlyphStrip.h"
#include "liveview/Overlays.h"
#include "liveview/PictureSlot.h"
#include "liveview/SnapshotWriter.h"
#include "media/FrameQueue.h"
#include "pane/PaneStatistics.h"
#include "picture/PictureDecoder.h"
#include "platform/WorkerThread.h"

namespace tess {

// The live view's current-view value while the quad is shown.
inline constexpr int32_t kQuadView = -1;

// What the GUI thread tells a pane's render thread; read once per frame. A
// frame composed while these change may show the old or the new overlay.
struct PaneRenderState {
    // Set by the SnapShot command; taken by the render thread with its next
    // frame, which is saved while the pane is still selected.
    std::atomic<bool> snapshotRequested{false};
    // The pane the user picked in the quad.
    std::atomic<bool> selected{false};
    SharedDragRectangle dragRectangle;
    // The health overlay, toggled by the user.
    std::atomic<bool> healthShown{false};
};

// One pane's renderer: takes every frame of the pane's FrameQueue in order,
// serves a pending snapshot request, counts the frame, decodes it straight
// from its slot, draws the selection frame, the drag rectangle and the health
// overlay into the picture and hands it to the PictureSlot; the GUI thread
// does the painting. Nothing here allocates per frame.
//
// start(), requestStop(), pause() and resume() return at once; a stop cancels
// the frame queue, which the thread may be blocked on. join() waits for the
// end and is called off the GUI thread (by the pane's runtime), or by the
// destructor.
class RenderThread {
public:
    struct Inputs {
        FrameQueue& queue;
        PictureSlot& slot;
        PaneRenderState& pane;
        // The live view's current view; kQuadView while the quad is shown.
        const std::atomic<int32_t>& currentView;
        // The session's statistics counter.
        std::atomic<uint32_t>& frameCount;
        SnapshotWriter& snapshotWriter;
        // The pane's statistics record: the render thread counts its
        // pictures and decode time there and reads it for the overlay.
        PaneStatistics& health;
        // Whether the pane should be receiving pictures.
        const std::atomic<bool>& videoWanted;
    };

    explicit RenderThread(const Inputs& inputs);
    RenderThread(const RenderThread&) = delete;
    RenderThread& operator=(const RenderThread&) = delete;

    // Starts the thread; false while the previous run has not been joined.
    bool start() { return thread_.start(); }
    void requestStop() { thread_.requestStop(); }
    void join() { thread_.join(); }
    bool running() const { return thread_.running(); }

    // While paused, the thread holds the next frame it takes and composes
    // nothing until resumed (or asked to stop). A frame already being
    // composed when pause() is called is still handed over.
    void pause();
    void resume();
    bool paused() const { return paused_.load(); }

    uint64_t composedCount() const { return inputs_.health.framesRendered.load(); }
    uint64_t undecodableCount() const { return inputs_.health.undecodable.load(); }

private:
    void run(const WorkerThread::StopRequest& stop);
    void wake();
    // False when a stop was requested while waiting.
    bool waitWhilePaused(const WorkerThread::StopRequest& stop);
    void renderFrame(std::span<const uint8_t> frame);

    Inputs inputs_;
    const GlyphStrip& glyphs_;
    PictureDecoder decoder_;
    QImage canvas_;
    RateMeter rates_;
    std::mutex mutex_;
    std::condition_variable resumed_;
    std::atomic<bool> paused_{false};
    WorkerThread thread_;  // last: ends before the rest goes
};

}  // namespace tess
