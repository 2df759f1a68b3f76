#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "media/ByteSource.h"
#include "protocol/NetworkLimits.h"

// The byte format of the video and audio streams a device sends after a stream
// start request, and the reader that cuts frames out of it into fixed slots.
// Nothing here allocates: the packet buffer and the slots belong to the caller (the
// pane), and every length read from the stream is checked against them before
// a byte is written.
namespace tess {

inline constexpr size_t kStreamPacketBytes = 1600;  // the longest packet
inline constexpr size_t kVideoSlotBytes = 25000;    // one FrameQueue slot
inline constexpr size_t kAudioSlotBytes = 2500;     // one AudioQueue slot
inline constexpr size_t kAudioMediaHeaderBytes = 64;
// The largest audio frame whose ADPCM part (2 samples a byte) fits one
// 8192-byte PCM block: 64 + 2048 bytes.
inline constexpr uint32_t kMaxAudioFrameBytes = 2112;

inline constexpr int kResyncReceiveMs = 2000;  // per receive while discarding
// A resynchronisation that has discarded this many bytes gives up: two whole
// video slots of bytes without the awaited mark means the stream is lost.
inline constexpr size_t kResyncByteLimit = 2 * kVideoSlotBytes;

using VideoSlot = std::span<uint8_t, kVideoSlotBytes>;
using AudioSlot = std::span<uint8_t, kAudioSlotBytes>;

// PacketHeader, at the start of every packet:
//
//   0     2     4     6  7  8
//   +--+--+--+--+--+--+--+--+---------------------+
//   | ---- |  L  | ---- |A |B | optional fields... |
//   +--+--+--+--+--+--+--+--+---------------------+
//   L: u16 LE, the packet length (packet stream) or the frame length (whole frame)
//
// Header length h, in this order:
//   h = 8, or 10 with A & 0x02
//   A 0x04, 0x08, 0x10: +2 each; A 0x20, 0x40: +4 each; A 0x80: +16
//   B 0x01: +1; B 0x02, 0x04: +2 each
//   B 0x20: h += 4 + byte[h + 1]
//   B 0x40: no usable length rule (it would exceed the window): framing error
//   B 0x80: h += 1 + byte[h]
// A 0x01 and B 0x08, 0x10 do not change the length.
struct PacketHeader {
    size_t headerLength = 0;  // h
    size_t length = 0;        // L
};

// The header at the start of `packet`, or nullopt for a framing error: the
// span is too short for the fixed part or for a byte the length rule reads,
// or flag B has bit 0x40.
std::optional<PacketHeader> parsePacketHeader(std::span<const uint8_t> packet);

// MediaHeader, at the start of a frame's data (bytes as received):
//
//   byte 21: low 7 bits 0x53 ('S'): a 104-byte video header, else 32 bytes
//   bytes 24, 25, 27: the 22-bit frame size S (byte 26 is not part of it)
//       byte 24:  b7 b6 b5 b4 = S14..S11   b3 unused   b2 b1 b0 = S10..S8
//       byte 25:  b7 unused   b6..b0 = S21..S15
//       byte 27:  S7..S0
//
// Video: S counts the media header and the picture. Audio: the header is 64
// bytes, stays at the front of the stored frame, and S counts all of it.
inline constexpr size_t kMediaHeaderSizeBytes = 28;  // bytes needed to read S

// 104 or 32; nullopt when `header` ends before byte 21.
std::optional<size_t> videoMediaHeaderLength(std::span<const uint8_t> header);
// S; nullopt when `header` ends before byte 27.
std::optional<uint32_t> mediaFrameSize(std::span<const uint8_t> header);

// Swaps the bytes of each pair (0,1), (2,3), ... up to and including the pair
// that starts at `lastPairStart`, within `bytes` (a pair that would end past
// the span is left alone).
void swapBytePairs(std::span<uint8_t> bytes, size_t lastPairStart);

// The buffer one packet of a stream is read into, owned by the pane: at most
// 1600 bytes (the longest packet that can be cut). Packets are read exactly,
// header first, so nothing of the next packet is ever in it: a frame is
// complete the moment its last byte has arrived.
struct StreamPacket {
    std::array<uint8_t, kStreamPacketBytes> bytes{};

