#include "pane/ConnectThread.h"

#include "platform/Log.h"

#include "protocol/Login.h"
#include "protocol/Negotiation.h"

namespace tess {
namespace {

// One attempt: login, model, negotiation and, on success, the streams.
RequestResult connectOnce(PaneConnection& pane, uint32_t generation, ConnectHooks& hooks) {
    // A reconnect keeps the channel and the user level of the session before.
    SessionFacts facts = pane.facts();
    facts.host = pane.login.host;
    facts.devicePort = pane.login.devicePort;
    facts.streamPort = pane.login.devicePort;

    LoginIdentity identity;
    RequestResult result = login(pane.controlLink, pane.login, pane.localAddress, identity);
    if (result != RequestResult::Ok) return result;
    facts.sessionId = identity.sessionId;
    facts.productId = identity.productId;
    hooks.reportLogin(generation, true);

    const bool known = identifyModel(facts);
    hooks.reportModel(generation, known ? facts.deviceClass : 0);
    if (!known) return RequestResult::UnknownModel;
    result = negotiate(pane.controlLink, pane.localAddress, facts);
    if (result != RequestResult::Ok) return result;

    logLine(LogArea::Net, LogLevel::Debug, "%s: product %s, class %d, stream port %d",
            pane.deviceName.c_str(), facts.productId.data(), static_cast<int>(facts.deviceClass),
            static_cast<int>(facts.streamPort));
    pane.keepRetrying = true;
    hooks.startStreams(generation, facts);
    return RequestResult::Ok;
}

}  // namespace

void runConnectThread(PaneConnection& pane, uint32_t generation, ConnectHooks& hooks) {
    // One line for a series of failed attempts, not one every retry.
    bool failureLogged = false;
    for (;;) {
        const bool retrying = pane.keepRetrying;
        const RequestResult result = connectOnce(pane, generation, hooks);
        if (result == RequestResult::Ok) {
            logLine(LogArea::Net, LogLevel::Info, "%s: %s", pane.deviceName.c_str(),
                    retrying ? "reconnected" : "connected");
            return;
        }
        if (isRefusal(result)) pane.keepRetrying = false;
        if (!failureLogged) {
            failureLogged = true;
            if (pane.keepRetrying) {
                logLine(LogArea::Net, LogLevel::Warning,
                        "%s: connection failed: %s; trying again every %u s",
                        pane.deviceName.c_str(), describe(result),
                        static_cast<unsigned>(kRetryDelayMs / 1000));
            } else {
                logLine(LogArea::Net, LogLevel::Warning, "%s: connection failed: %s",
                        pane.deviceName.c_str(), describe(result));
            }
        }
        if (!(result == RequestResult::NetworkFailed && retrying)) {
            hooks.reportFailure(generation, result);
        }
        if (!pane.keepRetrying) break;
        if (!hooks.waitBeforeRetry(generation, kRetryDelayMs)) return;
    }
    hooks.reportLogin(generation, false);
}

}  // namespace tess
