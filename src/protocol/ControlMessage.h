#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "protocol/SocketLink.h"

namespace tess {

// A pane's counters for the statistics datagrams: bytes received and frames
// drawn since `statsStart` (a tick count). Approximate by design: several of
// the pane's threads count.
struct StreamStatistics {
    std::atomic<uint32_t> byteCount{0};
    std::atomic<uint32_t> frameCount{0};
    std::atomic<uint32_t> statsStart{0};
};

// Control datagrams through a pane's datagram link, for the session
// `sessionId`. After either kind the counters restart at 0 and the
// statistics start is now.

// Reports the bit rate (kbit/s) and drawn frame rate since the statistics start.
void sendStatistics(SocketLink& datagramLink, std::string_view sessionId,
                    std::string_view localAddress, StreamStatistics& statistics);
// Tells the device that the viewer closes the session.
void sendConnectionClose(SocketLink& datagramLink, std::string_view sessionId,
                         std::string_view localAddress, StreamStatistics& statistics);

}  // namespace tess
