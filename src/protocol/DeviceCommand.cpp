#include "protocol/DeviceCommand.h"

#include "protocol/CgiExchange.h"
#include "protocol/Requests.h"

namespace tess {

DeviceCommand setChannelCommand(int32_t channel) {
    return [channel](CommandContext& context) {
        const SessionFacts& facts = context.facts;
        const std::string head =
            request::setChannel(facts.sessionIdText(), channel, context.localAddress);
        CommandReply reply;
        CommandOutcome outcome;
        outcome.result = sendCgiRequest(context.link, facts.host, facts.devicePort, head, {}, reply,
                                        context.replyTimeoutMs);
        if (outcome.result == RequestResult::Ok) outcome.channel = channel;
        return outcome;
    };
}

}  // namespace tess
