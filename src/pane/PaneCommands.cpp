#include "pane/PaneCommands.h"

#include "protocol/CgiExchange.h"
#include "protocol/Requests.h"

namespace tess {

PaneCommand setChannelCommand(int32_t channel) {
    return [channel](const SessionFacts& facts, std::string_view localAddress, SocketLink& link) {
        const std::string head = request::setChannel(facts.sessionIdText(), channel, localAddress);
        CommandReply reply;
        CommandOutcome outcome;
        outcome.result = sendCgiRequest(link, facts.host, facts.devicePort, head, {}, reply);
        if (outcome.result == RequestResult::Ok) outcome.channel = channel;
        return outcome;
    };
}

}  // namespace tess
