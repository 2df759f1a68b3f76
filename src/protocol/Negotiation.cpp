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

RequestResult exchange(SocketLink& link, const SessionFacts& facts, std::string_view request,
                       SessionReply& reply) {
    return cgiExchange(link, facts.host, facts.streamPort, request, reply);
}

RequestResult longFormExchange(SocketLink& link, std::string_view localAddress,
                               const SessionFacts& facts, SessionReply& reply) {
    return exchange(link, facts,
                    request::streamLong(facts.sessionIdText(), facts.channel, localAddress), reply);
}

// A: USERLEVEL, then SLAVENUM and one SID/STYPE/SPROTOCOL record per slave.
RequestResult negotiateSlaveList(SocketLink& link, std::string_view localAddress,
                                 SessionFacts& facts) {
    SessionReply reply;
    const RequestResult result = longFormExchange(link, localAddress, facts, reply);
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
RequestResult negotiateDeviceInfo(SocketLink& link, std::string_view localAddress,
                                  SessionFacts& facts) {
    SessionReply reply;
    const RequestResult result =
        exchange(link, facts, request::streamShort(facts.sessionIdText(), localAddress), reply);
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
RequestResult negotiateMasterList(SocketLink& link, std::string_view localAddress,
                                  SessionFacts& facts) {
    facts.channel = 1;
    SessionReply reply;
    const RequestResult result = longFormExchange(link, localAddress, facts, reply);
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

RequestResult negotiate(SocketLink& link, std::string_view localAddress, SessionFacts& facts) {
    switch (classTraits(facts.deviceClass).variant) {
        case NegotiationVariant::SlaveList: return negotiateSlaveList(link, localAddress, facts);
        case NegotiationVariant::DeviceInfo: return negotiateDeviceInfo(link, localAddress, facts);
        case NegotiationVariant::MasterList: return negotiateMasterList(link, localAddress, facts);
        case NegotiationVariant::StreamOnly: {
            SessionReply reply;
            return longFormExchange(link, localAddress, facts, reply);
        }
        case NegotiationVariant::None: break;
    }
    return RequestResult::UnknownModel;
}

}  // namespace tess
