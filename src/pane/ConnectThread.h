#pragma once

#include <cstdint>

#include "pane/PaneConnection.h"
#include "protocol/RequestResult.h"

namespace tess {

// What the connect thread of one generation needs from its pane. Each call
// names the generation, so that the pane can ignore a thread it has moved
// past.
class ConnectHooks {
public:
    virtual ~ConnectHooks() = default;
    virtual void reportLogin(uint32_t generation, bool loggedIn) = 0;
    virtual void reportModel(uint32_t generation, int32_t deviceClass) = 0;
    virtual void reportFailure(uint32_t generation, RequestResult result) = 0;
    // Login and negotiation succeeded on `facts`, a copy of the session's
    // taken when the attempt began on `channelAtStart`: publish them, open
    // the datagram link, start the receivers.
    virtual void startStreams(uint32_t generation, SessionFacts facts, int32_t channelAtStart) = 0;
    // Waits before the next attempt; false when the pane is going away.
    virtual bool waitBeforeRetry(uint32_t generation, uint32_t milliseconds) = 0;
};

// The body of a pane's connect thread: login, model lookup, negotiation, then
// the stream receivers. The session's facts are built here and handed over
// whole. A failure while keepRetrying is set is retried after the pane's
// retry delay (an unreachable device then without a report); a refusal
// clears keepRetrying.
// Without retrying, the pane is told that the login failed and the thread ends.
void runConnectThread(PaneConnection& pane, uint32_t generation, ConnectHooks& hooks);

}  // namespace tess
