#include "StreamWire.h"

#include <algorithm>

namespace tess::devsim::wire {
namespace {

void putLe16(char* at, uint16_t value) {
    at[0] = static_cast<char>(value & 0xFF);
    at[1] = static_cast<char>(value >> 8);
}

// Cuts `data` into at least two packets: full packets first, or for data
// that would fit one packet, two halves (the viewer always reads a second).
// The first packet holds at least `headerBytes`: the media header is read
// from the first packet alone.
std::string packetize(std::string_view data, size_t headerBytes, HeaderFlags flags,
                      const FrameDamage& damage) {
    const size_t h = headerLength(flags);
    const size_t room = kMaxPacket - h;
    const size_t count = std::max<size_t>(2, (data.size() + room - 1) / room);
    const size_t per =
        count == 2 && data.size() <= room ? std::max(headerBytes, (data.size() + 1) / 2) : room;
    std::string out;
    out.reserve(data.size() + count * h);
    for (size_t i = 0, at = 0; i < count; ++i) {
        const size_t take = i + 1 == count ? data.size() - at : std::min(per, data.size() - at);
        HeaderFlags packetFlags = flags;
        if (i == 0 && damage.flagB40) packetFlags.b |= 0x40;
        uint16_t length = static_cast<uint16_t>(h + take);
        if (i + 1 == count && damage.badPacketLength != 0)
            length = static_cast<uint16_t>(damage.badPacketLength);
        out += packetHeader(length, packetFlags);
        out.append(data.substr(at, take));
        at += take;
    }
    return out;
}

}  // namespace

size_t headerLength(HeaderFlags flags) {
    size_t h = (flags.a & 0x02) ? 10 : 8;
    if (flags.a & 0x04) h += 2;
    if (flags.a & 0x08) h += 2;
    if (flags.a & 0x10) h += 2;
    if (flags.a & 0x20) h += 4;
    if (flags.a & 0x40) h += 4;
    if (flags.a & 0x80) h += 16;
    if (flags.b & 0x01) h += 1;
    if (flags.b & 0x02) h += 2;
    if (flags.b & 0x04) h += 2;
    return h;
}

std::string packetHeader(uint16_t length, HeaderFlags flags) {
    // Flag B 0x40 announces a length this header does not carry: it is only
    // sent as damage, with the header otherwise as the fixed flags make it.
    std::string header(headerLength({flags.a, static_cast<uint8_t>(flags.b & 0x07)}), '\0');
    putLe16(header.data() + 2, length);
    header[6] = static_cast<char>(flags.a);
    header[7] = static_cast<char>(flags.b);
    return header;
}

void writeFrameSize(char* mediaHeader, uint32_t size) {
    auto* bytes = reinterpret_cast<uint8_t*>(mediaHeader);
    bytes[27] = static_cast<uint8_t>(size & 0xFF);
    bytes[24] = static_cast<uint8_t>((bytes[24] & 0x08) | ((size >> 8) & 0x07) |
                                     (((size >> 11) & 0x0F) << 4));
    bytes[25] = static_cast<uint8_t>((bytes[25] & 0x80) | ((size >> 15) & 0x7F));
}

void swapPairs(std::string& bytes) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
}

std::string packetStreamFrame(std::string_view picture, size_t mediaHeaderLength, HeaderFlags flags,
                              const FrameDamage& damage) {
    std::string data(mediaHeaderLength, '\0');
    if (mediaHeaderLength == kLongMediaHeader) data[21] = 'S';
    writeFrameSize(data.data(), static_cast<uint32_t>(mediaHeaderLength + picture.size()));
    std::string swapped(picture);
    if (damage.badStart && swapped.size() >= 2) swapped[0] = swapped[1] = '\0';
    swapPairs(swapped);
    data += swapped;
    return packetize(data, mediaHeaderLength, flags, damage);
}

std::string wholeFrame(std::string_view picture, bool lengthCountsHeader, HeaderFlags flags,
                       const FrameDamage& damage) {
    const size_t h = headerLength(flags);
    std::string body(picture);
    if (damage.badStart && body.size() >= 2) body[0] = body[1] = '\0';
    if (h + body.size() < kMaxPacket) body.resize(kMaxPacket - h, '\0');
    const size_t length = damage.badPacketLength != 0 ? static_cast<size_t>(damage.badPacketLength)
                          : lengthCountsHeader        ? h + body.size()
                                                      : body.size();
    HeaderFlags packetFlags = flags;
    if (damage.flagB40) packetFlags.b |= 0x40;
    return packetHeader(static_cast<uint16_t>(std::min<size_t>(length, 0xFFFF)), packetFlags) +
           body;
}

std::string audioFrame(int16_t predictor, int8_t stepIndex, std::string_view adpcm,
                       HeaderFlags flags, const FrameDamage& damage) {
    std::string frame(kAudioMediaHeader, '\0');
    putLe16(frame.data() + 60, static_cast<uint16_t>(predictor));
    frame[62] = static_cast<char>(stepIndex);
    frame += adpcm;
    swapPairs(frame);
    // The viewer reads S before it swaps, so S goes in after the swap.
    writeFrameSize(frame.data(),
                   damage.impossibleSize ? 0x3FFFFFu : static_cast<uint32_t>(frame.size()));
    return packetize(frame, kAudioMediaHeader, flags, damage);
}

}  // namespace tess::devsim::wire
