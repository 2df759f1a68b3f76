#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "DeviceServer.h"
#include "LoopbackPorts.h"
#include "platform/TickCount.h"
#include "protocol/CgiExchange.h"
#include "protocol/ControlMessage.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

using devsim::Connection;
using devsim::DeviceServer;
using devsim::EventLog;
using devsim::Request;

// A device whose every answer is `reply` (empty: it never answers).
class CgiExchangeTest : public ::testing::Test {
protected:
    static constexpr int kLimitMs = 300;  // how long a reply is awaited
    void SetUp() override {
        ASSERT_TRUE(server_.start());
        port_ = server_.port();
    }
    RequestResult exchange(std::string_view request) {
        return cgiExchange(link_, u"127.0.0.1", port_, request, sessionReply_, kLimitMs);
    }
    RequestResult command(uint32_t port, std::string_view head, std::string_view body,
                          CommandReply& reply) {
        return sendCgiRequest(link_, u"127.0.0.1", port, head, body, reply, kLimitMs);
    }
    void answer(std::string reply) {
        std::lock_guard lock(replyMutex_);
        reply_ = std::move(reply);
    }
    std::string reply() {
        std::lock_guard lock(replyMutex_);
        return reply_;
    }

    EventLog log_;
    std::mutex replyMutex_;
    std::string reply_ = "HTTP/1.1 200 OK\r\n\r\n";
    DeviceServer server_{[this](const Request&, Connection& connection) {
                             const std::string text = reply();
                             if (text.empty()) connection.holdOpen();
                             connection.send(text);
                         },
                         log_};
    uint32_t port_ = 0;
    SocketLink link_;
    SessionReply sessionReply_;
};

using Messages = std::vector<std::string>;

TEST_F(CgiExchangeTest, OkReplyIsReadAndTheRequestArrivesByteForByte) {
    answer("HTTP/1.1 200 OK\r\nSession-ID=x;\r\n");
    const std::string request = request::streamShort("S", "127.0.0.1");
    EXPECT_EQ(exchange(request), RequestResult::Ok);
    EXPECT_EQ(sessionReply_.text(), "HTTP/1.1 200 OK\r\nSession-ID=x;\r\n");
    EXPECT_EQ(log_.requests(), Messages{request});
    EXPECT_FALSE(link_.isOpen());
}

TEST_F(CgiExchangeTest, StatusWordsAreClassifiedInTheirOrder) {
    struct Case {
        std::string reply;
        RequestResult result;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\n202 ERROR\r\n", RequestResult::TooManyUsers},
        {"200 OK 201 ERR", RequestResult::TooManyLogins},
        {"202 ERROR 201 ERR", RequestResult::TooManyUsers},
        {"HTTP/1.1 404 Not Found\r\n", RequestResult::NotSupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        answer(c.reply);
        EXPECT_EQ(exchange(request::streamShort("S", "h")), c.result);
        EXPECT_TRUE(isRefusal(c.result));
    }
}

TEST_F(CgiExchangeTest, RefusedConnectionIsANetworkFailure) {
    port_ = testing::closedLoopbackPort();
    EXPECT_EQ(exchange(request::streamShort("S", "h")), RequestResult::NetworkFailed);
    EXPECT_FALSE(isRefusal(RequestResult::NetworkFailed));
}

TEST_F(CgiExchangeTest, DeviceThatNeverAnswersIsUnsupportedAfterTheReplyLimit) {
    answer("");
    const uint32_t start = tickCount();
    EXPECT_EQ(exchange(request::streamShort("S", "h")), RequestResult::NotSupported);
    EXPECT_GE(ticksSince(start), kLimitMs - 5u);
    EXPECT_LT(ticksSince(start), kLimitMs + 1000u);
}

TEST_F(CgiExchangeTest, UnansweredConnectGivesUpWithinItsLimit) {
    // Accepted by the kernel's backlog but never served: connect succeeds, the
    // reply never comes.
    testing::SilentListener listener;
    port_ = listener.port();
    const uint32_t start = tickCount();
    EXPECT_NE(exchange(request::streamShort("S", "h")), RequestResult::Ok);
    EXPECT_LT(ticksSince(start), kLimitMs + 1000u);
}

// A pane that stops cancels its links: an exchange in its wait for the reply
// ends at once, and the link refuses to open until the cancel is cleared.
TEST_F(CgiExchangeTest, CancelledLinkEndsTheExchangeAtOnce) {
    answer("");
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        link_.cancel();
    });
    const uint32_t start = tickCount();
    EXPECT_EQ(exchange(request::streamShort("S", "h")), RequestResult::NotSupported);
    EXPECT_LT(ticksSince(start), 2000u);
    canceller.join();
    answer("HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(exchange(request::streamShort("S", "h")), RequestResult::NetworkFailed);
    link_.clearCancel();
    EXPECT_EQ(exchange(request::streamShort("S", "h")), RequestResult::Ok);
}

