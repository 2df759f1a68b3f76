#include "media/Framing.h"

#include <algorithm>
#include <cstring>

#include "media/FrameQueue.h"

namespace tess {

static_assert(FrameQueue::kSlotBytes == kVideoSlotBytes);

namespace {

constexpr size_t kFixedHeaderBytes = 8;
constexpr size_t kVideoMarkOffset = 21;
constexpr size_t kShortVideoHeaderBytes = 32;
constexpr size_t kLongVideoHeaderBytes = 104;

size_t readLength(std::span<const uint8_t> packet) {
    return static_cast<size_t>(packet[2]) | static_cast<size_t>(packet[3]) << 8;
}

// Copies as much of `data` as fits into `slot` at `at`; bytes past the slot
// would lie beyond the frame (its size is checked against the slot first).
void appendBounded(std::span<uint8_t> slot, size_t at, std::span<const uint8_t> data) {
    if (at >= slot.size()) return;
    const size_t count = std::min(data.size(), slot.size() - at);
    std::memcpy(slot.data() + at, data.data(), count);
}

// The data of a packet that was cut: bytes h to L.
std::span<const uint8_t> packetData(const StreamPacket& packet, const PacketHeader& header) {
    return {packet.bytes.data() + header.headerLength, header.length - header.headerLength};
}

bool startsWith(std::span<const uint8_t> slot, uint8_t first, uint8_t second) {
    return slot[0] == first && slot[1] == second;
}

}  // namespace

std::optional<PacketHeader> parsePacketHeader(std::span<const uint8_t> packet) {
    if (packet.size() < kFixedHeaderBytes) return std::nullopt;
    const uint8_t a = packet[6];
    const uint8_t b = packet[7];
    size_t h = (a & 0x02) ? 10 : 8;
    if (a & 0x04) h += 2;
    if (a & 0x08) h += 2;
    if (a & 0x10) h += 2;
    if (a & 0x20) h += 4;
    if (a & 0x40) h += 4;
    if (a & 0x80) h += 16;
    if (b & 0x01) h += 1;
    if (b & 0x02) h += 2;
    if (b & 0x04) h += 2;
    if (b & 0x20) {
        if (h + 1 >= packet.size()) return std::nullopt;
        h += 4 + packet[h + 1];
    }
    if (b & 0x40) return std::nullopt;
    if (b & 0x80) {
        if (h >= packet.size()) return std::nullopt;
        h += 1 + packet[h];
    }
    return PacketHeader{h, readLength(packet)};
}

std::optional<size_t> videoMediaHeaderLength(std::span<const uint8_t> header) {
    if (header.size() <= kVideoMarkOffset) return std::nullopt;
    return (header[kVideoMarkOffset] & 0x7F) == 0x53 ? kLongVideoHeaderBytes
                                                     : kShortVideoHeaderBytes;
}

std::optional<uint32_t> mediaFrameSize(std::span<const uint8_t> header) {
    if (header.size() < kMediaHeaderSizeBytes) return std::nullopt;
    const uint32_t b24 = header[24];
    const uint32_t b25 = header[25];
    const uint32_t b27 = header[27];
    return b27 | (b24 & 0x07) << 8 | (b24 >> 4) << 11 | (b25 & 0x7F) << 15;
}

void swapBytePairs(std::span<uint8_t> bytes, size_t lastPairStart) {
    for (size_t i = 0; i <= lastPairStart && i + 1 < bytes.size(); i += 2) {
        std::swap(bytes[i], bytes[i + 1]);
    }
}

bool StreamReader::receiveExactly(uint8_t* buffer, size_t length) {
    const size_t held = std::min(length, aheadCount());
    if (held > 0) {
        std::memcpy(buffer, ahead_.data() + aheadStart_, held);
        aheadStart_ += held;
        buffer += held;
        length -= held;
    }
    while (length > 0) {
        const int got = source_.receive(buffer, length, receiveMs_);
        if (got <= 0 || static_cast<size_t>(got) > length) return false;
        byteCount_ += static_cast<uint32_t>(got);
        buffer += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

// Replaces the (used up) bytes ahead by one receive of at most `most` bytes.
bool StreamReader::receiveAhead(size_t most) {
    aheadStart_ = aheadEnd_ = 0;
    const size_t wanted = std::min(most, ahead_.size());
    const int got = source_.receive(ahead_.data(), wanted, kResyncReceiveMs);
    if (got <= 0 || static_cast<size_t>(got) > wanted) return false;
    byteCount_ += static_cast<uint32_t>(got);
    aheadEnd_ = static_cast<size_t>(got);
    return true;
}

// Reads one packet exactly: its 8 fixed header bytes, which hold L, then the
// L - 8 bytes behind them. A frame is thereby complete as soon as its last
// byte is in, instead of when the bytes behind it have filled a window.
FrameStatus StreamReader::nextPacket(StreamPacket& packet, PacketHeader& header) {
    if (!receiveExactly(packet.bytes.data(), kFixedHeaderBytes)) return FrameStatus::Ended;
    const size_t length = readLength(packet.bytes);
    if (length < kFixedHeaderBytes || length > kStreamPacketBytes) return FrameStatus::FramingError;
    if (!receiveExactly(packet.bytes.data() + kFixedHeaderBytes, length - kFixedHeaderBytes)) {
        return FrameStatus::Ended;
    }
    // The length rule may read bytes of the optional fields; they must lie
    // inside the packet, or its header is longer than L.
    const std::optional<PacketHeader> parsed =
        parsePacketHeader(std::span<const uint8_t>(packet.bytes.data(), length));
    if (!parsed || parsed->length < parsed->headerLength) return FrameStatus::FramingError;
    header = *parsed;
    return FrameStatus::Ok;
}

FrameResult StreamReader::readPacketStreamVideo(StreamPacket& packet, VideoSlot slot) {
    PacketHeader header;
    if (const FrameStatus status = nextPacket(packet, header); status != FrameStatus::Ok) {
        return {status};
    }
    const std::span<const uint8_t> first = packetData(packet, header);
    const std::optional<size_t> mediaLength = videoMediaHeaderLength(first);
    const std::optional<uint32_t> frameSize = mediaFrameSize(first);
    if (!mediaLength || !frameSize || first.size() < *mediaLength || *frameSize < *mediaLength ||
        *frameSize - *mediaLength > slot.size()) {
        return {FrameStatus::FramingError};
    }
    const size_t pictureLength = *frameSize - *mediaLength;

    std::fill(slot.begin(), slot.end(), uint8_t{0});
    appendBounded(slot, 0, first.subspan(*mediaLength));
    size_t collected = first.size() - *mediaLength;
    do {
        if (const FrameStatus status = nextPacket(packet, header); status != FrameStatus::Ok) {
            return {status};
        }
        const std::span<const uint8_t> data = packetData(packet, header);
        appendBounded(slot, collected, data);
        collected += data.size();
    } while (collected < pictureLength);

    if (!startsWith(slot, 0xD8, 0xFF)) return {FrameStatus::BadStart};
    swapBytePairs(slot, pictureLength);
    return {FrameStatus::Ok, static_cast<uint32_t>(pictureLength)};
}

FrameResult StreamReader::readWholeFrameVideo(StreamPacket& window, VideoSlot slot,
                                              WholeFrameLength rule) {
    window.clear();
    if (!receiveExactly(window.bytes.data(), kStreamPacketBytes)) return {FrameStatus::Ended};
    const std::optional<PacketHeader> header = parsePacketHeader(window.bytes);
    if (!header) return {FrameStatus::FramingError};
    const size_t h = header->headerLength;
    const size_t length = header->length;
    // What follows the window; the frame itself (length L) must fit the slot.
    const size_t announced = rule == WholeFrameLength::CountsHeader ? length : length + h;
    if (announced < kStreamPacketBytes || length > slot.size()) return {FrameStatus::FramingError};
    const size_t remaining = announced - kStreamPacketBytes;

    std::fill(slot.begin(), slot.end(), uint8_t{0});
    const size_t inWindow = kStreamPacketBytes - h;
    std::memcpy(slot.data(), window.bytes.data() + h, inWindow);
    if (!receiveExactly(slot.data() + inWindow, remaining)) return {FrameStatus::Ended};

    if (!startsWith(slot, 0xFF, 0xD8)) return {FrameStatus::BadStart};
    return {FrameStatus::Ok, static_cast<uint32_t>(length)};
}

FrameResult StreamReader::readAudio(StreamPacket& packet, AudioSlot slot, bool swap) {
    PacketHeader header;
    if (const FrameStatus status = nextPacket(packet, header); status != FrameStatus::Ok) {
        return {status};
    }
    const std::span<const uint8_t> first = packetData(packet, header);
    const std::optional<uint32_t> frameSize = mediaFrameSize(first);
    std::fill(slot.begin(), slot.end(), uint8_t{0});
    appendBounded(slot, 0, first);
    const size_t collected = first.size();

    // The second packet is read whatever the first held: an audio frame is
    // always two packets, so the stream stays cut at frame boundaries.
    if (const FrameStatus status = nextPacket(packet, header); status != FrameStatus::Ok) {
        return {status};
    }
    appendBounded(slot, collected, packetData(packet, header));

    // Dropped rather than cut: the decoder would otherwise play a frame's first
    // part and lose its end without a trace.
    if (!frameSize || *frameSize < kAudioMediaHeaderBytes || *frameSize > kMaxAudioFrameBytes) {
        return {FrameStatus::Dropped};
    }
    if (swap) swapBytePairs(slot, *frameSize);
    return {FrameStatus::Ok, *frameSize};
}

ResyncStatus StreamReader::resyncPacketStream() {
    constexpr uint8_t kMark = 0xD9;
    size_t discarded = 0;
    for (;;) {
        const uint8_t* held = ahead_.data() + aheadStart_;
        const size_t scanned = std::min(aheadCount(), kResyncByteLimit - discarded);
        if (const void* mark = std::memchr(held, kMark, scanned)) {
            aheadStart_ += static_cast<size_t>(static_cast<const uint8_t*>(mark) - held) + 1;
            // The byte after the mark closes the frame's last pair.
            if (aheadCount() == 0 && !receiveAhead(1)) return ResyncStatus::Ended;
            ++aheadStart_;
            return ResyncStatus::Resynchronised;
        }
        aheadStart_ += scanned;
        discarded += scanned;
        if (discarded == kResyncByteLimit) return ResyncStatus::GaveUp;
        if (!receiveAhead(kResyncByteLimit - discarded)) return ResyncStatus::Ended;
    }
}

ResyncStatus StreamReader::resyncWholeFrame() {
    size_t discarded = std::min(aheadCount(), kResyncByteLimit);
    aheadStart_ += discarded;
    while (discarded < kResyncByteLimit) {
        if (!receiveAhead(kResyncByteLimit - discarded)) return ResyncStatus::Ended;
        discarded += aheadCount();
        aheadStart_ = aheadEnd_;
    }
    return ResyncStatus::GaveUp;
}

}  // namespace tess
