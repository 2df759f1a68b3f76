#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tess {

// A device's class (SessionFacts::deviceClass) is the device family's own
// number: 1, 3, 4, 6, 7, 8 or 50; 0 on a pane that never met a known model.
struct ModelCode {
    std::string_view productId;
    int32_t deviceClass;
};

// Compared in this order, exact and case-sensitive over all four characters.
inline constexpr std::array<ModelCode, 10> kModelCodes{{
    {"R3PT", 50},
    {"R5NS", 3},
    {"R5NQ", 3},
    {"R5NP", 3},
    {"R3P;", 1},
    {"Q8LC", 6},
    {"Q8LB", 7},
    {"Q8LA", 8},
    {"Q7KF", 4},
    {"Q7KD", 4},
}};

// The class of the first code equal to `productId`, or nullopt.
std::optional<int32_t> deviceClassOf(std::string_view productId);

// Which RequestStream exchange negotiates the stream.
enum class NegotiationVariant {
    None,        // unknown class: negotiation fails
    SlaveList,   // A: long form; USERLEVEL, SLAVENUM and SID/STYPE/SPROTOCOL records
    DeviceInfo,  // B: short form; Device-ID0, Device-Type0, Stream-Port, ExtraOperation-Mode
    MasterList,  // C: long form on channel 1; MASTERNUM, MID/MTYPE records, USERLEVEL
    StreamOnly,  // D: long form; nothing is read
};

enum class VideoForm {
    None,
    PacketStream,              // frames span packets and start with a media header
    WholeFrame,                // one oversized packet per frame
    WholeFrameCountingHeader,  // the same, its length counting the packet header
};

// Everything that differs between device classes.
struct DeviceClassTraits {
    NegotiationVariant variant = NegotiationVariant::None;
    bool videoStartByBody = false;  // else by URL
    VideoForm videoForm = VideoForm::None;
    bool closeOnStop = false;        // "Connection: Close" datagram when the pane stops
    bool reportsStatistics = false;  // statistics datagrams from the video receiver
};

DeviceClassTraits classTraits(int32_t deviceClass);

// The user level a "USERLEVEL" value stands for: 0, 10, 20, 30 give 0, 20, 40,
// 60; any other value maps to nothing and the pane keeps its level.
std::optional<int32_t> userLevelOf(int value);

}  // namespace tess
