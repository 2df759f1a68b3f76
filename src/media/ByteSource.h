#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "protocol/SocketLink.h"

namespace tess {

// Where stream bytes come from: a socket link in the product, a buffer in
// tests and fuzzing. Used by one receiving thread at a time.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Like SocketLink::receive: 1+ bytes, or -1 on time-out/error/closed peer.
    virtual int receive(uint8_t* buffer, size_t length, int milliseconds) = 0;
};

// The stream of a pane's control or audio link.
class SocketByteSource final : public ByteSource {
public:
    explicit SocketByteSource(SocketLink& link) : link_(link) {}
    int receive(uint8_t* buffer, size_t length, int milliseconds) override {
        return link_.receive(buffer, length, milliseconds);
    }

private:
    SocketLink& link_;
};

// Hands out the bytes of a buffer (not owned), at most `chunk` per receive,
// then fails like a closed peer. The time limit is ignored.
class BufferByteSource final : public ByteSource {
public:
    explicit BufferByteSource(std::span<const uint8_t> bytes,
                              size_t chunk = std::numeric_limits<size_t>::max());
    int receive(uint8_t* buffer, size_t length, int milliseconds) override;
    size_t consumed() const { return position_; }
    size_t remaining() const { return bytes_.size() - position_; }

private:
    std::span<const uint8_t> bytes_;
    size_t chunk_;
    size_t position_ = 0;
};

}  // namespace tess
