#pragma once

#include <netinet/in.h>

#include <string>
#include <string_view>
#include <vector>

#include "discovery/SearchDatagrams.h"

namespace tess {

// One IPv4 address of a network interface, as the system lists it. Addresses
// in network order.
struct InterfaceAddress {
    std::string name;
    unsigned index = 0;
    unsigned flags = 0;  // IFF_UP, IFF_BROADCAST, IFF_LOOPBACK, IFF_POINTOPOINT ...
    in_addr address{};
    in_addr netmask{};
};

// Where one copy of the search request goes: out of one interface, with that
// interface's own address in the request and as the sender.
struct SearchTarget {
    std::string interfaceName;
    unsigned interfaceIndex = 0;
    in_addr source{};
    // 255.255.255.255 on a broadcast interface; on one without broadcast
    // (loopback) the subnet's broadcast address, 127.255.255.255 on lo.
    in_addr destination{};

    Ipv4Octets ownAddress() const;
};

// The interfaces a search goes out on, one copy each (the first IPv4 address
// of an interface stands for it).
//  - `named` empty: every interface that is up, broadcast-capable, neither
//    loopback nor point-to-point. A plain broadcast would leave only by the
//    default route's interface, and not at all without a default route.
//  - `named` a comma-separated list of interface names: exactly those, in
//    that order, whatever their flags, so that a test or the demo can keep
//    the search on loopback ("lo"). A name with no IPv4 address is skipped.
std::vector<SearchTarget> chooseSearchTargets(const std::vector<InterfaceAddress>& interfaces,
                                              std::string_view named);

// Every IPv4 address of every interface of this host, from the system.
std::vector<InterfaceAddress> systemInterfaceAddresses();

}  // namespace tess
