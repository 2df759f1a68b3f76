#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/CountingSemaphore.h"

namespace tess {

// Three JPEG slots between a pane's video receiver (producer) and its render
// thread (consumer). Two free counts for three slots: the slot the receiver
// writes is never one the renderer may still read. A frame that finds no free
// slot within 100 ms is dropped, and the next frame overwrites the same slot,
// so a slow renderer never slows the stream down.
class FrameQueue {
public:
    static constexpr size_t kSlotBytes = 25000;
    static constexpr size_t kSlotCount = 3;
    static constexpr uint32_t kPublishTimeoutMs = 100;

    FrameQueue();

    // New semaphores (video-free 2/3, video-filled 0/3) and both positions at 0.
    // Only while neither the receiver nor the renderer runs.
    void reset();

    // Producer side, receiver thread only.
    std::span<uint8_t, kSlotBytes> writeSlot() { return slots_[writePosition_]; }
    // Waits up to 100 ms for a free slot; on success the slot at the write
    // position is handed to the renderer with `length`. False: dropped.
    bool publish(uint32_t length);
    uint64_t droppedFrames() const { return dropped_.load(); }

    // Consumer side, render thread only. `waitFrame` waits without a time limit
    // and is false only once the queue is cancelled for shutdown.
    bool waitFrame();
    std::span<const uint8_t> frame() const;
    size_t readPosition() const { return readPosition_; }
    // Gives the slot back to the receiver and moves on to the next one.
    void releaseFrame();

    // Wakes a waiting renderer for shutdown; every later wait fails at once.
    void cancel();

private:
    std::unique_ptr<std::array<std::array<uint8_t, kSlotBytes>, kSlotCount>> storage_;
    std::span<std::array<uint8_t, kSlotBytes>, kSlotCount> slots_;
    std::array<std::atomic<uint32_t>, kSlotCount> lengths_{};
    std::optional<CountingSemaphore> free_;
    std::optional<CountingSemaphore> filled_;
    size_t writePosition_ = 0;
    size_t readPosition_ = 0;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace tess
