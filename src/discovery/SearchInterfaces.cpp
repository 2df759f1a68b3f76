#include "discovery/SearchInterfaces.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <cstring>

namespace tess {
namespace {

bool suitableForBroadcast(const InterfaceAddress& interface) {
    const unsigned flags = interface.flags;
    return (flags & IFF_UP) && (flags & IFF_BROADCAST) && !(flags & IFF_LOOPBACK) &&
           !(flags & IFF_POINTOPOINT);
}

SearchTarget targetFor(const InterfaceAddress& interface) {
    SearchTarget target;
    target.interfaceName = interface.name;
    target.interfaceIndex = interface.index;
    target.source = interface.address;
    target.destination.s_addr = (interface.flags & IFF_BROADCAST)
                                    ? htonl(INADDR_BROADCAST)
                                    : (interface.address.s_addr | ~interface.netmask.s_addr);
    return target;
}

std::vector<std::string_view> splitNames(std::string_view named) {
    std::vector<std::string_view> names;
    while (!named.empty()) {
        const size_t comma = named.find(',');
        std::string_view name = named.substr(0, comma);
        while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
        if (!name.empty()) names.push_back(name);
        if (comma == std::string_view::npos) break;
        named.remove_prefix(comma + 1);
    }
    return names;
}

}  // namespace

Ipv4Octets SearchTarget::ownAddress() const {
    Ipv4Octets octets;
    std::memcpy(octets.data(), &source.s_addr, 4);
    return octets;
}

std::vector<SearchTarget> chooseSearchTargets(const std::vector<InterfaceAddress>& interfaces,
                                              std::string_view named) {
    std::vector<SearchTarget> targets;
    const auto alreadyTargeted = [&](const InterfaceAddress& interface) {
        return std::any_of(targets.begin(), targets.end(), [&](const SearchTarget& target) {
            return target.interfaceIndex == interface.index;
        });
    };
    if (named.empty()) {
        for (const InterfaceAddress& interface : interfaces)
            if (suitableForBroadcast(interface) && !alreadyTargeted(interface))
                targets.push_back(targetFor(interface));
        return targets;
    }
    for (const std::string_view name : splitNames(named)) {
        const auto found =
            std::find_if(interfaces.begin(), interfaces.end(),
                         [&](const InterfaceAddress& interface) { return interface.name == name; });
        if (found != interfaces.end() && !alreadyTargeted(*found))
            targets.push_back(targetFor(*found));
    }
    return targets;
}

std::vector<InterfaceAddress> systemInterfaceAddresses() {
    std::vector<InterfaceAddress> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (const ifaddrs* item = list; item; item = item->ifa_next) {
        if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET || !item->ifa_name) continue;
        InterfaceAddress interface;
        interface.name = item->ifa_name;
        interface.index = ::if_nametoindex(item->ifa_name);
        interface.flags = item->ifa_flags;
        interface.address = reinterpret_cast<const sockaddr_in*>(item->ifa_addr)->sin_addr;
        if (item->ifa_netmask)
            interface.netmask = reinterpret_cast<const sockaddr_in*>(item->ifa_netmask)->sin_addr;
        if (interface.index != 0) found.push_back(interface);
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace tess
