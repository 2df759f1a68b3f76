// The exact-read framing against the earlier windowed rule, which filled a
// 1600-byte window before it cut a packet: on well-formed streams both must
// cut the same frames, split into receives however the network likes. The
// windowed rule, written out again here, is the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/ByteSource.h"
#include "media/Framing.h"

namespace tess {
namespace {

using Bytes = std::vector<uint8_t>;
using Frames = std::vector<Bytes>;

// Receives never cross `cut` (one split of the stream), at most `chunk` each.
class SplitSource final : public ByteSource {
public:
    SplitSource(const Bytes& bytes, size_t cut, size_t chunk = SIZE_MAX)
        : bytes_(bytes), cut_(cut), chunk_(chunk) {}
    int receive(uint8_t* buffer, size_t length, int) override {
        const size_t end = position_ < cut_ ? cut_ : bytes_.size();
        const size_t count = std::min({length, chunk_, end - position_});
        if (count == 0) return -1;
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return static_cast<int>(count);
    }

private:
    const Bytes& bytes_;
    size_t cut_, chunk_, position_ = 0;
};

// The windowed rule: fill the window to 1600 bytes, cut the packet at its
// start, move the bytes behind it to the front.
class WindowedReader {
public:
    explicit WindowedReader(ByteSource& source) : source_(source) {}

    std::optional<Bytes> video() {
        Bytes data;
        if (!packet(data)) return std::nullopt;
        const auto mediaLength = videoMediaHeaderLength(data);
        const auto size = mediaFrameSize(data);
        if (!mediaLength || !size) return std::nullopt;
        const size_t pictureLength = *size - *mediaLength;
        Bytes picture(data.begin() + static_cast<long>(*mediaLength), data.end());
        do {
            if (!packet(data)) return std::nullopt;
            picture.insert(picture.end(), data.begin(), data.end());
        } while (picture.size() < pictureLength);
        picture.resize(pictureLength + 2, 0);
        swapBytePairs(picture, pictureLength);
        picture.resize(pictureLength);
        return picture;
    }

    std::optional<Bytes> audio() {
        Bytes first, second;
        if (!packet(first) || !packet(second)) return std::nullopt;
        const auto size = mediaFrameSize(first);
        if (!size) return std::nullopt;
        first.insert(first.end(), second.begin(), second.end());
        first.resize(*size + 2, 0);
        swapBytePairs(first, *size);
        first.resize(*size);
        return first;
    }

private:
    bool packet(Bytes& data) {
        while (carried_ < window_.size()) {
            const int got =
                source_.receive(window_.data() + carried_, window_.size() - carried_, 5);
            if (got <= 0) return false;
            carried_ += static_cast<size_t>(got);
        }
        const auto header = parsePacketHeader(window_);
        if (!header || header->length > window_.size() || header->length < header->headerLength)
            return false;
        data.assign(window_.begin() + static_cast<long>(header->headerLength),
                    window_.begin() + static_cast<long>(header->length));
        std::memmove(window_.data(), window_.data() + header->length,
                     window_.size() - header->length);
        carried_ = window_.size() - header->length;
        return true;
    }

