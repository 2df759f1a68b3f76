#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "media/PcmRing.h"
#include "platform/CountingSemaphore.h"

namespace tess {

// The audio path of one pane: ten 2500-byte frame slots between the audio
// receiver (producer) and the audio decoder (consumer), and the PCM ring
// between the decoder and the audio player.
//
// Nine free counts for ten slots: the slot the receiver fills is never the one
// the decoder reads. A frame that finds no free slot within 300 ms is dropped
// and the next frame is assembled in the same slot, so a stalled decoder or
// player costs audio, never latency.
//
// Allocated once with the pane; nothing is allocated per frame.
class AudioQueue {
public:
    static constexpr size_t kSlotBytes = 2500;
    static constexpr size_t kSlotCount = 10;
    static constexpr uint32_t kPublishTimeoutMs = 300;

    AudioQueue();

    // New semaphores (audio-free 9/10, audio-filled 0/10, and the ring's) and
    // every position at 0. Only while no thread of the pane uses the queue.
    void reset();

    // Producer side, receiver thread only. The receiver assembles a frame in
    // `writeSlot` (clearing it first is its job), then `publish` waits up to
    // 300 ms for a free slot and hands the frame over with its length S. False:
    // the frame was dropped (counted) and the same slot is used again.
    std::span<uint8_t, kSlotBytes> writeSlot() { return slots_[writePosition_]; }
    bool publish(uint32_t length);
    size_t writePosition() const { return writePosition_; }
    uint64_t droppedFrames() const { return dropped_.load(); }

    // Consumer side, decoder thread only. `waitFrame` waits without a time
    // limit and is false only once cancelled. `frameLength` is S as published,
    // which may exceed the slot: `frame` is cut to the slot.
    bool waitFrame() { return filled_->acquire(); }
    std::span<const uint8_t, kSlotBytes> frame() const { return slots_[readPosition_]; }
    uint32_t frameLength() const { return lengths_[readPosition_]; }
    size_t readPosition() const { return readPosition_; }
    // Gives the slot back to the receiver and moves on.
    void releaseFrame();

    PcmRing& pcm() { return pcm_; }

    // Wakes every waiter of the pane's audio path for shutdown (receiver,
    // decoder, player); every later wait fails at once until `reset`.
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
    PcmRing pcm_;
};

}  // namespace tess
