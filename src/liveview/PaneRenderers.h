#pragma once

#include <string>
#include <vector>

#include "liveview/PaneRenderer.h"
#include "session/LiveSession.h"

namespace tess {

// The render sides of the program's live session, by pane: makes them for
// the session, which owns them, and finds them for the windows that show
// their picture slots. Lives as long as the session.
class PaneRenderers {
public:
    // Snapshots go to `snapshotFolder` (with its trailing separator).
    explicit PaneRenderers(std::string snapshotFolder)
        : snapshotFolder_(std::move(snapshotFolder)) {}
    PaneRenderers(const PaneRenderers&) = delete;
    PaneRenderers& operator=(const PaneRenderers&) = delete;

    // Valid as long as this object; the session it is given to makes one
    // renderer a pane.
    LiveSession::RenderingFactory factory() {
        return [this](int number, PaneRuntime& runtime, SnapshotEvents& events) {
            auto renderer = std::make_unique<PaneRenderer>(runtime, events, snapshotFolder_);
            if (renderers_.size() <= static_cast<size_t>(number)) renderers_.resize(number + 1);
            renderers_[number] = renderer.get();
            return renderer;
        };
    }

    PaneRenderer& operator[](int number) { return *renderers_[number]; }

private:
    const std::string snapshotFolder_;
    std::vector<PaneRenderer*> renderers_;
};

}  // namespace tess
