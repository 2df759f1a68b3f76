#pragma once

#include <span>

#include "media/SlotRing.h"

namespace tess {

// Three JPEG slots between a pane's video receiver (producer) and its render
// thread (consumer): two free counts (video-free 2/3, video-filled 0/3), and a
// frame that finds no free slot within 100 ms is dropped, so a slow renderer
// never slows the stream down.
class FrameQueue : public SlotRing<25000, 3> {
public:
    static constexpr uint32_t kPublishTimeoutMs = 100;

    FrameQueue() : SlotRing(kPublishTimeoutMs) {}

    // The frame at the read position, cut to its published length.
    std::span<const uint8_t> frame() const {
        return std::span<const uint8_t>(slot()).first(std::min<size_t>(length(), kSlotBytes));
    }
};

}  // namespace tess
