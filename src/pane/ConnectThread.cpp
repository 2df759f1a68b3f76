#include "pane/ConnectThread.h"

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

    pane.keepRetrying = true;
    hooks.startStreams(generation, facts);
    return RequestResult::Ok;
}

}  // namespace

void runConnectThread(PaneConnection& pane, uint32_t generation, ConnectHooks& hooks) {
    for (;;) {
        const bool retrying = pane.keepRetrying;
        const RequestResult result = connectOnce(pane, generation, hooks);
        if (result == RequestResult::Ok) return;
        if (isRefusal(result)) pane.keepRetrying = false;
        if (!(result == RequestResult::NetworkFailed && retrying)) {
            hooks.reportFailure(generation, result);
        }
        if (!pane.keepRetrying) break;
        if (!hooks.waitBeforeRetry(generation, kRetryDelayMs)) return;
    }
    hooks.reportLogin(generation, false);
}

}  // namespace tess
