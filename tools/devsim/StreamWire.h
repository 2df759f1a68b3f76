#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The device's side of the stream byte formats: packet headers, media headers
// and the two video framings, plus the two-packet audio frame.
namespace tess::devsim::wire {

inline constexpr size_t kMaxPacket = 1600;       // the viewer's packet window
inline constexpr size_t kVideoSlot = 25000;      // the viewer's frame slot
inline constexpr size_t kShortMediaHeader = 32;  // video, byte 21 not "S"
inline constexpr size_t kLongMediaHeader = 104;  // video, byte 21 == "S"
inline constexpr size_t kAudioMediaHeader = 64;

// Flag bytes of a packet header. Only bits whose fields have a fixed size are
// produced: all of A, and B bits 0x01, 0x02, 0x04.
struct HeaderFlags {
    uint8_t a = 0, b = 0;
};
// The header length the flags announce.
size_t headerLength(HeaderFlags flags);

// A packet header: bytes 0..1 and 4..5 are zero, L at 2 (little-endian),
// A at 6, B at 7, the announced optional fields zero.
std::string packetHeader(uint16_t length, HeaderFlags flags);

// Writes the 22-bit frame size S into a media header:
//   byte 27      = S bits 0..7
//   byte 24 0..2 = S bits 8..10,  byte 24 4..7 = S bits 11..14 (bit 3 stays)
//   byte 25 0..6 = S bits 15..21                              (bit 7 stays)
void writeFrameSize(char* mediaHeader, uint32_t size);

// Swaps the two bytes of every 16-bit word; a trailing odd byte stays.
void swapPairs(std::string& bytes);

// How one frame is spoiled on purpose.
struct FrameDamage {
    bool badStart = false;        // the picture does not begin with FF D8
    int badPacketLength = 0;      // nonzero: the last packet (whole frame: the one) states
                                  // this length
    bool flagB40 = false;         // the first packet header has flag B 0x40
    bool impossibleSize = false;  // audio: the media header states S = 0x3FFFFF
};

// Packet stream (classes 1, 6, 7, 8): a media header of `mediaHeaderLength`
// bytes (S = header + picture), then the picture with its byte pairs swapped,
// cut into packets of at most 1600 bytes. Every frame spans at least two
// packets. `picture` must have an even length.
std::string packetStreamFrame(std::string_view picture, size_t mediaHeaderLength, HeaderFlags flags,
                              const FrameDamage& damage = {});

// Whole-frame form (classes 3, 4, 50): one packet header, then the picture in
// normal byte order. L is the picture length, or for class 4 (`lengthCountsHeader`)
// header + picture. Pictures too short to fill the first 1600 bytes are padded
// with zeros behind their end.
std::string wholeFrame(std::string_view picture, bool lengthCountsHeader, HeaderFlags flags,
                       const FrameDamage& damage = {});

// Audio: the 64-byte media header (initial predictor at 60, step index at 62)
// and the ADPCM bytes form a frame of S bytes that travels with its byte pairs
// swapped, S readable at 24/25/27 as sent, in exactly two packets.
std::string audioFrame(int16_t predictor, int8_t stepIndex, std::string_view adpcm,
                       HeaderFlags flags, const FrameDamage& damage = {});

}  // namespace tess::devsim::wire
