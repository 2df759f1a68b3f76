#pragma once

#include <string_view>

#include "protocol/CgiExchange.h"
#include "protocol/SessionFacts.h"

namespace tess {

// Looks `facts.productId` up in the model-code table; a match sets
// `facts.deviceClass`. False for an unknown code, which leaves the class as
// it was.
bool identifyModel(SessionFacts& facts);

// Runs right after a successful login and identifyModel(), on the pane's
// connect thread: the class's RequestStream exchange on `link` to
// `facts.host`:`facts.streamPort`, reading into `facts` (the thread's own
// copy) the stream port, the channel table, the channel and the user level
// as the class provides them. UnknownModel for a class without a variant;
// Mpeg4Only for a device that offers no JPEG stream; else the exchange's
// result.
//
// Channel tables hold at most ChannelTable::kMaxRecords records: of a longer
// list only the records that fit are read, and slaveCount / channelCount are
// the number of records the table holds. The reply is awaited for
// `replyTimeoutMs`.
RequestResult negotiate(SocketLink& link, std::string_view localAddress, SessionFacts& facts,
                        int replyTimeoutMs = NetworkLimits{}.replyTimeoutMs);

// The channel a session goes on with when a command chose `chosen` while the
// negotiation that learned `negotiated` ran on the channel from before. A
// slave-list recorder keeps the chosen channel while the new table still
// holds it, else shows channel 1; every other class keeps the negotiated
// channel (the master list's negotiation always chooses channel 1).
int32_t channelAfterNegotiation(const SessionFacts& negotiated, int32_t chosen);

}  // namespace tess
