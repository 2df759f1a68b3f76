// Stream bytes from a device: any input is cut as packet-stream video, both
// whole-frame forms and audio, into slots of exactly the product's sizes, so a
// write past one is caught. The first byte chooses a receive size (0: whole
// receives); the packet stream read in receives of that size must be cut as
// it is in whole receives.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "media/ByteSource.h"
#include "media/Framing.h"

namespace {

using tess::FrameStatus;
using tess::ResyncStatus;

// The pane's buffers, made once as the pane makes them and reused by every
// input: the reader clears a slot before each frame and reads only bytes of
// the current packet, so nothing carries over from one input to the next.
// Each is a heap block of exactly its size, so a write past one is caught.
struct Buffers {
    std::unique_ptr<tess::StreamPacket> window = std::make_unique<tess::StreamPacket>();
    std::vector<uint8_t> video = std::vector<uint8_t>(tess::kVideoSlotBytes);
    std::vector<uint8_t> audio = std::vector<uint8_t>(tess::kAudioSlotBytes);
    tess::VideoSlot videoSlot() { return tess::VideoSlot(video.data(), video.size()); }
    tess::AudioSlot audioSlot() { return tess::AudioSlot(audio.data(), audio.size()); }
};

Buffers& buffers() {
    static Buffers made;
    return made;
}

// Above receiveExactly and the resynchronisations nothing sees how the bytes
// came in, and between frames the reader keeps nothing but bytes a
// resynchronisation took ahead. So small receives, which cost a call each, are
// needed only as far as this many of them reach to meet every way of
// splitting.
constexpr size_t kSplitReceives = 64;

// Every read takes at least one byte of the stream or ends it, so a loop of
// more reads than the input has bytes holds a read that took none: a receiver
// thread would spin on it.
void countRead(size_t& reads, std::span<const uint8_t> bytes) {
    if (++reads > bytes.size() + 1) __builtin_trap();
}

void checkLength(const tess::FrameResult& result, size_t slotBytes) {
    if (result.status == FrameStatus::Ok && result.length > slotBytes) __builtin_trap();
}

uint64_t fold(uint64_t cut, uint64_t value) {
    return cut * 131071 + value;
}

// How the packet stream was cut: every frame's status and length, every
// resynchronisation's result and the bytes taken, folded into one number.
uint64_t packetStreamVideo(std::span<const uint8_t> bytes, size_t chunk) {
    tess::BufferByteSource source(bytes, chunk);
    std::atomic<uint32_t> count{0};
    tess::StreamReader reader(source, count);
    Buffers& buffer = buffers();
    uint64_t cut = 0;
    for (size_t reads = 0;;) {
        countRead(reads, bytes);
        const tess::FrameResult result =
            reader.readPacketStreamVideo(*buffer.window, buffer.videoSlot());
        checkLength(result, tess::kVideoSlotBytes);
        cut = fold(fold(cut, static_cast<uint64_t>(result.status)), result.length);
        if (result.status == FrameStatus::Ended) break;
        if (result.status == FrameStatus::Ok) continue;
        const ResyncStatus resync = reader.resyncPacketStream();
        cut = fold(cut, static_cast<uint64_t>(resync));
        if (resync != ResyncStatus::Resynchronised) break;
    }
    if (count != source.consumed()) __builtin_trap();
    return fold(cut, source.consumed());
}

void wholeFrameVideo(std::span<const uint8_t> bytes, tess::WholeFrameLength rule) {
    tess::BufferByteSource source(bytes);
    std::atomic<uint32_t> count{0};
    tess::StreamReader reader(source, count);
    Buffers& buffer = buffers();
    for (size_t reads = 0;;) {
        countRead(reads, bytes);
        const tess::FrameResult result =
            reader.readWholeFrameVideo(*buffer.window, buffer.videoSlot(), rule);
        checkLength(result, tess::kVideoSlotBytes);
        if (result.status == FrameStatus::Ended) break;
        if (result.status != FrameStatus::Ok) {
            reader.resyncWholeFrame();
            break;
        }
    }
    if (count != source.consumed()) __builtin_trap();
}

// As in the audio receiver, the stream ends at a packet that cannot be cut.
void audio(std::span<const uint8_t> bytes, bool swap) {
    tess::BufferByteSource source(bytes);
    std::atomic<uint32_t> count{0};
    tess::StreamReader reader(source, count);
    Buffers& buffer = buffers();
    for (size_t reads = 0;;) {
        countRead(reads, bytes);
        const tess::FrameResult result = reader.readAudio(*buffer.window, buffer.audioSlot(), swap);
        if (result.status == FrameStatus::Ok && result.length > tess::kMaxAudioFrameBytes) {
            __builtin_trap();
        }
        if (result.status == FrameStatus::Ended || result.status == FrameStatus::FramingError) {
            break;
        }
    }
    if (count != source.consumed()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    const uint64_t whole = packetStreamVideo(bytes, SIZE_MAX);
    if (const size_t chunk = data[0]; chunk != 0) {
        const auto split = bytes.first(std::min(bytes.size(), chunk * kSplitReceives));
        const uint64_t expected =
            split.size() == bytes.size() ? whole : packetStreamVideo(split, SIZE_MAX);
        if (packetStreamVideo(split, chunk) != expected) __builtin_trap();
    }
    wholeFrameVideo(bytes, tess::WholeFrameLength::ExcludesHeader);
    wholeFrameVideo(bytes, tess::WholeFrameLength::CountsHeader);
    audio(bytes, true);
    audio(bytes, false);
    return 0;
}
