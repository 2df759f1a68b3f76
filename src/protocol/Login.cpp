#include "protocol/Login.h"

#include "protocol/Requests.h"

namespace tess {
namespace {

constexpr std::string_view kSessionKey = "Session-ID=";
constexpr std::string_view kProductKey = "Product-ID=";

// Copies up to N - 1 bytes after the first `key` into `field` (zero filled).
template <size_t N>
bool copyAfterKey(std::string_view reply, std::string_view key, std::array<char, N>& field) {
    field.fill(0);
    const size_t at = reply.find(key);
    if (at == std::string_view::npos) return false;
    reply.substr(at + key.size()).copy(field.data(), N - 1);
    return true;
}

}  // namespace

LoginIdentity parseLoginReply(std::string_view reply) {
    reply = request::untilZero(reply);
    LoginIdentity identity;
    identity.hasSessionId = copyAfterKey(reply, kSessionKey, identity.sessionId);
    identity.hasProductId = copyAfterKey(reply, kProductKey, identity.productId);
    return identity;
}

RequestResult login(SocketLink& link, const LoginData& login, std::string_view localAddress,
                    LoginIdentity& identity, int replyTimeoutMs) {
    const std::string request = request::login(login.userName, login.password, localAddress);
    SessionReply reply;
    const RequestResult result =
        cgiExchange(link, login.host, login.devicePort, request, reply, replyTimeoutMs);
    if (result != RequestResult::Ok) return result;
    identity = parseLoginReply(reply.text());
    return identity.complete() ? RequestResult::Ok : RequestResult::NotSupported;
}

}  // namespace tess
