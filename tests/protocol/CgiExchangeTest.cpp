#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "DeviceServer.h"
#include "LoopbackPorts.h"
#include "platform/MessageSink.h"
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

class RepaintCounter : public RepaintTarget {
public:
    void requestRepaint() override { ++count; }
    std::atomic<int> count{0};
};

// A device whose every answer is `reply` (empty: it never answers).
class CgiExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start());
        pane_.window = &repaints_;
        pane_.session.host = u"127.0.0.1";
        pane_.session.devicePort = server_.port();
        pane_.session.streamPort = server_.port();
        pane_.session.localAddress = "127.0.0.1";
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
    RecordingMessageSink messages_;
    ScopedMessageSink scope_{messages_};
    RepaintCounter repaints_;
    PaneConnection pane_;
    SessionReply sessionReply_;
};

using Messages = std::vector<std::string>;

TEST_F(CgiExchangeTest, OkReplyIsReadAndTheRequestArrivesByteForByte) {
    answer("HTTP/1.1 200 OK\r\nSession-ID=x;\r\n");
    const std::string request = request::streamShort("S", "127.0.0.1");
    EXPECT_TRUE(cgiExchange(pane_, request, sessionReply_));
    EXPECT_EQ(sessionReply_.text(), "HTTP/1.1 200 OK\r\nSession-ID=x;\r\n");
    EXPECT_TRUE(messages_.messages().empty());
    EXPECT_EQ(log_.requests(), Messages{request});
    EXPECT_FALSE(pane_.controlLink.isOpen());
    EXPECT_EQ(repaints_.count, 0);
}

TEST_F(CgiExchangeTest, StatusWordsAreClassifiedInTheirOrder) {
    struct Case {
        std::string reply;
        std::string message;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\n202 ERROR\r\n", "There are too many users"},
        {"200 OK 201 ERR", "Too many users login"},
        {"202 ERROR 201 ERR", "There are too many users"},
        {"HTTP/1.1 404 Not Found\r\n", "No support the device !!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        answer(c.reply);
        messages_.clear();
        repaints_.count = 0;
        pane_.session.keepRetrying = true;
        EXPECT_FALSE(cgiExchange(pane_, request::streamShort("S", "h"), sessionReply_));
        EXPECT_EQ(messages_.messages(), Messages{c.message});
        EXPECT_FALSE(pane_.session.keepRetrying);
        EXPECT_EQ(repaints_.count, 1);
    }
}

TEST_F(CgiExchangeTest, RefusedConnectionIsANetworkFailureUnlessRetrying) {
    pane_.session.streamPort = testing::closedLoopbackPort();
    EXPECT_FALSE(cgiExchange(pane_, request::streamShort("S", "h"), sessionReply_));
    EXPECT_EQ(messages_.messages(), Messages{"The network is failed !!"});

    messages_.clear();
    pane_.session.keepRetrying = true;
    EXPECT_FALSE(cgiExchange(pane_, request::streamShort("S", "h"), sessionReply_));
    EXPECT_TRUE(messages_.messages().empty());
    EXPECT_TRUE(pane_.session.keepRetrying);  // network failures keep the retry going
}

TEST_F(CgiExchangeTest, DeviceThatNeverAnswersIsUnsupportedAfterFiveSeconds) {
    answer("");
    const uint32_t start = tickCount();
    EXPECT_FALSE(cgiExchange(pane_, request::streamShort("S", "h"), sessionReply_));
    EXPECT_GE(ticksSince(start), 4900u);
    EXPECT_LT(ticksSince(start), 7000u);
    EXPECT_EQ(messages_.messages(), Messages{"No support the device !!"});
}

TEST_F(CgiExchangeTest, UnansweredConnectGivesUpWithinItsLimit) {
    // Accepted by the kernel's backlog but never served: connect succeeds, the
    // reply never comes.
    testing::SilentListener listener;
    pane_.session.streamPort = listener.port();
    const uint32_t start = tickCount();
    EXPECT_FALSE(cgiExchange(pane_, request::streamShort("S", "h"), sessionReply_));
    EXPECT_LT(ticksSince(start), 11000u);
}

TEST_F(CgiExchangeTest, OverlongRequestIsRefusedBeforeSending) {
    const std::u16string longName(300, u'x');
    const std::string request = request::login(longName, longName, "h");
    EXPECT_FALSE(cgiExchange(pane_, request, sessionReply_));
    EXPECT_EQ(messages_.messages().size(), 1u);
    EXPECT_TRUE(log_.requests().empty());
}

TEST_F(CgiExchangeTest, CommandGoesToTheDevicePortWithItsBinaryBody) {
    const std::string head = request::commandHead("/RS485Cmd.cgi?Command=x", 4, "h");
    const std::string body("\x01\x00\x01\x32", 4);
    CommandReply reply;
    RepaintCounter owner;
    pane_.session.streamPort = testing::closedLoopbackPort();  // not used by commands
    EXPECT_TRUE(sendCgiRequest(&owner, pane_, head, body, reply));
    EXPECT_EQ(log_.requests(), Messages{head + body});

    answer("HTTP/1.1 500 Busy\r\n");
    EXPECT_FALSE(sendCgiRequest(&owner, pane_, head, body, reply));
    EXPECT_EQ(messages_.messages(), Messages{"Get the message error!"});
    EXPECT_EQ(owner.count, 1);

    pane_.session.devicePort = testing::closedLoopbackPort();
    EXPECT_FALSE(sendCgiRequest(&owner, pane_, head, body, reply));
    EXPECT_EQ(messages_.messages().back(), "The network is failed !!");
    EXPECT_EQ(owner.count, 2);
}

TEST_F(CgiExchangeTest, CommandToASilentDeviceFailsAfterFiveSeconds) {
    answer("");
    CommandReply reply;
    const uint32_t start = tickCount();
    EXPECT_FALSE(sendCgiRequest(nullptr, pane_, request::commandHead("/x", 0, "h"), {}, reply));
    EXPECT_GE(ticksSince(start), 4900u);
    EXPECT_EQ(messages_.messages(), Messages{"Get the message error!"});
}

TEST_F(CgiExchangeTest, ControlDatagramsReachTheDevicePortAndRestartTheStatistics) {
    SessionInfo& session = pane_.session;
    const std::string id = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
    id.copy(session.sessionId.data(), 30);
    pane_.datagramLink.setPeer(session.host, session.devicePort);
    ASSERT_TRUE(pane_.datagramLink.open(SocketType::Datagram));
    session.statsStart = tickCount() - 2000;
    session.byteCount = 500000;  // 2000 kbit/s over 2 s
    session.frameCount = 50;     // 25 frames/s
    sendStatistics(pane_);
    EXPECT_EQ(session.byteCount, 0u);
    EXPECT_EQ(session.frameCount, 0u);
    EXPECT_LT(ticksSince(session.statsStart), 100u);
    sendConnectionClose(pane_);

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
