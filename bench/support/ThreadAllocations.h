#pragma once

#include <cstdint>
#include <span>

namespace tess::bench {

// Heap allocations made by threads of given names, counted by replacing the
// global operator new in the benchmark that links this. Threads are told
// apart by the names they give themselves, so the simulator and the
// benchmark's own threads go uncounted.

// Starts counting, from zero, the allocations of threads named `names` (at
// most 8; the array must outlive the count).
void startCountingAllocations(std::span<const char* const> names);
void stopCountingAllocations();
// The allocations counted for `names[index]`.
uint64_t countedAllocations(size_t index);

}  // namespace tess::bench
