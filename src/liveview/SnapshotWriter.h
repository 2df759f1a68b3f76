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
    // call. The request is served either way: a failed write is reported,
    // not tried again on the next frame.
    virtual void writeSnapshot(std::span<const uint8_t> frame) = 0;
};

}  // namespace tess
