#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "media/AudioOut.h"

namespace tess {

// An output that keeps every written block and finishes blocks only when the
// test says so.
class FakeAudioOut : public AudioOut {
public:
    // Reports the oldest queued block finished.
    bool finishOne() {
        {
            std::lock_guard lock(mutex_);
            if (queued_.empty()) return false;
            queued_.pop_front();
        }
        blockDone();
        return true;
    }
    void refuse(bool refuse) { refuse_ = refuse; }
    // Times the output was told that the stream playing has ended.
    std::atomic<int> streamStops{0};
    std::vector<std::vector<int16_t>> written() const {
        std::lock_guard lock(mutex_);
        return written_;
    }
    size_t queued() {
        std::lock_guard lock(mutex_);
        return queued_.size();
    }

private:
    size_t queuedBlocks() override { return queued(); }
    bool enqueue(std::span<const int16_t> samples) override {
        if (refuse_) return false;
        std::lock_guard lock(mutex_);
        written_.emplace_back(samples.begin(), samples.end());
        queued_.push_back(samples.size());
        return true;
    }
    void stopStream() override { ++streamStops; }
    void dropQueued() override {
        size_t dropped = 0;
        {
            std::lock_guard lock(mutex_);
            dropped = queued_.size();
            queued_.clear();
        }
        for (; dropped > 0; --dropped) blockDone();
    }

    mutable std::mutex mutex_;
    std::vector<std::vector<int16_t>> written_;
    std::deque<size_t> queued_;
    std::atomic<bool> refuse_{false};
};

}  // namespace tess