    void clear() { bytes.fill(0); }
};

enum class FrameStatus {
    Ok,  // a frame of `length` bytes is in the slot
    // The frame does not start with the JPEG mark: resynchronise. Every packet
    // of it was cut cleanly, so the packet boundaries themselves are intact.
    BadStart,
    // The stream cannot be cut here, or the frame exceeds its slot: resynchronise.
    // After a packet that cannot be cut (L below 8 or h, above 1600, or flag B
    // 0x40) the reader stands somewhere inside it; after a well-formed packet
    // whose frame is impossible, at the start of the next packet.
    FramingError,
    // An audio frame that makes no sense or that the player cannot take; both
    // packets were read whole, so the stream stays cut: skip it.
    Dropped,
    Ended,  // a receive failed: the stream has ended
};

struct FrameResult {
    FrameStatus status = FrameStatus::Ended;
    uint32_t length = 0;  // valid with Ok
};

enum class ResyncStatus {
    Resynchronised,  // the awaited mark was discarded; carry on reading frames
    GaveUp,          // kResyncByteLimit bytes without it; end the stream
    Ended,           // a receive failed; the stream has ended
};

// How the whole-frame form's L is meant.
enum class WholeFrameLength {
    ExcludesHeader,  // classes 3 and 50: L + h - 1600 bytes follow the window
    CountsHeader,    // class 4: L - 1600 bytes follow the window
};

// Cuts frames out of one stream. Used by the stream's receiving thread only;
// every byte received is added to `byteCount` (the pane's statistics).
class StreamReader {
public:
    // A receive that waits longer than `receiveMs` ends the stream.
    StreamReader(ByteSource& source, std::atomic<uint32_t>& byteCount,
                 int receiveMs = NetworkLimits{}.streamReceiveMs)
        : source_(source), byteCount_(byteCount), receiveMs_(receiveMs) {}

    // The packet stream is read one packet at a time, exactly: the 8 fixed
    // header bytes (which hold L), then the L - 8 bytes behind them, never a
    // byte of the next packet. The bytes the header length rule reads lie
    // inside the packet, or the packet cannot be cut.
    //
    // Packet stream (classes 1, 6, 7, 8): the first packet's data begin with the
    // media header; packets follow until P = S - header length picture bytes are
    // in the slot (always at least one more packet). A slot that begins D8 FF is
    // then byte-pair swapped up to and including index P: Ok with length P.
    FrameResult readPacketStreamVideo(StreamPacket& packet, VideoSlot slot);

    // Whole-frame form (classes 3, 4, 50): exactly 1600 bytes into an empty
    // window, then the rest of the frame straight into the slot behind the first
    // 1600 - h picture bytes. A slot that begins FF D8 is Ok with length L.
    FrameResult readWholeFrameVideo(StreamPacket& window, VideoSlot slot, WholeFrameLength rule);

    // Audio (all classes): two packets, S from the 64-byte media header as
    // received. With `swap` the slot is byte-pair swapped up to and including
    // index S. Ok with length S. A frame whose first packet holds no media
    // header, or with S below 64 or above kMaxAudioFrameBytes, is Dropped once
    // both its packets are read; a packet that cannot be cut is a FramingError.
    FrameResult readAudio(StreamPacket& packet, AudioSlot slot, bool swap);

    // Packet stream: discards bytes until a 0xD9 has been discarded, then one
    // more byte; the next packet read starts behind it. Each receive waits at
    // most 2 s for a byte.
    ResyncStatus resyncPacketStream();

    // Whole-frame form: discards bytes (2 s each receive) until a receive
    // fails, which ends the stream (Ended), or the limit is reached (GaveUp).
    ResyncStatus resyncWholeFrame();

private:
    bool receiveExactly(uint8_t* buffer, size_t length);
    FrameStatus nextPacket(StreamPacket& packet, PacketHeader& header);
    bool receiveAhead(size_t most);
    size_t aheadCount() const { return aheadEnd_ - aheadStart_; }

    ByteSource& source_;
    std::atomic<uint32_t>& byteCount_;
    int receiveMs_;
    // Discarding goes in whole receives rather than a receive per byte, so a
    // resynchronisation may take in bytes past the point where it stops: the
    // start of what follows. They are handed out before anything new is
    // received, so every read sees the stream exactly as sent.
    std::array<uint8_t, kStreamPacketBytes> ahead_{};
    size_t aheadStart_ = 0, aheadEnd_ = 0;
};

}  // namespace tess
