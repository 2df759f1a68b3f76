#pragma once

#include <cstdint>
#include <span>

namespace tess {

// Where a pane's render thread hands a frame for which a snapshot was
// requested, before the frame is decoded.
class SnapshotWriter {
public:
    virtual ~SnapshotWriter() = default;
    // Render thread. `frame` is the JPEG as received, valid only during the
    // call. True when the snapshot file was written; false leaves the request
    // standing so that the pane's next frame is tried.
    virtual bool writeSnapshot(std::span<const uint8_t> frame) = 0;
};

}  // namespace tess
