#include "protocol/ControlMessage.h"

#include <algorithm>
#include <array>

#include "platform/TickCount.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

void sendAndRestartStatistics(PaneConnection& pane, std::string_view message) {
    pane.datagramLink.send(message.data(), message.size());
    SessionInfo& session = pane.session;
    session.byteCount = 0;
    session.frameCount = 0;
    session.statsStart = tickCount();
}

}  // namespace

void sendStatistics(PaneConnection& pane) {
    SessionInfo& session = pane.session;
    // At least 1 ms, so a report right after the start cannot divide by zero;
    // 64-bit products, so a fast loopback stream cannot wrap the bit rate.
    const uint64_t elapsed = std::max<uint32_t>(ticksSince(session.statsStart), 1);
    const auto bitRate = static_cast<uint32_t>(uint64_t{session.byteCount} * 8 / elapsed);
    const auto frameRate = static_cast<uint32_t>(uint64_t{session.frameCount} * 1000 / elapsed);
    std::array<char, request::kMaxRequestBytes + 1> message;
    const size_t length = request::controlStatisticsInto(message, session.sessionIdText(), bitRate,
                                                         frameRate, session.localAddress);
    sendAndRestartStatistics(pane, {message.data(), length});
}

void sendConnectionClose(PaneConnection& pane) {
    sendAndRestartStatistics(
        pane, request::controlClose(pane.session.sessionIdText(), pane.session.localAddress));
}

}  // namespace tess
