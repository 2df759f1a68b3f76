#pragma once

#include <span>

#include "media/PcmRing.h"
#include "media/SlotRing.h"

namespace tess {

// The audio path of one pane: ten 2500-byte frame slots between the audio
// receiver (producer) and the audio decoder (consumer) — audio-free 9/10,
// audio-filled 0/10, a frame dropped after 300 ms without a free slot, so a
// stalled decoder or player costs audio, never latency — and the PCM ring
// between the decoder and the audio player.
class AudioQueue : public SlotRing<2500, 10> {
public:
    static constexpr uint32_t kPublishTimeoutMs = 300;

    AudioQueue() : SlotRing(kPublishTimeoutMs) {}

    // Both rings anew; only while no thread of the pane uses them.
    void reset() {
        SlotRing::reset();
        pcm_.reset();
    }

    // The decoder's view of the frame at the read position: the whole slot and
    // S as published (which may exceed the slot).
    std::span<const uint8_t, kSlotBytes> frame() const { return slot(); }
    uint32_t frameLength() const { return length(); }

    PcmRing& pcm() { return pcm_; }

    // Wakes every waiter of the pane's audio path for shutdown (receiver,
    // decoder, player); every later wait fails at once until `reset`.
    void cancel() {
        SlotRing::cancel();
        pcm_.cancel();
    }

private:
    PcmRing pcm_;
};

}  // namespace tess
