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

// Ten PCM blocks of 4096 samples (8192 bytes) between a pane's audio decoder
// (producer) and its audio player (consumer). Slot k holds the PCM of audio
// queue slot k: both rings start at 0 together and advance in step.
//
// Every pane has its own ring. The single sound output copies each block as it
// is written, so no two panes ever share PCM memory.
//
// Besides `decoded` (blocks waiting for the player, 0/10) the ring counts
// `room` (10/10): the decoder takes one before it fills a slot and the player
// gives it back once the output has copied the block. A decoder far ahead of
// a stalled player therefore waits instead of overwriting a block that is
// being played; the stall then shows as drops at the receiver, which is where
// audio is meant to be lost.
class PcmRing {
public:
    static constexpr size_t kSlotCount = 10;
    static constexpr size_t kSlotSamples = 4096;
    using Slot = std::array<int16_t, kSlotSamples>;

    PcmRing() : storage_(std::make_unique<std::array<Slot, kSlotCount>>()) { reset(); }

    // New semaphores and both positions at 0. Only while neither thread runs.
    void reset() {
        decoded_.emplace(0, static_cast<int32_t>(kSlotCount));
        room_.emplace(static_cast<int32_t>(kSlotCount), static_cast<int32_t>(kSlotCount));
        writePosition_ = 0;
        readPosition_ = 0;
    }

    // Decoder side. `waitRoom` waits without a time limit, false once cancelled.
    bool waitRoom() { return room_->acquire(); }
    std::span<int16_t, kSlotSamples> writeSlot() { return (*storage_)[writePosition_]; }
    size_t writePosition() const { return writePosition_; }
    // Hands the slot with its first `samples` samples to the player.
    void publish(size_t samples) {
        samples_[writePosition_] = std::min(samples, kSlotSamples);
        decoded_->release();
        writePosition_ = (writePosition_ + 1) % kSlotCount;
    }

    // Player side. `waitBlock` waits without a time limit, false once cancelled.
    bool waitBlock() { return decoded_->acquire(); }
    std::span<const int16_t> block() const {
        return std::span<const int16_t>((*storage_)[readPosition_]).first(samples_[readPosition_]);
    }
    size_t readPosition() const { return readPosition_; }
    void releaseBlock() {
        room_->release();
        readPosition_ = (readPosition_ + 1) % kSlotCount;
    }

    // Wakes both sides for shutdown; every later wait fails at once.
    void cancel() {
        decoded_->cancel();
        room_->cancel();
    }

private:
    std::unique_ptr<std::array<Slot, kSlotCount>> storage_;
    std::array<std::atomic<size_t>, kSlotCount> samples_{};
    std::optional<CountingSemaphore> decoded_;
    std::optional<CountingSemaphore> room_;
    size_t writePosition_ = 0;
    size_t readPosition_ = 0;
};

}  // namespace tess
