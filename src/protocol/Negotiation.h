#pragma once

#include "platform/AutoResetEvent.h"
#include "protocol/LiveViewLayout.h"
#include "protocol/PaneConnection.h"

namespace tess {

// Runs right after a successful login, on the pane's connect thread:
//  1. looks productId up in the model-code table; a match sets deviceClass (and
//     channelMenuWanted for class 50), an unknown code leaves it unchanged;
//  2. signals `modelKnown`, whatever the lookup gave;
//  3. asks `view` (may be null) for the class's control layout while it shows
//     one pane alone, and runs the class's RequestStream exchange, reading the
//     stream port, the channel table and the user level as the class provides.
// False for an unknown code (silently), a failed exchange (cgiExchange has
// shown its message) or a device that offers no JPEG stream ("The Mpeg4 Only").
//
// Channel tables hold at most ChannelTable::kMaxRecords records: of a longer
// list only the records that fit are read, and slaveCount / channelCount are
// the number of records the table holds.
bool negotiate(PaneConnection& pane, LiveViewLayout* view, AutoResetEvent& modelKnown);

}  // namespace tess
