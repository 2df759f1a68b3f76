#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "liveview/PictureSlot.h"
#include "liveview/RenderThread.h"
#include "liveview/SnapshotWriter.h"
#include "session/PaneRendering.h"
#include "snapshots/SnapshotFile.h"

namespace tess {

// The render side of one session pane: the PictureSlot its widget shows, the
// render state the session sets, and the RenderThread on the runtime's
// FrameQueue, which the runtime starts and ends with the pane's threads.
// Snapshots go to `snapshotFolder` (with its trailing separator), their
// outcome to `events`. Lives as long as the session.
class PaneRenderer final : public PaneRendering, private SnapshotWriter {
public:
    PaneRenderer(PaneRuntime& runtime, SnapshotEvents& events, std::string snapshotFolder);
    ~PaneRenderer() override;
    PaneRenderer(const PaneRenderer&) = delete;
    PaneRenderer& operator=(const PaneRenderer&) = delete;

    PictureSlot& pictureSlot() { return slot_; }
    RenderThread& renderThread() { return renderThread_; }

    // PaneRendering.
    PaneRenderState& renderState() override { return state_; }
    void requestSnapshot(std::string stem, const SnapshotHeader& header) override;
    uint64_t skippedPictures() const override { return slot_.skippedCount(); }
    void pause() override { renderThread_.pause(); }
    void resume() override { renderThread_.resume(); }
    // FrameConsumer, on the runtime's reaper (or in its destructor).
    void startConsumer() override;
    void requestConsumerStop() override;
    void joinConsumer() override;

private:
    // SnapshotWriter, on the render thread.
    void writeSnapshot(std::span<const uint8_t> frame) override;

    PaneRuntime& runtime_;
    SnapshotEvents& events_;
    const std::string snapshotFolder_;
    PictureSlot slot_;
    PaneRenderState state_;
    std::mutex snapshotMutex_;  // guards the two fields below
    std::string snapshotStem_;
    SnapshotHeader snapshotHeader_;
    RenderThread renderThread_;  // last: it reads everything above
};

}  // namespace tess
