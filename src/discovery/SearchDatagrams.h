#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tess {

// The two 76-byte datagrams of a LAN search. Integers are little-endian;
// addresses are IPv4, first octet first.
//
// SearchRequest (viewer -> UDP 7777, broadcast), every byte not shown 0:
//    0            13      16      18        56         60        72            76
//   | "QZ_SEARCH" | 0 0 0 | 01 00 | 0 ...   | own IPv4 | 0 ...   | 05 0D 00 00 |
//
// SearchReply (device -> UDP 3332), the bytes read:
//   17 type code | 18..23 MAC | 56 device IPv4 | 60, 64, 68 further IPv4 |
//   72 CGI port (u16; 74..75 are not part of it)
inline constexpr size_t kSearchDatagramSize = 76;
using SearchDatagram = std::array<uint8_t, kSearchDatagramSize>;
using Ipv4Octets = std::array<uint8_t, 4>;

SearchDatagram buildSearchRequest(const Ipv4Octets& ownAddress);

// The type code kept for a code the table does not know, and its name.
inline constexpr uint8_t kUnknownTypeCode = 50;
// The name shown for a device type code; "JPEG Video Server" for any code
// the table does not list (50 among them).
std::string_view searchTypeName(uint8_t typeCode);
// True when the table lists `typeCode` by a name of its own.
bool isKnownSearchType(uint8_t typeCode);

// One device that answered, as a row of the search window lists it.
struct SearchRow {
    std::string address;  // "%d.%d.%d.%d" of reply bytes 56..59
    uint16_t port = 0;
    uint8_t typeCode = kUnknownTypeCode;  // 50 for a code the table does not know
    // The name of the code the device sent: "JPEG Video Server" for an unknown
    // one, although its kept code 50 is named "Video Server".
    std::string_view typeName = searchTypeName(0);
    std::string mac;  // "%.2x:%.2x:...", lower case, 17 characters
    // From reply offsets 64, 68 and 60, in that order; kept, not shown.
    std::array<std::string, 3> furtherAddresses;

    // A row for 0.0.0.0 names no device that could be opened.
    bool opensDevice() const { return address != "0.0.0.0"; }
    bool operator==(const SearchRow&) const = default;
};

// Any datagram from anyone is a reply: a short one reads as zeros past its
// end, a longer one is read as its first 76 bytes.
SearchRow parseSearchReply(std::span<const uint8_t> datagram);

}  // namespace tess
