#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>

#include <vector>

#include "discovery/SearchDatagrams.h"
#include "discovery/SearchInterfaces.h"

namespace tess {
namespace {

std::vector<uint8_t> bytes(std::initializer_list<std::pair<size_t, std::vector<uint8_t>>> at,
                           size_t size = kSearchDatagramSize) {
    std::vector<uint8_t> out(size, 0);
    for (const auto& [offset, value] : at)
        for (size_t i = 0; i < value.size(); ++i) out[offset + i] = value[i];
    return out;
}

TEST(SearchRequest, EveryByte) {
    const SearchDatagram request = buildSearchRequest({192, 168, 0, 17});
    const std::vector<uint8_t> expected = bytes({{0, {'Q', 'Z', '_', 'S', 'E', 'A', 'R', 'C', 'H'}},
                                                 {16, {0x01, 0x00}},
                                                 {56, {192, 168, 0, 17}},
                                                 {72, {0x05, 0x0D, 0x00, 0x00}}});
    EXPECT_EQ(std::vector<uint8_t>(request.begin(), request.end()), expected);
}

TEST(SearchReply, FieldsOfAWholeReply) {
    const auto reply = bytes({{17, {87}},
                              {18, {0x00, 0x1A, 0xBC, 0xDE, 0xF0, 0x0F}},
                              {56, {192, 168, 0, 5}},
                              {60, {10, 0, 0, 60}},
                              {64, {10, 0, 0, 64}},
                              {68, {10, 0, 0, 68}},
                              // bytes 74 and 75 are no part of the port
                              {72, {0x50, 0x00, 0x12, 0x34}}});
    const SearchRow row = parseSearchReply(reply);
    EXPECT_EQ(row.address, "192.168.0.5");
    EXPECT_EQ(row.port, 80);
    EXPECT_EQ(row.typeCode, 87);
    EXPECT_EQ(row.typeName, "16CH MPEG4 DVR");
    EXPECT_EQ(row.mac, "00:1a:bc:de:f0:0f");
    EXPECT_EQ(row.furtherAddresses,
              (std::array<std::string, 3>{"10.0.0.64", "10.0.0.68", "10.0.0.60"}));
    EXPECT_TRUE(row.opensDevice());
    EXPECT_EQ(parseSearchReply(bytes({{72, {0xFF, 0xFF}}})).port, 65535);
}

TEST(SearchReply, TypeNamesAndUnknownCodes) {
    const auto typed = [](uint8_t code) { return parseSearchReply(bytes({{17, {code}}})); };
    EXPECT_EQ(typed(200).typeName, "JPEG Video Server");
    EXPECT_EQ(typed(200).typeCode, 50);
    EXPECT_EQ(typed(86).typeName, "JPEG Video Server");
    EXPECT_EQ(typed(86).typeCode, 50);
    EXPECT_EQ(typed(0).typeCode, 50);
    EXPECT_EQ(typed(50).typeName, "Video Server");
    EXPECT_EQ(typed(69).typeName, "IP Camera");
    EXPECT_EQ(typed(138).typeName, "4CH NETWORK MPEG2 DVR");
    EXPECT_EQ(typed(138).typeCode, 138);
}

// Anyone may send anything to the reply port: short datagrams read as zeros
// past their end, long ones as their first 76 bytes.
TEST(SearchReply, DatagramsOfAnySize) {
    const SearchRow empty = parseSearchReply({});
    EXPECT_EQ(empty.address, "0.0.0.0");
    EXPECT_EQ(empty.port, 0);
    EXPECT_EQ(empty.typeCode, 50);
    EXPECT_EQ(empty.mac, "00:00:00:00:00:00");
    EXPECT_FALSE(empty.opensDevice());

    auto whole = bytes({{17, {68}}, {18, {1, 2, 3, 4, 5, 6}}, {56, {10, 1, 2, 3}}, {72, {0x1F}}});
    const SearchRow cut = parseSearchReply(std::span(whole).first(20));
    EXPECT_EQ(cut.typeCode, 68);
    EXPECT_EQ(cut.mac, "01:02:00:00:00:00");
    EXPECT_EQ(cut.address, "0.0.0.0");

    std::vector<uint8_t> longer = whole;
    longer.resize(100, 0xEE);
    EXPECT_EQ(parseSearchReply(longer), parseSearchReply(whole));
    EXPECT_EQ(parseSearchReply(longer).port, 0x1F);
}

InterfaceAddress interface(const char* name, unsigned index, unsigned flags, const char* address,
                           const char* netmask = "255.255.255.0") {
    InterfaceAddress found;
    found.name = name;
    found.index = index;
    found.flags = flags;
    inet_pton(AF_INET, address, &found.address);
    inet_pton(AF_INET, netmask, &found.netmask);
    return found;
}

std::string text(in_addr address) {
    char out[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &address, out, sizeof out);
}

const std::vector<InterfaceAddress> kHost = {
    interface("lo", 1, IFF_UP | IFF_LOOPBACK | IFF_RUNNING, "127.0.0.1", "255.0.0.0"),
    interface("eth0", 2, IFF_UP | IFF_BROADCAST | IFF_RUNNING, "192.168.1.20"),
    // a second address of eth0: one copy per interface
    interface("eth0", 2, IFF_UP | IFF_BROADCAST | IFF_RUNNING, "192.168.7.20"),
    interface("tun0", 3, IFF_UP | IFF_POINTOPOINT | IFF_RUNNING, "10.8.0.2"),
    interface("eth1", 4, IFF_BROADCAST, "172.16.0.9"),  // down
    interface("wlan0", 5, IFF_UP | IFF_BROADCAST | IFF_RUNNING, "10.44.0.7", "255.255.0.0"),
};

TEST(SearchInterfaces, EveryUpBroadcastInterfaceButLoopbackAndPointToPoint) {
    const std::vector<SearchTarget> targets = chooseSearchTargets(kHost, "");
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].interfaceName, "eth0");
    EXPECT_EQ(targets[0].interfaceIndex, 2u);
    EXPECT_EQ(text(targets[0].source), "192.168.1.20");
    EXPECT_EQ(targets[0].ownAddress(), (Ipv4Octets{192, 168, 1, 20}));
    EXPECT_EQ(text(targets[0].destination), "255.255.255.255");
    EXPECT_EQ(targets[1].interfaceName, "wlan0");
    EXPECT_EQ(text(targets[1].source), "10.44.0.7");
}

TEST(SearchInterfaces, NamedInterfacesOnlyInTheirOrder) {
    const std::vector<SearchTarget> loopback = chooseSearchTargets(kHost, "lo");
    ASSERT_EQ(loopback.size(), 1u);
    EXPECT_EQ(text(loopback[0].source), "127.0.0.1");
    // Loopback has no broadcast flag: its subnet's broadcast address.
    EXPECT_EQ(text(loopback[0].destination), "127.255.255.255");

    const std::vector<SearchTarget> named = chooseSearchTargets(kHost, " wlan0, nothere,eth1,lo");
    ASSERT_EQ(named.size(), 3u);
    EXPECT_EQ(named[0].interfaceName, "wlan0");
    EXPECT_EQ(named[1].interfaceName, "eth1");  // named: taken even while down
    EXPECT_EQ(named[2].interfaceName, "lo");
    EXPECT_TRUE(chooseSearchTargets(kHost, "nothere").empty());
    EXPECT_TRUE(chooseSearchTargets({}, "").empty());
}

}  // namespace
}  // namespace tess
