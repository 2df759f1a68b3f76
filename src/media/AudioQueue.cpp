#include "media/AudioQueue.h"

namespace tess {

AudioQueue::AudioQueue()
    : storage_(std::make_unique<std::array<std::array<uint8_t, kSlotBytes>, kSlotCount>>()),
      slots_(*storage_) {
    reset();
}

void AudioQueue::reset() {
    free_.emplace(static_cast<int32_t>(kSlotCount - 1), static_cast<int32_t>(kSlotCount));
    filled_.emplace(0, static_cast<int32_t>(kSlotCount));
    writePosition_ = 0;
    readPosition_ = 0;
    pcm_.reset();
}

bool AudioQueue::publish(uint32_t length) {
    if (!free_->acquireFor(kPublishTimeoutMs)) {
        ++dropped_;
        return false;
    }
    lengths_[writePosition_] = length;
    filled_->release();
    writePosition_ = (writePosition_ + 1) % kSlotCount;
    return true;
}

void AudioQueue::releaseFrame() {
    free_->release();
    readPosition_ = (readPosition_ + 1) % kSlotCount;
}

void AudioQueue::cancel() {
    filled_->cancel();
    free_->cancel();
    pcm_.cancel();
}

}  // namespace tess
