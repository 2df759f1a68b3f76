#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace tess {

// What a device tells about one of its channels at negotiation.
struct ChannelRecord {
    uint8_t id = 0;
    uint8_t type = 0;
    uint8_t protocol = 0;
};

// The per-channel records of a device. A device states the count itself, so
// the table is bounded: the viewer addresses at most 16 channels (its channel
// buttons), and a record beyond the table cannot be read.
class ChannelTable {
public:
    static constexpr size_t kMaxRecords = 16;

    // Empties the table and sizes it for `count` records (capped; negative
    // counts give an empty table). All records start zeroed.
    void resize(int32_t count) {
        records_ = {};
        size_ = static_cast<size_t>(std::clamp<int32_t>(count, 0, kMaxRecords));
    }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // The record at `index`, or nullptr when the table has none there.
    const ChannelRecord* at(size_t index) const {
        return index < size_ ? &records_[index] : nullptr;
    }
    ChannelRecord* at(size_t index) { return index < size_ ? &records_[index] : nullptr; }

private:
    std::array<ChannelRecord, kMaxRecords> records_{};
    size_t size_ = 0;
};

}  // namespace tess
