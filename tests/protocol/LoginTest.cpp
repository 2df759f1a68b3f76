#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedDevice.h"
#include "platform/MessageSink.h"
#include "protocol/Login.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

using Messages = std::vector<std::string>;

std::string text(const std::array<char, 31>& field) { return field.data(); }
std::string text(const std::array<char, 5>& field) { return field.data(); }

constexpr char kId[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // 30 characters

TEST(LoginReplyTest, TakesExactlyThirtyAndFourBytesAfterTheFirstKeys) {
    const LoginIdentity full = parseLoginReply(std::string("HTTP/1.1 200 OK\r\nSession-ID=") +
                                               kId + "\r\nProduct-ID=Q7KD\r\nProduct-ID=R3PT\r\n");
    EXPECT_TRUE(full.complete());
    EXPECT_EQ(text(full.sessionId), kId);  // no line end
    EXPECT_EQ(text(full.productId), "Q7KD");

    // A short identifier takes the reply bytes behind it as its own.
    const LoginIdentity shortId = parseLoginReply("Session-ID=abc;\r\nProduct-ID=Q8LA;\r\nX");
    EXPECT_EQ(text(shortId.sessionId), "abc;\r\nProduct-ID=Q8LA;\r\nX");
    EXPECT_EQ(text(shortId.productId), "Q8LA");
}

TEST(LoginReplyTest, NeverReadsPastTheReply) {
    const LoginIdentity cut = parseLoginReply("Product-ID=R5Session-ID=12345");
    EXPECT_TRUE(cut.complete());
    EXPECT_EQ(text(cut.sessionId), "12345");
    EXPECT_EQ(text(cut.productId), "R5Se");

    // The reply is text up to its first zero byte.
    const std::string withZero("Product-ID=Q7\0KDSession-ID=1", 28);
    const LoginIdentity zero = parseLoginReply(withZero);
    EXPECT_EQ(text(zero.productId), "Q7");
    EXPECT_FALSE(zero.hasSessionId);

    const LoginIdentity atEnd = parseLoginReply("Product-ID=");
    EXPECT_TRUE(atEnd.hasProductId);
    EXPECT_EQ(text(atEnd.productId), "");
    EXPECT_FALSE(parseLoginReply("HTTP/1.1 200 OK\r\n").hasProductId);
}

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.started());
        device_.pane.session.userName = u"admin";
        device_.pane.session.password = u"p&ss w";
    }
    testing::ScriptedDevice device_;
    RecordingMessageSink messages_;
    ScopedMessageSink scope_{messages_};
};

TEST_F(LoginTest, SuccessStoresBothIdentifiersFromTheLoginRequest) {
    device_.answer(std::string("HTTP/1.1 200 OK\r\nSession-ID=") + kId +
                   "\r\nProduct-ID=XY12\r\n\r\n");
    ASSERT_TRUE(login(device_.pane));
    EXPECT_EQ(device_.log.requests(),
              Messages{request::login(u"admin", u"p&ss w", "127.0.0.1")});
    EXPECT_EQ(device_.pane.session.sessionIdText(), kId);
    // An unknown model code is kept as it came; the negotiation decides.
    EXPECT_EQ(device_.pane.session.productIdText(), "XY12");
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(LoginTest, FailedRepliesShowTheirMessageAndKeepTheOldIdentifiers) {
    struct Case {
        std::string reply;
        std::string message;
    };
    const Case cases[] = {
        {"HTTP/1.1 202 ERROR\r\n", "There are too many users"},
        {"HTTP/1.1 201 ERR\r\n", "Too many users login"},
        {"HTTP/1.1 500 Oops\r\n", "No support the device !!"},
        {"HTTP/1.1 200 OK\r\nProduct-ID=Q7KD\r\n", "No support the device !!"},
        {std::string("HTTP/1.1 200 OK\r\nSession-ID=") + kId, "No support the device !!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        SessionInfo& session = device_.pane.session;
        session.sessionId = {'o', 'l', 'd'};
        session.productId = {'Q', '8', 'L', 'A'};
        session.keepRetrying = true;
        device_.repaints.count = 0;
        messages_.clear();
        device_.answer(c.reply);

        EXPECT_FALSE(login(device_.pane));
        EXPECT_EQ(messages_.messages(), Messages{c.message});
        EXPECT_FALSE(session.keepRetrying);
        EXPECT_EQ(device_.repaints.count, 1);
        EXPECT_EQ(session.sessionIdText(), "old");
        EXPECT_EQ(session.productIdText(), "Q8LA");
    }
}

}  // namespace
}  // namespace tess
