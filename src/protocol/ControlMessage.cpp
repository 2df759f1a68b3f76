#include "protocol/ControlMessage.h"

#include <algorithm>
#include <array>

#include "platform/TickCount.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

void sendAndRestartStatistics(SocketLink& datagramLink, std::string_view message,
                              StreamStatistics& statistics) {
    datagramLink.send(message.data(), message.size());
    statistics.byteCount = 0;
    statistics.frameCount = 0;
    statistics.statsStart = tickCount();
}

}  // namespace

void sendStatistics(SocketLink& datagramLink, std::string_view sessionId,
                    std::string_view localAddress, StreamStatistics& statistics) {
    // At least 1 ms, so a report right after the start cannot divide by zero;
    // 64-bit products, so a fast loopback stream cannot wrap the bit rate.
    const uint64_t elapsed = std::max<uint32_t>(ticksSince(statistics.statsStart), 1);
    const auto bitRate = static_cast<uint32_t>(uint64_t{statistics.byteCount} * 8 / elapsed);
    const auto frameRate = static_cast<uint32_t>(uint64_t{statistics.frameCount} * 1000 / elapsed);
    // On the stack: the streaming threads allocate nothing per report.
    std::array<char, request::kMaxRequestBytes + 1> message;
    const size_t length =
        request::controlStatisticsInto(message, sessionId, bitRate, frameRate, localAddress);
    sendAndRestartStatistics(datagramLink, {message.data(), length}, statistics);
}

void sendConnectionClose(SocketLink& datagramLink, std::string_view sessionId,
                         std::string_view localAddress, StreamStatistics& statistics) {
    sendAndRestartStatistics(datagramLink, request::controlClose(sessionId, localAddress),
                             statistics);
}

}  // namespace tess
