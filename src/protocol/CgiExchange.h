#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "protocol/PaneConnection.h"

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

enum class ReplyStatus { ServerBusy, LoginRefused, Ok, Unknown };

// Classifies a reply by the first status word found, in this order:
// "202 ERROR", "201 ERR", "200 OK"; anything else (also no reply) is Unknown.
ReplyStatus classifyReply(std::string_view reply);

// A session exchange on the pane's control link, to host and stream port:
// connect (5 s), send, one receive of up to 1024 bytes (5 s), classify, close.
// Failures are shown through the message sink (a failed connect only while the
// pane is not retrying); a refused or unknown reply clears keepRetrying and
// asks the pane's window to repaint.
bool cgiExchange(PaneConnection& pane, std::string_view request, SessionReply& reply);

// A command to the pane's host and device port on a link of its own: connect
// (5 s), send head and body, one receive of up to 256 bytes (5 s); true only
// for a reply holding "200 OK". Failures are shown and repaint `owner`.
bool sendCgiRequest(RepaintTarget* owner, const PaneConnection& pane, std::string_view head,
                    std::string_view body, CommandReply& reply);

}  // namespace tess
