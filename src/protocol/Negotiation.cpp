#include "protocol/Negotiation.h"

#include "protocol/ModelCodes.h"
#include "protocol/ReplyFields.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

void applyUserLevel(SessionFacts& facts, int value) {
    if (const auto level = userLevelOf(value)) facts.userLevel = *level;
}

// Channel records are bytes on the device; a wider value keeps its low byte.
uint8_t recordByte(int value) {
    return static_cast<uint8_t>(value);
}

// How the negotiation's one exchange goes, and with which Host header.
struct Route {
    SocketLink& link;
    std::string_view localAddress;
    int replyTimeoutMs;
};

RequestResult exchange(const Route& route, const SessionFacts& facts, std::string_view request,
                       SessionReply& reply) {
    return cgiExchange(route.link, facts.host, facts.streamPort, request, reply,
                       route.replyTimeoutMs);
}

RequestResult longFormExchange(const Route& route, const SessionFacts& facts, SessionReply& reply) {
    return exchange(route, facts,
                    request::streamLong(facts.sessionIdText(), facts.channel, route.localAddress),
                    reply);
}

// A: USERLEVEL, then SLAVENUM and one SID/STYPE/SPROTOCOL record per slave.
RequestResult negotiateSlaveList(const Route& route, SessionFacts& facts) {
    SessionReply reply;
    const RequestResult result = longFormExchange(route, facts, reply);
    if (result != RequestResult::Ok) return result;
    const std::string_view text = reply.text();

    applyUserLevel(facts, readReplyField(text, "USERLEVEL").value);
    const ReplyField slaves = readReplyField(text, "SLAVENUM");
    facts.channelTable.resize(slaves.value);
    facts.slaveCount = static_cast<int32_t>(facts.channelTable.size());

    ReplyFieldReader reader(text, slaves.valueStart);
    for (size_t i = 0; i < facts.channelTable.size(); ++i) {
        ChannelRecord& record = *facts.channelTable.at(i);
        record.id = recordByte(reader.next("SID"));
        record.type = recordByte(reader.next("STYPE"));
        record.protocol = recordByte(reader.next("SPROTOCOL"));
    }
    return RequestResult::Ok;
}

// B: device record 0, the stream port and the stream mode; record 1 stays zero.
RequestResult negotiateDeviceInfo(const Route& route, SessionFacts& facts) {
    SessionReply reply;
    const RequestResult result = exchange(
        route, facts, request::streamShort(facts.sessionIdText(), route.localAddress), reply);
    if (result != RequestResult::Ok) return result;
    facts.channelCount = 2;
    facts.channelTable.resize(2);
    ChannelRecord& first = *facts.channelTable.at(0);

    ReplyFieldReader reader(reply.text());
    first.id = recordByte(reader.next("Device-ID0"));
    first.type = recordByte(reader.next("Device-Type0"));
    // A missing or zero port keeps the port the exchange went to.
    const int streamPort = reader.next("Stream-Port");
    if (streamPort > 0) facts.streamPort = streamPort;
    // Mode 0: the device streams MPEG-4 only, which this viewer cannot show.
    const int mode = reader.next("ExtraOperation-Mode");
    return mode == 0 ? RequestResult::Mpeg4Only : RequestResult::Ok;
}

// C: on channel 1, MASTERNUM and one MID/MTYPE record per channel, then
// USERLEVEL after the last record read.
RequestResult negotiateMasterList(const Route& route, SessionFacts& facts) {
    facts.channel = 1;
    SessionReply reply;
    const RequestResult result = longFormExchange(route, facts, reply);
    if (result != RequestResult::Ok) return result;
    const std::string_view text = reply.text();

    const ReplyField masters = readReplyField(text, "MASTERNUM");
    facts.channelTable.resize(masters.value);
    facts.channelCount = static_cast<int32_t>(facts.channelTable.size());

    ReplyFieldReader reader(text, masters.valueStart);
    for (size_t i = 0; i < facts.channelTable.size(); ++i) {
        ChannelRecord& record = *facts.channelTable.at(i);
        record.id = recordByte(reader.next("MID"));
        record.type = recordByte(reader.next("MTYPE"));
    }
    applyUserLevel(facts, reader.next("USERLEVEL"));
    return RequestResult::Ok;
}

}  // namespace

bool identifyModel(SessionFacts& facts) {
    const std::optional<int32_t> found = deviceClassOf(facts.productIdText());
    if (found) facts.deviceClass = *found;
    return found.has_value();
}

RequestResult negotiate(SocketLink& link, std::string_view localAddress, SessionFacts& facts,
                        int replyTimeoutMs) {
    const Route route{link, localAddress, replyTimeoutMs};
    switch (classTraits(facts.deviceClass).variant) {
        case NegotiationVariant::SlaveList: return negotiateSlaveList(route, facts);
        case NegotiationVariant::DeviceInfo: return negotiateDeviceInfo(route, facts);
        case NegotiationVariant::MasterList: return negotiateMasterList(route, facts);
        case NegotiationVariant::StreamOnly: {
            SessionReply reply;
            return longFormExchange(route, facts, reply);
        }
        case NegotiationVariant::None: break;
    }
    return RequestResult::UnknownModel;
}

int32_t channelAfterNegotiation(const SessionFacts& negotiated, int32_t chosen) {
    if (classTraits(negotiated.deviceClass).variant != NegotiationVariant::SlaveList) {
        return negotiated.channel;
    }
    return chosen >= 1 && chosen <= negotiated.slaveCount ? chosen : 1;
}

}  // namespace tess
