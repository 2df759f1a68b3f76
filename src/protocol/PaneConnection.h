#pragma once

#include <atomic>

#include "protocol/SessionInfo.h"
#include "protocol/SocketLink.h"

namespace tess {

// The window side of a pane, as the connection sees it. Called from the
// connection's threads; the window does the repaint on its own thread.
class RepaintTarget {
public:
    virtual ~RepaintTarget() = default;
    virtual void requestRepaint() = 0;
};

// One pane's device connection: its session state and its three links.
//  - controlLink (TCP): login and negotiation exchanges, then the video stream;
//  - audioLink (TCP): the audio stream;
//  - datagramLink (UDP): control datagrams to host and device port.
struct PaneConnection {
    SessionInfo session;
    SocketLink controlLink;
    SocketLink audioLink;
    SocketLink datagramLink;
    RepaintTarget* window = nullptr;
    // Set while the pane ends its threads: exchanges then fail at once and
    // quietly, since the user is not waiting for their outcome.
    std::atomic<bool> closing{false};

    void requestRepaint() const {
        if (window) window->requestRepaint();
    }
};

}  // namespace tess
