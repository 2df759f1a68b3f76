#include "ThreadAllocations.h"

#include <sys/prctl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tess::bench {
namespace {

constexpr size_t kMaxNames = 8;
std::atomic<bool> gCounting{false};
std::span<const char* const> gNames;
std::array<std::atomic<uint64_t>, kMaxNames> gCounts{};

void noteAllocation() {
    if (!gCounting.load(std::memory_order_relaxed)) return;
    char name[17] = {};
    if (prctl(PR_GET_NAME, name) != 0) return;
    for (size_t i = 0; i < gNames.size(); ++i) {
        if (std::strcmp(name, gNames[i]) == 0) {
            gCounts[i].fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
}

}  // namespace

void startCountingAllocations(std::span<const char* const> names) {
    gCounting = false;
    gNames = names.first(std::min(names.size(), kMaxNames));
    for (auto& count : gCounts) count = 0;
    gCounting = true;
}

void stopCountingAllocations() {
    gCounting = false;
}

uint64_t countedAllocations(size_t index) {
    return index < kMaxNames ? gCounts[index].load() : 0;
}

namespace {

void* allocate(std::size_t size) {
    noteAllocation();
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    noteAllocation();
    const auto align = std::max(static_cast<std::size_t>(alignment), sizeof(void*));
    if (void* block =
            std::aligned_alloc(align, (std::max<std::size_t>(size, 1) + align - 1) / align * align))
        return block;
    throw std::bad_alloc();
}

}  // namespace
}  // namespace tess::bench

void* operator new(std::size_t size) {
    return tess::bench::allocate(size);
}
void* operator new[](std::size_t size) {
    return tess::bench::allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return tess::bench::allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return tess::bench::allocateAligned(size, alignment);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}
