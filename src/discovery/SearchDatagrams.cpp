#include "discovery/SearchDatagrams.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tess {
namespace {

constexpr char kRequestText[] = "QZ_SEARCH";
constexpr size_t kRequestVersionAt = 16;
constexpr size_t kOwnAddressAt = 56;
constexpr size_t kRequestTrailerAt = 72;
constexpr uint8_t kRequestTrailer[4] = {0x05, 0x0D, 0x00, 0x00};  // 3333, u32

constexpr size_t kTypeCodeAt = 17;
constexpr size_t kMacAt = 18;
constexpr size_t kDeviceAddressAt = 56;
// The further addresses in the order a row keeps them.
constexpr size_t kFurtherAddressesAt[3] = {64, 68, 60};
constexpr size_t kPortAt = 72;

std::string addressText(const SearchDatagram& reply, size_t at) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", reply[at], reply[at + 1], reply[at + 2],
                  reply[at + 3]);
    return text;
}

}  // namespace

SearchDatagram buildSearchRequest(const Ipv4Octets& ownAddress) {
    SearchDatagram request{};
    std::memcpy(request.data(), kRequestText, sizeof kRequestText - 1);
    request[kRequestVersionAt] = 1;
    std::copy(ownAddress.begin(), ownAddress.end(), request.begin() + kOwnAddressAt);
    std::copy(std::begin(kRequestTrailer), std::end(kRequestTrailer),
              request.begin() + kRequestTrailerAt);
    return request;
}

std::string_view searchTypeName(uint8_t typeCode) {
    switch (typeCode) {
        case 1: return "MPEG4 Video Server";
        case 50: return "Video Server";
        case 64: return "CMOS JPEG Video Server";
        case 68:
        case 69:
        case 70: return "IP Camera";
        case 74: return "Wireless JPEG Video Server";
        case 83: return "4CH MPEG4 DVR";
        case 85: return "8CH MPEG4 DVR";
        case 87: return "16CH MPEG4 DVR";
        case 113:
        case 114:
        case 115: return "4CH NETWORK DVR";
        case 118: return "9CH NETWORK DMR";
        case 119: return "16CH NETWORK DMR";
        case 128:
        case 132:
        case 138: return "4CH NETWORK MPEG2 DVR";
        default: return "JPEG Video Server";
    }
}

bool isKnownSearchType(uint8_t typeCode) {
    return typeCode == kUnknownTypeCode || searchTypeName(typeCode) != searchTypeName(0);
}

SearchRow parseSearchReply(std::span<const uint8_t> datagram) {
    SearchDatagram reply{};
    std::copy_n(datagram.begin(), std::min(datagram.size(), reply.size()), reply.begin());

    SearchRow row;
    row.address = addressText(reply, kDeviceAddressAt);
    row.port = static_cast<uint16_t>(reply[kPortAt] | reply[kPortAt + 1] << 8);
    const uint8_t code = reply[kTypeCodeAt];
    row.typeCode = isKnownSearchType(code) ? code : kUnknownTypeCode;
    row.typeName = searchTypeName(code);
    char mac[18];
    std::snprintf(mac, sizeof mac, "%.2x:%.2x:%.2x:%.2x:%.2x:%.2x", reply[kMacAt],
                  reply[kMacAt + 1], reply[kMacAt + 2], reply[kMacAt + 3], reply[kMacAt + 4],
                  reply[kMacAt + 5]);
    row.mac = mac;
    for (size_t i = 0; i < 3; ++i)
        row.furtherAddresses[i] = addressText(reply, kFurtherAddressesAt[i]);
    return row;
}

}  // namespace tess
