#pragma once

#include <cstdint>
#include <optional>

#include "protocol/RequestResult.h"
#include "protocol/SessionFacts.h"

namespace tess {

// Which pane a report comes from and which of its starts it belongs to.
// Every start and every stop of a pane begins a new generation.
struct PaneStamp {
    int pane = 0;
    uint32_t generation = 0;

    bool operator==(const PaneStamp&) const = default;
};

// What a pane's threads tell the window. Called on those threads, never on
// the GUI thread, and never waiting for it: the window re-posts each report
// to its own thread and drops one whose generation is no longer the pane's.
// The pane itself already drops the reports of an earlier generation.
class PaneEvents {
public:
    virtual ~PaneEvents() = default;

    // A login attempt ended (successful ones before the negotiation).
    virtual void loginFinished(PaneStamp stamp, bool loggedIn) = 0;
    // The product identifier was looked up: the class, or 0 for an unknown model.
    virtual void modelKnown(PaneStamp stamp, int32_t deviceClass) = 0;
    // Login and negotiation succeeded; `facts` are the session's, just published.
    virtual void negotiated(PaneStamp stamp, const SessionFacts& facts) = 0;
    // A connect attempt failed. Not reported: an unreachable device while
    // the pane retries, which it does without a word.
    virtual void connectFailed(PaneStamp stamp, RequestResult result) = 0;
    // The stream was lost or refused: the pane shows its caption again.
    virtual void pictureLost(PaneStamp stamp) = 0;
    // A device command ended; `channel` is the pane's new channel when the
    // command chose one.
    virtual void commandFinished(PaneStamp stamp, RequestResult result,
                                 std::optional<int32_t> channel) = 0;
};

}  // namespace tess
