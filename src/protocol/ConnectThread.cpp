#include "protocol/ConnectThread.h"

#include "protocol/Login.h"
#include "protocol/Negotiation.h"

namespace tess {

void runConnectThread(PaneConnection& pane, LiveViewLayout* view, AutoResetEvent& modelKnown,
                      ConnectHooks& hooks) {
    SessionInfo& session = pane.session;
    for (;;) {
        if (login(pane)) {
            hooks.reportLogin(true);
            if (negotiate(pane, view, modelKnown)) {
                session.keepRetrying = true;
                pane.controlLink.setPeer(session.host, session.streamPort);
                pane.audioLink.setPeer(session.host, session.streamPort);
                hooks.startStreams();
                return;
            }
        }
        if (!session.keepRetrying) break;
        if (!hooks.waitBeforeRetry(kRetryDelayMs)) return;
    }
    hooks.reportLogin(false);
}

}  // namespace tess
