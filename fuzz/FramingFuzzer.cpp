// Stream bytes from a device: any input is cut as packet-stream video, both
// whole-frame forms and audio, in receives of a size the input chooses, into
// slots of exactly the product's sizes, so a write past one is caught.
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

// More reads than any input of the fuzzer's size can feed.
constexpr int kMaxReads = 100000;

struct Buffers {
    std::unique_ptr<tess::StreamPacket> window = std::make_unique<tess::StreamPacket>();
    std::vector<uint8_t> video = std::vector<uint8_t>(tess::kVideoSlotBytes);
    std::vector<uint8_t> audio = std::vector<uint8_t>(tess::kAudioSlotBytes);
    tess::VideoSlot videoSlot() { return tess::VideoSlot(video.data(), video.size()); }
    tess::AudioSlot audioSlot() { return tess::AudioSlot(audio.data(), audio.size()); }
};

void checkLength(const tess::FrameResult& result, size_t slotBytes) {
    if (result.status == FrameStatus::Ok && result.length > slotBytes) __builtin_trap();
}

void packetStreamVideo(std::span<const uint8_t> bytes, size_t chunk) {
    tess::BufferByteSource source(bytes, chunk);
    std::atomic<uint32_t> count{0};
    tess::StreamReader reader(source, count);
    Buffers buffers;
    for (int i = 0; i < kMaxReads; ++i) {
        const tess::FrameResult result =
            reader.readPacketStreamVideo(*buffers.window, buffers.videoSlot());
        checkLength(result, tess::kVideoSlotBytes);
        if (result.status == FrameStatus::Ended) break;
        if (result.status != FrameStatus::Ok &&
            reader.resyncPacketStream() != ResyncStatus::Resynchronised) {
            break;
        }
    }
    if (count != source.consumed()) __builtin_trap();
}

void wholeFrameVideo(std::span<const uint8_t> bytes, size_t chunk, tess::WholeFrameLength rule) {
    tess::BufferByteSource source(bytes, chunk);
    std::atomic<uint32_t> count{0};
    tess::StreamReader reader(source, count);
    Buffers buffers;
    for (int i = 0; i < kMaxReads; ++i) {
        const tess::FrameResult result =
            reader.readWholeFrameVideo(*buffers.window, buffers.videoSlot(), rule);
        checkLength(result, tess::kVideoSlotBytes);
        if (result.status == FrameStatus::Ended) break;
        if (result.status != FrameStatus::Ok) {
            reader.resyncWholeFrame();
            break;
        }
    }
    if (count != source.consumed()) __builtin_trap();
}

void audio(std::span<const uint8_t> bytes, size_t chunk, bool swap) {
    tess::BufferByteSource source(bytes, chunk);
    std::atomic<uint32_t> count{0};
    tess::StreamReader reader(source, count);
    Buffers buffers;
    for (int i = 0; i < kMaxReads; ++i) {
        const tess::FrameResult result =
            reader.readAudio(*buffers.window, buffers.audioSlot(), swap);
        if (result.status == FrameStatus::Ok && result.length > tess::kMaxAudioFrameBytes) {
            __builtin_trap();
        }
        if (result.status == FrameStatus::Ended) break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t chunk = data[0] == 0 ? SIZE_MAX : data[0];
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    packetStreamVideo(bytes, chunk);
    wholeFrameVideo(bytes, chunk, tess::WholeFrameLength::ExcludesHeader);
    wholeFrameVideo(bytes, chunk, tess::WholeFrameLength::CountsHeader);
    audio(bytes, chunk, true);
    audio(bytes, chunk, false);
    return 0;
}
