#pragma once

#include <cstdint>

namespace tess {

// Milliseconds from a monotonic clock, cut to 32 bits: it wraps after about
// 49.7 days, so durations are always taken with `ticksSince`.
uint32_t tickCount();

// Milliseconds from `start` to now, correct across one wrap of the counter.
inline uint32_t ticksSince(uint32_t start) {
    return tickCount() - start;
}

}  // namespace tess
