#pragma once

#include <cstdint>
#include <string>

#include "pane/PaneEvents.h"
#include "pane/PaneRuntime.h"
#include "session/PaneRenderState.h"
#include "snapshots/SnapshotFile.h"

namespace tess {

// The outcome of a snapshot, from the pane's render thread.
class SnapshotEvents {
public:
    virtual ~SnapshotEvents() = default;
    // Render thread. `text` is the file name in the snapshot folder, or why
    // the snapshot could not be saved.
    virtual void snapshotFinished(PaneStamp stamp, bool saved, const std::string& text) = 0;
};

// The render side of one session pane: the thread that shows the pane's
// frames, started and ended by the pane's runtime as its FrameConsumer. It
// lives as long as the session, whatever window shows its pictures.
class PaneRendering : public FrameConsumer {
public:
    virtual PaneRenderState& renderState() = 0;
    // Asks for a snapshot of the next frame, named `stem` and starting with
    // `header`; the outcome goes to the session's SnapshotEvents.
    virtual void requestSnapshot(std::string stem, const SnapshotHeader& header) = 0;
    // Pictures composed but replaced before they were shown. Any thread.
    virtual uint64_t skippedPictures() const = 0;
    // While paused nothing is composed or handed over. GUI thread.
    virtual void pause() = 0;
    virtual void resume() = 0;
};

}  // namespace tess
