#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "protocol/RequestResult.h"
#include "protocol/SessionFacts.h"
#include "protocol/SocketLink.h"

namespace tess {

// How a device command ended; `channel` is the channel the device now shows
// when the command chose one.
struct CommandOutcome {
    RequestResult result = RequestResult::Ok;
    std::optional<int32_t> channel;
};

// A request a user's press sends to a pane's device. It runs on the pane's
// command worker, in the order the presses came, with the session's facts as
// they are when it runs (not when it was queued) and on `link`, which the
// pane cancels when it stops or starts again.
using PaneCommand = std::function<CommandOutcome(const SessionFacts& facts,
                                                 std::string_view localAddress, SocketLink& link)>;

// SetChannel.cgi for `channel` (the "CH1"/"CH2" commands of a class 50
// device); the channel is the pane's once the device answers "200 OK".
PaneCommand setChannelCommand(int32_t channel);

}  // namespace tess
