#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/ChannelTable.h"

namespace tess {

// Whom a pane logs in to and as: the directory entry's fields, handed to a
// pane's start as a value.
struct LoginData {
    std::u16string host;
    std::u16string userName;
    std::u16string password;
    int32_t devicePort = 0;
    // The entry's label: it names the device in the log, never on the wire.
    std::u16string label;
};

// What one session learned of its device. The connect thread builds it
// locally and the pane publishes it whole; every other thread reads a copy,
// so no field is ever seen half-written. A pane's start clears it.
struct SessionFacts {
    // The device: dotted IPv4 text and the port of its CGI service.
    std::u16string host;
    int32_t devicePort = 0;
    // The port of the video and audio streams (the device port unless the
    // negotiation named another).
    int32_t streamPort = 0;

    // From the login reply; zero filled, so they read as text up to the zero.
    std::array<char, 31> sessionId{};
    std::array<char, 5> productId{};

    // From the negotiation; deviceClass 0 until a known model was met.
    int32_t deviceClass = 0;
    int32_t channel = 0;  // 1-based; 0: none chosen
    ChannelTable channelTable;
    int32_t channelCount = 0;
    int32_t slaveCount = 0;
    int32_t userLevel = 0;

    std::string_view sessionIdText() const { return {sessionId.data()}; }
    std::string_view productIdText() const { return {productId.data()}; }
};

}  // namespace tess
