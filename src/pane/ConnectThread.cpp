#include "pane/ConnectThread.h"

#include <utility>

#include "platform/Log.h"

#include "protocol/Login.h"
#include "protocol/Negotiation.h"

namespace tess {
namespace {

// One attempt: login, model, negotiation and, on success, the streams.
RequestResult connectOnce(PaneConnection& pane, uint32_t generation, ConnectHooks& hooks) {
    // A reconnect keeps the channel and the user level of the session before.
    SessionFacts facts = pane.facts();
    const int32_t channelAtStart = facts.channel;
    facts.host = pane.login.host;
    facts.devicePort = pane.login.devicePort;
    facts.streamPort = pane.login.devicePort;

    LoginIdentity identity;
    const int replyTimeoutMs = pane.timings.replyTimeoutMs;
    RequestResult result =
        login(pane.controlLink, pane.login, pane.localAddress, identity, replyTimeoutMs);
    if (result != RequestResult::Ok) return result;
    facts.sessionId = identity.sessionId;
    facts.productId = identity.productId;
    hooks.reportLogin(generation, true);

    const bool known = identifyModel(facts);
    hooks.reportModel(generation, known ? facts.deviceClass : 0);
    if (!known) return RequestResult::UnknownModel;
    result = negotiate(pane.controlLink, pane.localAddress, facts, replyTimeoutMs);
    if (result != RequestResult::Ok) return result;

    logLine(LogArea::Net, LogLevel::Debug, "%s: product %s, class %d, stream port %d",
            pane.deviceName.c_str(), facts.productId.data(), static_cast<int>(facts.deviceClass),
            static_cast<int>(facts.streamPort));
    pane.keepRetrying = true;
    hooks.startStreams(generation, std::move(facts), channelAtStart);
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
                        "%s: connection failed: %s; trying again every %u ms",
                        pane.deviceName.c_str(), describe(result),
                        static_cast<unsigned>(pane.timings.retryDelayMs));
            } else {
                logLine(LogArea::Net, LogLevel::Warning, "%s: connection failed: %s",
                        pane.deviceName.c_str(), describe(result));
            }
        }
        if (!(result == RequestResult::NetworkFailed && retrying)) {
            hooks.reportFailure(generation, result);
        }
        if (!pane.keepRetrying) break;
        if (!hooks.waitBeforeRetry(generation, pane.timings.retryDelayMs)) return;
    }
    hooks.reportLogin(generation, false);
}

}  // namespace tess
