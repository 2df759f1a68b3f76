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
#include "pane/PaneRuntime.h"
#include "picture/PictureDecoder.h"
#include "platform/WorkerThread.h"
#include "session/PaneRenderState.h"

namespace tess {

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
        // The pane's frames, statistics and wanted streams.
        PaneRuntime& runtime;
        PictureSlot& slot;
        // Read once per frame; the thread takes the snapshot request.
        PaneRenderState& state;
        SnapshotWriter& snapshotWriter;
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

    uint64_t composedCount() const { return health().framesRendered.load(); }
    uint64_t undecodableCount() const { return health().undecodable.load(); }

private:
    void run(const WorkerThread::StopRequest& stop);
    void wake();
    // False when a stop was requested while waiting.
    bool waitWhilePaused(const WorkerThread::StopRequest& stop);
    void renderFrame(std::span<const uint8_t> frame);
    PaneStatistics& health() const { return inputs_.runtime.connection().health; }

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
