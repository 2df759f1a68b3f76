#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/ChannelTable.h"

namespace tess {

// What one pane's connection knows about its device. The live view fills the
// login group while the pane is stopped; the connect thread writes the learned
// fields before it starts the stream threads, which only read them. Fields that
// several running threads write are atomic.
struct SessionInfo {
    // From the directory entry.
    std::u16string userName;
    std::u16string password;
    std::u16string host;
    int32_t devicePort = 0;
    std::atomic<int32_t> streamPort{0};

    // From the login reply; zero filled, so they read as text up to the zero.
    std::array<char, 5> productId{};
    std::array<char, 31> sessionId{};
    std::string localAddress;

    // From the negotiation.
    std::atomic<int32_t> deviceClass{0};
    std::atomic<int32_t> channel{0};
    ChannelTable channelTable;
    int32_t channelCount = 0;
    int32_t slaveCount = 0;
    std::atomic<int32_t> userLevel{0};

    std::atomic<bool> keepRetrying{false};
    std::atomic<bool> stopping{false};
    std::atomic<bool> videoWanted{false};
    std::atomic<bool> audioWanted{false};
    std::atomic<bool> audioToPlayer{true};

    // Statistics for the control datagrams; approximate by design.
    std::atomic<uint32_t> byteCount{0};
    std::atomic<uint32_t> frameCount{0};
    std::atomic<uint32_t> statsStart{0};

    std::string_view sessionIdText() const { return {sessionId.data()}; }
    std::string_view productIdText() const { return {productId.data()}; }
};

}  // namespace tess
