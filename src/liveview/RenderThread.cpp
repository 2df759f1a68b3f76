#include "liveview/RenderThread.h"

#include <pthread.h>

namespace tess {

RenderThread::RenderThread(const Inputs& inputs) : inputs_(inputs) {}

RenderThread::~RenderThread() {
    if (thread_.joinable()) {
        requestStop();
        if (running_) {
            inputs_.queue.cancel();
        }
        thread_.join();
    }
}

bool RenderThread::start() {
    if (thread_.joinable()) {
        return false;
    }
    stopRequested_ = false;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void RenderThread::requestStop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
}

void RenderThread::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
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
    wake_.notify_all();
}

bool RenderThread::waitWhilePaused() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !paused_ || stopRequested_; });
    return !stopRequested_;
}

void RenderThread::run() {
    pthread_setname_np(pthread_self(), "RenderThread");
    FrameQueue& queue = inputs_.queue;
    while (!stopRequested_ && queue.waitFrame()) {
        const bool go = waitWhilePaused();
        if (go) {
            renderFrame(queue.frame());
        }
        // Every taken frame goes back to the receiver, drawn or not.
        queue.releaseFrame();
        if (!go) {
            break;
        }
    }
    running_ = false;
}

void RenderThread::renderFrame(std::span<const uint8_t> frame) {
    PaneRenderState& pane = inputs_.pane;
    if (pane.snapshotRequested) {
        if (!pane.selected) {
            pane.snapshotRequested = false;
        } else if (inputs_.snapshotWriter.writeSnapshot(frame)) {
            pane.snapshotRequested = false;
        }
    }
    ++inputs_.frameCount;
    if (!decoder_.decode(frame, canvas_)) {
        ++undecodable_;
        return;
    }
    if (pane.selected && inputs_.currentView == kQuadView) {
        drawSelectionFrame(canvas_);
    }
    if (pane.dragRectangle.shown) {
        drawDragRectangle(canvas_, pane.dragRectangle.get(), inputs_.slot.clientSize());
    }
    inputs_.slot.publish(canvas_);
    ++composed_;
}

}  // namespace tess