    ByteSource& source_;
    std::array<uint8_t, kStreamPacketBytes> window_{};
    size_t carried_ = 0;
};

// ---- well-formed streams ----------------------------------------------------

// A packet header with flags A and B and L; the optional fields it announces
// hold the lengths the B 0x20 and 0x80 rules read (`extra20`, `extra80`).
Bytes header(uint8_t a, uint8_t b, size_t dataLength, uint8_t extra20 = 3, uint8_t extra80 = 5) {
    Bytes h(8, 0);
    h[6] = a;
    h[7] = b;
    size_t length = (a & 0x02) ? 10 : 8;
    for (auto [bit, add] :
         {std::pair{0x04, 2}, {0x08, 2}, {0x10, 2}, {0x20, 4}, {0x40, 4}, {0x80, 16}})
        if (a & bit) length += static_cast<size_t>(add);
    if (b & 0x01) length += 1;
    if (b & 0x02) length += 2;
    if (b & 0x04) length += 2;
    h.resize(length, 0);
    if (b & 0x20) {
        h.resize(length + 4 + extra20, 0);
        h[length + 1] = extra20;
        length += 4 + extra20;
    }
    if (b & 0x80) {
        h.resize(length + 1 + extra80, 0);
        h[length] = extra80;
        length += 1 + extra80;
    }
    const size_t total = h.size() + dataLength;
    h[2] = static_cast<uint8_t>(total & 0xFF);
    h[3] = static_cast<uint8_t>(total >> 8);
    return h;
}

void putFrameSize(Bytes& media, uint32_t size) {
    media[27] = static_cast<uint8_t>(size & 0xFF);
    media[24] = static_cast<uint8_t>(((size >> 8) & 0x07) | ((size >> 11) & 0x0F) << 4);
    media[25] = static_cast<uint8_t>((size >> 15) & 0x7F);
}

constexpr std::array<std::pair<uint8_t, uint8_t>, 5> kFlags = {
    {{0, 0}, {0x02, 0x01}, {0xFE, 0x07}, {0x04, 0x20}, {0x10, 0xA0}}};

// Cuts `payload` into packets of at most `most` data bytes (and at least two),
// with flags taken in turn from kFlags.
void packetise(Bytes& wire, const Bytes& payload, size_t most, size_t& flagTurn) {
    size_t at = 0;
    int packets = 0;
    while (at < payload.size() || packets < 2) {
        const auto [a, b] = kFlags[flagTurn++ % kFlags.size()];
        const Bytes probe = header(a, b, 0);
        const size_t room = std::min(most, kStreamPacketBytes - probe.size());
        const size_t count = std::min(room, payload.size() - at);
        const Bytes h = header(a, b, count);
        wire.insert(wire.end(), h.begin(), h.end());
        wire.insert(wire.end(), payload.begin() + static_cast<long>(at),
                    payload.begin() + static_cast<long>(at + count));
        at += count;
        ++packets;
    }
}

Bytes swapped(Bytes bytes) {
    if (bytes.size() % 2) bytes.push_back(0);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

struct Stream {
    Bytes wire;
    Frames frames;  // as they must come out
};

Stream videoStream() {
    Stream s;
    size_t turn = 0;
    const size_t lengths[] = {3000, 1201, 600, 4001, 90};
    for (size_t i = 0; i < std::size(lengths); ++i) {
        Bytes picture(lengths[i]);
        for (size_t j = 0; j < picture.size(); ++j) picture[j] = static_cast<uint8_t>(j * 13 + i);
        picture[0] = 0xFF;
        picture[1] = 0xD8;
        const size_t mediaLength = i % 2 ? 104 : 32;
        Bytes payload(mediaLength, 0);
        payload[21] = mediaLength == 104 ? 0xD3 : 0x20;
        putFrameSize(payload, static_cast<uint32_t>(mediaLength + picture.size()));
        const Bytes wire = swapped(picture);
        payload.insert(payload.end(), wire.begin(), wire.end());
        packetise(s.wire, payload, i == 2 ? 1590 : 700 + 300 * i, turn);
        s.frames.push_back(picture);
    }
    return s;
}

Stream audioStream() {
    Stream s;
    size_t turn = 0;
    for (uint32_t size : {64u, 577u, 576u, 2112u, 300u, 1000u}) {
        Bytes data(size);
        for (size_t j = 0; j < size; ++j) data[j] = static_cast<uint8_t>(j * 7 + 1);
        putFrameSize(data, size);  // S is read as received
        const size_t firstData = std::max<size_t>(28, size / 3);
        for (const auto& [from, to] :
             {std::pair{size_t{0}, firstData}, {firstData, size_t{size}}}) {
            const auto [a, b] = kFlags[turn++ % kFlags.size()];
            const Bytes h = header(a, b, to - from);
            s.wire.insert(s.wire.end(), h.begin(), h.end());
            s.wire.insert(s.wire.end(), data.begin() + static_cast<long>(from),
                          data.begin() + static_cast<long>(to));
        }
        data.resize(size + 2, 0);
        swapBytePairs(data, size);
        data.resize(size);
        s.frames.push_back(data);
    }
    return s;
}

enum class Kind { Video, Audio };

Frames windowedFrames(Kind kind, ByteSource& source) {
    WindowedReader reader(source);
    Frames frames;
    for (;;) {
        std::optional<Bytes> frame = kind == Kind::Video ? reader.video() : reader.audio();
        if (!frame) return frames;
        frames.push_back(std::move(*frame));
    }
}

struct ExactReading {
    Frames frames;
    uint32_t byteCount = 0;
};

ExactReading exactFrames(Kind kind, ByteSource& source) {
    std::atomic<uint32_t> byteCount{0};
    StreamReader reader(source, byteCount);
    StreamPacket packet;
    auto video = std::make_unique<std::array<uint8_t, kVideoSlotBytes>>();
    std::array<uint8_t, kAudioSlotBytes> audio{};
    ExactReading reading;
    for (;;) {
        const FrameResult result = kind == Kind::Video
                                       ? reader.readPacketStreamVideo(packet, *video)
                                       : reader.readAudio(packet, audio, true);
        if (result.status != FrameStatus::Ok) break;
        const uint8_t* start = kind == Kind::Video ? video->data() : audio.data();
        reading.frames.emplace_back(start, start + result.length);
    }
    reading.byteCount = byteCount;
    return reading;
}

void expectSameFrames(Kind kind, const Stream& stream) {
    // The windowed rule cannot cut the packets in the stream's last 1600
    // bytes: it delivers a true prefix of the frames, the exact reader all.
    {
        BufferByteSource source(stream.wire);
        const Frames windowed = windowedFrames(kind, source);
        ASSERT_LT(windowed.size(), stream.frames.size());
        ASSERT_GT(windowed.size(), 0u);
        EXPECT_TRUE(std::equal(windowed.begin(), windowed.end(), stream.frames.begin()));
    }
    const auto check = [&](ByteSource& exactSource, ByteSource& windowedSource) {
        const ExactReading exact = exactFrames(kind, exactSource);
        const Frames windowed = windowedFrames(kind, windowedSource);
        if (exact.frames != stream.frames || exact.byteCount != stream.wire.size() ||
            windowed.size() >= exact.frames.size() ||
            !std::equal(windowed.begin(), windowed.end(), exact.frames.begin())) {
            return false;
        }
        return true;
    };
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{333}, SIZE_MAX}) {
        SCOPED_TRACE(chunk);
        SplitSource exactSource(stream.wire, 0, chunk), windowedSource(stream.wire, 0, chunk);
        EXPECT_TRUE(check(exactSource, windowedSource));
    }
    size_t failures = 0;
    for (size_t cut = 1; cut < stream.wire.size(); ++cut) {
        SplitSource exactSource(stream.wire, cut), windowedSource(stream.wire, cut);
        if (!check(exactSource, windowedSource) && failures++ < 3) {
            ADD_FAILURE() << "frames differ with the stream split at byte " << cut;
        }
    }
    EXPECT_EQ(failures, 0u);
}

TEST(FramingEquivalence, PacketStreamVideoFramesAreTheWindowedRulesSplitAnywhere) {
    expectSameFrames(Kind::Video, videoStream());
}

TEST(FramingEquivalence, AudioFramesAreTheWindowedRulesSplitAnywhere) {
    expectSameFrames(Kind::Audio, audioStream());
}

}  // namespace
}  // namespace tess
