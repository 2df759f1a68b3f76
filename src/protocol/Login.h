#pragma once

#include <array>
#include <string_view>

#include "protocol/CgiExchange.h"
#include "protocol/SessionFacts.h"

namespace tess {

// The two identifiers a login reply carries. Each field is the bytes after
// the first occurrence of its key: exactly 30 (session) or 4 (product) bytes,
// whatever they are, or fewer when the reply ends sooner; the rest stays zero.
struct LoginIdentity {
    std::array<char, 31> sessionId{};
    std::array<char, 5> productId{};
    bool hasSessionId = false;
    bool hasProductId = false;

    bool complete() const { return hasSessionId && hasProductId; }
};

// Scans a login reply (text up to its first zero byte). Pure; never reads
// past the reply.
LoginIdentity parseLoginReply(std::string_view reply);

// Logs in to `login.host`:`login.devicePort` on `link` with the Login request
// from the user name, password and `localAddress`. On Ok, `identity` holds
// both identifiers; a "200 OK" reply without "Session-ID=" or "Product-ID="
// is NotSupported. Runs on the calling thread (a pane's connect thread); the
// reply is awaited for `replyTimeoutMs`.
RequestResult login(SocketLink& link, const LoginData& login, std::string_view localAddress,
                    LoginIdentity& identity, int replyTimeoutMs = NetworkLimits{}.replyTimeoutMs);

}  // namespace tess
