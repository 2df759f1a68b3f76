#include "media/ByteSource.h"

#include <algorithm>
#include <cstring>

namespace tess {

BufferByteSource::BufferByteSource(std::span<const uint8_t> bytes, size_t chunk)
    : bytes_(bytes), chunk_(std::max<size_t>(chunk, 1)) {}

int BufferByteSource::receive(uint8_t* buffer, size_t length, int) {
    const size_t count = std::min(
        {length, chunk_, remaining(), static_cast<size_t>(std::numeric_limits<int>::max())});
    if (count == 0) return -1;
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return static_cast<int>(count);
}

}  // namespace tess
