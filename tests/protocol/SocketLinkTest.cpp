#include <gtest/gtest.h>

#include "DeviceServer.h"
#include "LoopbackPorts.h"
#include "platform/TickCount.h"
#include "protocol/SocketLink.h"

namespace tess {
namespace {

using devsim::Connection;
using devsim::DeviceServer;
using devsim::EventLog;
using devsim::Request;

TEST(SocketLink, RefusedConnectionIsKnownAtOnce) {
    SocketLink link;
    ASSERT_TRUE(link.open(SocketType::Stream));
    link.setPeer(u"127.0.0.1", testing::closedLoopbackPort());
    const uint32_t start = tickCount();
    link.connect();
    EXPECT_FALSE(link.connected());
    EXPECT_LT(ticksSince(start), 1000u);
}

TEST(SocketLink, HostNamesAndUnopenedLinksNeverConnect) {
    SocketLink named;
    named.open(SocketType::Stream);
    named.setPeer(u"localhost", 80);
    named.connect();
    EXPECT_FALSE(named.connected());

    SocketLink unopened;
    unopened.setPeer(u"127.0.0.1", 80);
    unopened.connect();
    EXPECT_FALSE(unopened.connected());
    char byte;
    EXPECT_EQ(unopened.receive(&byte, 1, 1), -1);
    EXPECT_EQ(unopened.send("x", 1), -1);
    unopened.close();
    unopened.close();
    EXPECT_FALSE(unopened.isOpen());
}

TEST(SocketLink, ReceiveGivesMinusOneOnTimeOutAndOnAClosedPeer) {
    EventLog log;
    DeviceServer server(
        [](const Request& request, Connection& connection) {
            if (request.path() == "/close") {
                connection.send("bye");
                connection.close();
            } else {
                connection.holdOpen();
            }
        },
        log);
    ASSERT_TRUE(server.start());

    SocketLink link;
    link.open(SocketType::Stream);
    link.setPeer(u"127.0.0.1", server.port());
    link.connect();
    ASSERT_TRUE(link.connected());
    const std::string silent = "GET /silent HTTP/1.1\r\n\r\n";
    EXPECT_EQ(link.send(silent.data(), silent.size()), static_cast<int>(silent.size()));
    char buffer[16] = {};
    const uint32_t start = tickCount();
    EXPECT_EQ(link.receive(buffer, sizeof buffer, 200), -1);
    EXPECT_GE(ticksSince(start), 195u);
    link.close();
    EXPECT_FALSE(link.connected());

    link.open(SocketType::Stream);
    link.connect();
    ASSERT_TRUE(link.connected());
    const std::string closing = "GET /close HTTP/1.1\r\n\r\n";
    link.send(closing.data(), closing.size());
    EXPECT_EQ(link.receive(buffer, sizeof buffer, 5000), 3);
    EXPECT_EQ(link.receive(buffer, sizeof buffer, 5000), -1);
    link.close();
}

}  // namespace
}  // namespace tess
