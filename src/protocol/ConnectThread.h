#pragma once

#include <cstdint>

#include "platform/AutoResetEvent.h"
#include "protocol/LiveViewLayout.h"
#include "protocol/PaneConnection.h"

namespace tess {

// What the connect thread needs from the pane that runs it.
class ConnectHooks {
public:
    virtual ~ConnectHooks() = default;
    // The login attempt has ended: the live view learns whether it succeeded.
    virtual void reportLogin(bool loggedIn) = 0;
    // Login and negotiation succeeded: open the datagram link, start receivers.
    virtual void startStreams() = 0;
    // Waits before the next attempt; false when the pane is going away.
    virtual bool waitBeforeRetry(uint32_t milliseconds) = 0;
};

inline constexpr uint32_t kRetryDelayMs = 3000;

// The body of a pane's connect thread: login, negotiation, then the stream
// receivers. A failure while keepRetrying is set is retried every 3 s without
// a message; otherwise the live view is told that the login failed.
void runConnectThread(PaneConnection& pane, LiveViewLayout* view, AutoResetEvent& modelKnown,
                      ConnectHooks& hooks);

}  // namespace tess
