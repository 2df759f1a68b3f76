#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "media/PulseAudioOut.h"

namespace tess {

// Keeps, for every block the output writes, when it went to the server (the
// steady clock, in nanoseconds) and how much sound was still queued ahead of
// it; storage reserved first, so that keeping them allocates nothing.
class WriteStamps final : public PulseAudioOut::WriteProbe {
public:
    static constexpr size_t kMax = 4096;

    void beforeWrite(uint64_t queuedAheadUs) override {
        const size_t n = count_.load();
        if (n >= kMax) return;
        writtenNs_[n] = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        queuedUs_[n] = queuedAheadUs;
        count_ = n + 1;
    }
    size_t count() const { return count_.load(); }
    int64_t writtenNs(size_t n) const { return writtenNs_[n]; }
    uint64_t queuedUs(size_t n) const { return queuedUs_[n]; }

private:
    std::array<int64_t, kMax> writtenNs_{};
    std::array<uint64_t, kMax> queuedUs_{};
    std::atomic<size_t> count_{0};
};

}  // namespace tess
