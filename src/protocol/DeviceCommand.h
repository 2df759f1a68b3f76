#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "protocol/CameraLocation.h"
#include "protocol/NetworkLimits.h"
#include "protocol/RequestResult.h"
#include "protocol/SessionFacts.h"
#include "protocol/SocketLink.h"

namespace tess {

// How a device command ended: the first failure among its requests (or Ok),
// and the channel the device now shows when the command chose one.
struct CommandOutcome {
    RequestResult result = RequestResult::Ok;
    std::optional<int32_t> channel;
};

// What the commands of one start of a pane share; every start begins anew.
struct CommandMemory {
    ReportedLocation cameraLocation;
};

// What a command runs with: the session's facts as they are when it runs
// (not when it was queued), the viewer's own address, a link of its own that
// the pane cancels when it stops or starts again, the start's memory, and
// how long a reply is awaited.
struct CommandContext {
    const SessionFacts& facts;
    std::string_view localAddress;
    SocketLink& link;
    CommandMemory& memory;
    int replyTimeoutMs = NetworkLimits{}.replyTimeoutMs;
};

// A request a user's press sends to a pane's device, run on the pane's
// command worker in the order of the presses.
using DeviceCommand = std::function<CommandOutcome(CommandContext& context)>;

// SetChannel.cgi for `channel` (the "CH1"/"CH2" commands of a class 50
// device); the channel is the pane's once the device answers "200 OK".
DeviceCommand setChannelCommand(int32_t channel);

}  // namespace tess
