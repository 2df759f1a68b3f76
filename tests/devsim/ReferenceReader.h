#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "LoopbackClient.h"

// The viewer's reading rules, written out again on the test side so that the
// simulator's framing is checked against the rules rather than against itself.
namespace tess::devsim::testing {

inline uint8_t at(const std::string& bytes, size_t i) {
    return static_cast<uint8_t>(bytes[i]);
}

// Header length from flag bytes A (offset 6) and B (offset 7), fixed-size bits.
inline size_t referenceHeaderLength(uint8_t a, uint8_t b) {
    size_t h = (a & 0x02) ? 10 : 8;
    const int aBits[] = {0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
    const int aAdds[] = {2, 2, 2, 4, 4, 16};
    for (int i = 0; i < 6; ++i)
        if (a & aBits[i]) h += aAdds[i];
    if (b & 0x01) h += 1;
    if (b & 0x02) h += 2;
    if (b & 0x04) h += 2;
    return h;
}

// S from media header bytes 24, 25 and 27 as received.
inline uint32_t referenceFrameSize(const std::string& media) {
    return at(media, 27) | (at(media, 24) & 0x07) << 8 | (at(media, 24) >> 4) << 11 |
           (at(media, 25) & 0x7F) << 15;
}

inline std::string swapped(std::string bytes) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

struct Packet {
    std::string header;
    uint16_t length = 0;  // L
    std::string data;     // bytes h..L
    bool ok = false;
};

// Reads one packet-stream packet: 8 header bytes, the rest of the header, data.
inline Packet readPacket(LoopbackClient& client) {
    Packet packet;
    packet.header = client.read(8);
    if (packet.header.size() != 8) return packet;
    packet.length = static_cast<uint16_t>(at(packet.header, 2) | at(packet.header, 3) << 8);
    const size_t h = referenceHeaderLength(at(packet.header, 6), at(packet.header, 7));
    packet.header += client.read(h - 8);
    if (packet.header.size() != h || packet.length < h || packet.length > 1600) return packet;
    packet.data = client.read(packet.length - h);
    packet.ok = packet.data.size() == packet.length - h;
    return packet;
}

// One video frame of the packet stream: the packets it took and the picture
// after the swap.
struct PacketFrame {
    std::vector<Packet> packets;
    size_t mediaHeaderLength = 0;
    uint32_t size = 0;  // S
    std::string picture;
    bool ok = false;
};

inline PacketFrame readPacketFrame(LoopbackClient& client) {
    PacketFrame frame;
    Packet first = readPacket(client);
    if (!first.ok || first.data.size() < 32) return frame;
    frame.mediaHeaderLength = (at(first.data, 21) & 0x7F) == 0x53 ? 104 : 32;
    frame.size = referenceFrameSize(first.data);
    const size_t p = frame.size - frame.mediaHeaderLength;
    std::string data = first.data.substr(frame.mediaHeaderLength);
    frame.packets.push_back(std::move(first));
    do {
        Packet next = readPacket(client);
        if (!next.ok) return frame;
        data += next.data;
        frame.packets.push_back(std::move(next));
    } while (data.size() < p);
    frame.picture = swapped(data);
    frame.ok = data.size() == p;
    return frame;
}

// One whole frame: 1600 bytes, then the rest by the class's length rule.
struct WholeFrame {
    size_t headerLength = 0;
    uint16_t length = 0;  // L
    std::string picture;  // bytes h.. of the packet
    bool ok = false;
};

inline WholeFrame readWholeFrame(LoopbackClient& client, bool lengthCountsHeader) {
    WholeFrame frame;
    std::string window = client.read(1600);
    if (window.size() != 1600) return frame;
    frame.length = static_cast<uint16_t>(at(window, 2) | at(window, 3) << 8);
    frame.headerLength = referenceHeaderLength(at(window, 6), at(window, 7));
    const long rest = lengthCountsHeader ? long(frame.length) - 1600
                                         : long(frame.length) + long(frame.headerLength) - 1600;
    if (rest < 0) return frame;
    frame.picture = window.substr(frame.headerLength) + client.read(static_cast<size_t>(rest));
    frame.ok = frame.picture.size() == 1600 - frame.headerLength + static_cast<size_t>(rest);
    return frame;
}

// IMA ADPCM decoding by the viewer's rules: low nibble first, the multiply form
// of the difference, index and predictor clamped.
struct ReferenceDecoder {
    int predictor = 0;
    int index = 0;
    std::vector<int16_t> decode(const std::string& adpcm) {
        static const int kSteps[89] = {
            7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,
            23,    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,
            73,    80,    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,
            230,   253,   279,   307,   337,   371,   408,   449,   494,   544,   598,   658,
            724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
            2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,
            7132,  7845,  8630,  9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350,
            22385, 24623, 27086, 29794, 32767};
        static const int kIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
        std::vector<int16_t> out;
        for (unsigned char byte : adpcm) {
            for (int c : {byte & 0x0F, byte >> 4}) {
                index = std::min(88, std::max(0, index));
                const int step = kSteps[index];
                index = std::min(88, std::max(0, index + kIndex[c & 7]));
                const int diff = ((2 * (c & 7) + 1) * step) / 8;
                predictor = c < 8 ? predictor + diff : predictor - diff;
                predictor = std::min(32767, std::max(-32768, predictor));
                out.push_back(static_cast<int16_t>(predictor));
            }
        }
        return out;
    }
};

}  // namespace tess::devsim::testing