TEST_F(CgiExchangeTest, OverlongRequestIsRefusedBeforeSending) {
    const std::u16string longName(300, u'x');
    const std::string request = request::login(longName, longName, "h");
    EXPECT_EQ(exchange(request), RequestResult::RequestTooLong);
    CommandReply reply;
    EXPECT_EQ(command(port_, request, {}, reply), RequestResult::RequestTooLong);
    EXPECT_TRUE(log_.requests().empty());
}

TEST_F(CgiExchangeTest, CommandGoesToItsPortWithItsBinaryBody) {
    const std::string head = request::commandHead("/RS485Cmd.cgi?Command=x", 4, "h");
    const std::string body("\x01\x00\x01\x32", 4);
    CommandReply reply;
    EXPECT_EQ(command(port_, head, body, reply), RequestResult::Ok);
    EXPECT_EQ(log_.requests(), Messages{head + body});

    answer("HTTP/1.1 500 Busy\r\n");
    EXPECT_EQ(command(port_, head, body, reply), RequestResult::ReplyError);
    EXPECT_EQ(command(testing::closedLoopbackPort(), head, body, reply),
              RequestResult::NetworkFailed);
}

TEST_F(CgiExchangeTest, CommandToASilentDeviceFailsAfterTheReplyLimit) {
    answer("");
    CommandReply reply;
    const uint32_t start = tickCount();
    EXPECT_EQ(command(port_, request::commandHead("/x", 0, "h"), {}, reply),
              RequestResult::ReplyError);
    EXPECT_GE(ticksSince(start), kLimitMs - 5u);
    EXPECT_LT(ticksSince(start), kLimitMs + 1000u);
}

TEST_F(CgiExchangeTest, ControlDatagramsReachTheDevicePortAndRestartTheStatistics) {
    const std::string id = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
    SocketLink datagramLink;
    datagramLink.setPeer(u"127.0.0.1", port_);
    ASSERT_TRUE(datagramLink.open(SocketType::Datagram));
    StreamStatistics statistics;
    statistics.statsStart = tickCount() - 2000;
    statistics.byteCount = 500000;  // 2000 kbit/s over 2 s
    statistics.frameCount = 50;     // 25 frames/s
    sendStatistics(datagramLink, id, "127.0.0.1", statistics);
    EXPECT_EQ(statistics.byteCount, 0u);
    EXPECT_EQ(statistics.frameCount, 0u);
    EXPECT_LT(ticksSince(statistics.statsStart), 100u);
    sendConnectionClose(datagramLink, id, "127.0.0.1", statistics);

    ASSERT_TRUE(log_.waitUntil([](const auto& events) { return events.size() == 2; },
                               std::chrono::seconds(2)));
    const Messages datagrams = log_.datagrams();
    const std::string statsPrefix = "\r\n\r\nSession: " + id + "\r\nBitRate: ";
    const size_t bitRateAt = datagrams[0].find(statsPrefix);
    ASSERT_NE(bitRateAt, std::string::npos);
    // 2 s measured by the tick counter may read a few ms more: rates truncate.
    const int bitRate = std::stoi(datagrams[0].substr(bitRateAt + statsPrefix.size()));
    EXPECT_GE(bitRate, 1980);
    EXPECT_LE(bitRate, 2000);
    EXPECT_TRUE(datagrams[0].ends_with("\r\nFrameRate: 25\r\n") ||
                datagrams[0].ends_with("\r\nFrameRate: 24\r\n"));
    EXPECT_EQ(datagrams[1], request::controlClose(id, "127.0.0.1"));
}

}  // namespace
}  // namespace tess
