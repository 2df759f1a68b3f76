#pragma once

#include <array>
#include <string_view>

#include "protocol/PaneConnection.h"

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

// Logs the pane in: the Login request from userName, password and localAddress
// through cgiExchange, then sessionId and productId from the reply. A "200 OK"
// reply without "Session-ID=" or "Product-ID=" is refused like an unknown
// reply: "No support the device !!", keepRetrying cleared, window repainted.
// On failure the session's identifiers are left as they were. Connect thread
// only.
bool login(PaneConnection& pane);

}  // namespace tess
