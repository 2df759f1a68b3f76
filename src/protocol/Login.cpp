#include "protocol/Login.h"

#include <algorithm>

#include "platform/MessageSink.h"
#include "protocol/CgiExchange.h"
#include "protocol/Requests.h"
#include "resources/StringTable.h"

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

bool login(PaneConnection& pane) {
    SessionInfo& session = pane.session;
    const std::string request =
        request::login(session.userName, session.password, session.localAddress);
    SessionReply reply;
    if (!cgiExchange(pane, request, reply)) return false;

    const LoginIdentity identity = parseLoginReply(reply.text());
    if (!identity.complete()) {
        session.keepRetrying = false;
        messageSink().show(text::noSupportDevice);
        pane.requestRepaint();
        return false;
    }
    session.sessionId = identity.sessionId;
    session.productId = identity.productId;
    return true;
}

}  // namespace tess
