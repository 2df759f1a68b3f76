#include "liveview/RenderThread.h"

#include <chrono>

namespace tess {

RenderThread::RenderThread(const Inputs& inputs)
    : inputs_(inputs),
      glyphs_(GlyphStrip::shared()),
      thread_(
          "RenderThread", [this](const WorkerThread::StopRequest& stop) { run(stop); },
          [this] { wake(); }) {}

void RenderThread::wake() {
    // The thread may wait for a frame that never comes, or for a resume.
    inputs_.runtime.frames().cancel();
    { std::lock_guard lock(mutex_); }
    resumed_.notify_all();
}

void RenderThread::pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
}

void RenderThread::resume() {
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    resumed_.notify_all();
}

bool RenderThread::waitWhilePaused(const WorkerThread::StopRequest& stop) {
    std::unique_lock lock(mutex_);
    resumed_.wait(lock, [&] { return !paused_ || stop; });
    return !stop;
}

void RenderThread::run(const WorkerThread::StopRequest& stop) {
    FrameQueue& queue = inputs_.runtime.frames();
    while (!stop && queue.waitFrame()) {
        const bool go = waitWhilePaused(stop);
        if (go) renderFrame(queue.frame());
        // Every taken frame goes back to the receiver, drawn or not.
        queue.releaseFrame();
        if (!go) break;
    }
}

void RenderThread::renderFrame(std::span<const uint8_t> frame) {
    PaneRenderState& pane = inputs_.state;
    PaneConnection& connection = inputs_.runtime.connection();
    if (pane.snapshotRequested.exchange(false) && pane.selected) {
        inputs_.snapshotWriter.writeSnapshot(frame);
    }
    ++connection.statistics.frameCount;
    // Decoded no larger than the pane shows it; the overlays are measured on
    // the picture as received.
    PaneStatistics& health = connection.health;
    const auto decodeStart = std::chrono::steady_clock::now();
    if (!decoder_.decode(frame, canvas_, inputs_.slot.displaySize())) {
        ++health.undecodable;
        return;
    }
    health.decodeMicros =
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - decodeStart)
                                  .count());
    const QSize received = decoder_.receivedSize();
    if (pane.framed) drawSelectionFrame(canvas_, received);
    if (pane.dragRectangle.shown) {
        drawDragRectangle(canvas_, pane.dragRectangle.get(), inputs_.slot.clientSize(), received);
    }
    if (pane.healthShown) {
        PaneHealth reading = inputs_.runtime.health();
        reading.renderSkips = inputs_.slot.skippedCount();
        rates_.update(health.now(), reading.framesRendered, reading.bytesReceived);
        drawHealthOverlay(canvas_, formatHealth(reading, rates_), glyphs_);
    }
    inputs_.slot.publish(canvas_);
    ++health.framesRendered;
}

}  // namespace tess
