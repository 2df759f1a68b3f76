#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/NetworkLimits.h"
#include "protocol/RequestResult.h"
#include "protocol/SocketLink.h"

namespace tess {

// A reply read in one receive into a zeroed buffer that keeps a terminating
// zero behind the longest reply.
template <size_t Capacity>
struct ReplyBuffer {
    static constexpr size_t kCapacity = Capacity;
    std::array<char, Capacity + 1> bytes{};
    int length = 0;

    void clear() {
        bytes.fill(0);
        length = 0;
    }
    // The reply as text, up to its first zero byte.
    std::string_view text() const { return {bytes.data()}; }
};

using SessionReply = ReplyBuffer<1024>;  // login and negotiation
using CommandReply = ReplyBuffer<256>;   // PTZ, channel and camera commands

// Classifies a session reply by the first status word found, in this order:
// "202 ERROR" (TooManyUsers), "201 ERR" (TooManyLogins), "200 OK" (Ok);
// anything else, also no reply, is NotSupported.
RequestResult classifyReply(std::string_view reply);

// Opens a stream connection on `link` to `host`:`port` and sends `request`
// whole; false (with the link closed) when no connection came about.
bool connectAndSend(SocketLink& link, std::u16string_view host, uint32_t port,
                    std::string_view request);

// A session exchange on `link` to `host`:`port`: connect (the link's limit),
// send, one receive of up to 1024 bytes within `replyTimeoutMs`, classify,
// close. Runs on the calling thread; a cancelled link fails at once with
// NetworkFailed.
RequestResult cgiExchange(SocketLink& link, std::u16string_view host, uint32_t port,
                          std::string_view request, SessionReply& reply,
                          int replyTimeoutMs = NetworkLimits{}.replyTimeoutMs);

// A command on `link` (a link of the caller's own, used for this request
// only) to `host`:`port`: connect (the link's limit), send head and body, one
// receive of up to 256 bytes within `replyTimeoutMs`. Ok only for a reply
// holding "200 OK", else NetworkFailed or ReplyError.
RequestResult sendCgiRequest(SocketLink& link, std::u16string_view host, uint32_t port,
                             std::string_view head, std::string_view body, CommandReply& reply,
                             int replyTimeoutMs = NetworkLimits{}.replyTimeoutMs);

}  // namespace tess
