#include "media/FrameQueue.h"

namespace tess {

FrameQueue::FrameQueue()
    : storage_(std::make_unique<std::array<std::array<uint8_t, kSlotBytes>, kSlotCount>>()),
      slots_(*storage_) {
    reset();
}

void FrameQueue::reset() {
    free_.emplace(2, 3);
    filled_.emplace(0, 3);
    writePosition_ = 0;
    readPosition_ = 0;
}

bool FrameQueue::publish(uint32_t length) {
    if (!free_->acquireFor(kPublishTimeoutMs)) {
        ++dropped_;
        return false;
    }
    lengths_[writePosition_] = length;
    filled_->release();
    writePosition_ = (writePosition_ + 1) % kSlotCount;
    return true;
}

bool FrameQueue::waitFrame() { return filled_->acquire(); }

std::span<const uint8_t> FrameQueue::frame() const {
    return std::span<const uint8_t>(slots_[readPosition_]).first(
        std::min<size_t>(lengths_[readPosition_], kSlotBytes));
}

void FrameQueue::releaseFrame() {
    free_->release();
    readPosition_ = (readPosition_ + 1) % kSlotCount;
}

void FrameQueue::cancel() {
    filled_->cancel();
    free_->cancel();
}

}  // namespace tess
