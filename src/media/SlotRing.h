#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/CountingSemaphore.h"

namespace tess {

// Fixed slots handed from one producer thread to one consumer thread, with a
// free and a filled semaphore. One slot fewer than the ring holds may be
// published, so the slot being written is never one the consumer may still
// read. A frame that finds no free slot within the publish limit is dropped
// (counted) and the next frame is written into the same slot: a slow consumer
// costs frames, never latency.
//
// The slots are allocated once; nothing is allocated per frame.
template <size_t SlotBytes, size_t SlotCount>
class SlotRing {
public:
    static constexpr size_t kSlotBytes = SlotBytes;
    static constexpr size_t kSlotCount = SlotCount;
    using Slot = std::array<uint8_t, SlotBytes>;

    explicit SlotRing(uint32_t publishTimeoutMs)
        : storage_(std::make_unique<std::array<Slot, SlotCount>>()),
          publishTimeoutMs_(publishTimeoutMs) {
        reset();
    }

    // New semaphores (free SlotCount - 1 of SlotCount, filled 0) and both
    // positions at 0. Only while neither side runs.
    void reset() {
        free_.emplace(static_cast<int32_t>(SlotCount - 1), static_cast<int32_t>(SlotCount));
        filled_.emplace(0, static_cast<int32_t>(SlotCount));
        writePosition_ = 0;
        readPosition_ = 0;
    }

    // Producer side. The producer fills `writeSlot`, then `publish` waits up
    // to the publish limit for a free slot and hands the frame over with its
    // length. False: dropped, and the same slot is used again.
    std::span<uint8_t, SlotBytes> writeSlot() { return (*storage_)[writePosition_]; }
    size_t writePosition() const { return writePosition_; }
    bool publish(uint32_t length) {
        if (!free_->acquireFor(publishTimeoutMs_)) {
            ++dropped_;
            return false;
        }
        lengths_[writePosition_] = length;
        filled_->release();
        writePosition_ = (writePosition_ + 1) % SlotCount;
        return true;
    }
    uint64_t droppedFrames() const { return dropped_.load(); }

    // Consumer side. `waitFrame` waits without a time limit and is false only
    // once cancelled. `length` is as published and may exceed the slot.
    bool waitFrame() { return filled_->acquire(); }
    std::span<const uint8_t, SlotBytes> slot() const { return (*storage_)[readPosition_]; }
    uint32_t length() const { return lengths_[readPosition_]; }
    size_t readPosition() const { return readPosition_; }
    // Gives the slot back to the producer and moves on to the next one.
    void releaseFrame() {
        free_->release();
        readPosition_ = (readPosition_ + 1) % SlotCount;
    }

    // Wakes both sides for shutdown; every later wait fails at once until reset.
    void cancel() {
        filled_->cancel();
        free_->cancel();
    }

private:
    std::unique_ptr<std::array<Slot, SlotCount>> storage_;
    const uint32_t publishTimeoutMs_;
    std::array<std::atomic<uint32_t>, SlotCount> lengths_{};
    std::optional<CountingSemaphore> free_;
    std::optional<CountingSemaphore> filled_;
    size_t writePosition_ = 0;
    size_t readPosition_ = 0;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace tess
