#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedDevice.h"
#include "protocol/Login.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

using Messages = std::vector<std::string>;

std::string text(const std::array<char, 31>& field) {
    return field.data();
}
std::string text(const std::array<char, 5>& field) {
    return field.data();
}

constexpr char kId[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // 30 characters

TEST(LoginReplyTest, TakesExactlyThirtyAndFourBytesAfterTheFirstKeys) {
    const LoginIdentity full = parseLoginReply(std::string("HTTP/1.1 200 OK\r\nSession-ID=") + kId +
                                               "\r\nProduct-ID=Q7KD\r\nProduct-ID=R3PT\r\n");
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
        device_.login.userName = u"admin";
        device_.login.password = u"p&ss w";
    }
    RequestResult logIn(LoginIdentity& identity) {
        return login(device_.link, device_.login, testing::ScriptedDevice::kLocalAddress, identity);
    }
    testing::ScriptedDevice device_;
};

TEST_F(LoginTest, SuccessGivesBothIdentifiersFromTheLoginRequest) {
    device_.answer(std::string("HTTP/1.1 200 OK\r\nSession-ID=") + kId +
                   "\r\nProduct-ID=XY12\r\n\r\n");
    LoginIdentity identity;
    ASSERT_EQ(logIn(identity), RequestResult::Ok);
    EXPECT_EQ(device_.log.requests(), Messages{request::login(u"admin", u"p&ss w", "127.0.0.1")});
    EXPECT_EQ(text(identity.sessionId), kId);
    // An unknown model code is kept as it came; the negotiation decides.
    EXPECT_EQ(text(identity.productId), "XY12");
}

TEST_F(LoginTest, FailedRepliesAreNamedByWhatTheDeviceAnswered) {
    struct Case {
        std::string reply;
        RequestResult result;
    };
    const Case cases[] = {
        {"HTTP/1.1 202 ERROR\r\n", RequestResult::TooManyUsers},
        {"HTTP/1.1 201 ERR\r\n", RequestResult::TooManyLogins},
        {"HTTP/1.1 500 Oops\r\n", RequestResult::NotSupported},
        // "200 OK" without one of the identifiers is no login either.
        {"HTTP/1.1 200 OK\r\nProduct-ID=Q7KD\r\n", RequestResult::NotSupported},
        {std::string("HTTP/1.1 200 OK\r\nSession-ID=") + kId, RequestResult::NotSupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        device_.answer(c.reply);
        LoginIdentity identity;
        EXPECT_EQ(logIn(identity), c.result);
        EXPECT_TRUE(isRefusal(c.result));
    }
}

}  // namespace
}  // namespace tess
