#include "liveview/PaneRenderer.h"

namespace tess {

PaneRenderer::PaneRenderer(PaneRuntime& runtime, SnapshotEvents& events, std::string snapshotFolder)
    : runtime_(runtime),
      events_(events),
      snapshotFolder_(std::move(snapshotFolder)),
      renderThread_({runtime, slot_, state_, *this}) {}

PaneRenderer::~PaneRenderer() {
    // Normally joined already by the runtime; never leave the thread running
    // over the slot and state it reads.
    renderThread_.requestStop();
    renderThread_.join();
}

void PaneRenderer::requestSnapshot(std::string stem, const SnapshotHeader& header) {
    std::lock_guard lock(snapshotMutex_);
    snapshotStem_ = std::move(stem);
    snapshotHeader_ = header;
}

void PaneRenderer::startConsumer() {
    slot_.open();
    renderThread_.start();
}

void PaneRenderer::requestConsumerStop() {
    // Closed at once: a frame being composed right now is not shown.
    slot_.close();
    renderThread_.requestStop();
}

void PaneRenderer::joinConsumer() {
    renderThread_.join();
}

void PaneRenderer::writeSnapshot(std::span<const uint8_t> frame) {
    std::unique_lock lock(snapshotMutex_);
    const std::string stem = snapshotStem_;
    const SnapshotHeader header = snapshotHeader_;
    lock.unlock();
    const PaneStamp stamp = runtime_.stamp();
    const SavedSnapshot saved = saveSnapshot(snapshotFolder_, stem, header, frame);
    events_.snapshotFinished(stamp, saved.saved, saved.saved ? saved.fileName : saved.error);
}

}  // namespace tess
