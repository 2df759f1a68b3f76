#pragma once

#include "protocol/SessionInfo.h"

namespace tess {

// The live view's control layouts as the negotiation asks for them. The calls
// arrive on the pane's connect thread; the window side marshals them to the
// GUI thread. The negotiation asks for a layout only while the live view shows
// one pane alone (currentView() != -1).
class LiveViewLayout {
public:
    virtual ~LiveViewLayout() = default;
    virtual int currentView() const = 0;  // -1: the quad
    virtual void ApplyDvrTabs() = 0;
    virtual void ApplyPlainLayout() = 0;
    virtual void ShowAvButton(const SessionInfo& pane) = 0;
    virtual void ApplyPresetTabs() = 0;
    virtual void ApplyFourChannelLayout(int channelIndex) = 0;
    virtual void ApplyNineChannelLayout() = 0;
    virtual void ApplySixteenChannelLayout() = 0;
};

}  // namespace tess
