#include "protocol/CgiExchange.h"

#include "platform/MessageSink.h"
#include "protocol/Requests.h"
#include "resources/StringTable.h"

namespace tess {
namespace {

constexpr int kReplyTimeoutSeconds = 5;

// A request longer than the device's request buffer is never sent cut short.
bool refuseOverlongRequest(std::string_view head) {
    if (head.size() <= request::kMaxRequestBytes) return false;
    messageSink().show(text::requestTooLong);
    return true;
}

std::string_view failureMessage(ReplyStatus status) {
    switch (status) {
        case ReplyStatus::ServerBusy: return text::tooManyUsers;
        case ReplyStatus::LoginRefused: return text::tooManyLogins;
        default: return text::noSupportDevice;
    }
}

}  // namespace

ReplyStatus classifyReply(std::string_view reply) {
    reply = request::untilZero(reply);
    if (reply.find("202 ERROR") != std::string_view::npos) return ReplyStatus::ServerBusy;
    if (reply.find("201 ERR") != std::string_view::npos) return ReplyStatus::LoginRefused;
    if (reply.find("200 OK") != std::string_view::npos) return ReplyStatus::Ok;
    return ReplyStatus::Unknown;
}

bool cgiExchange(PaneConnection& pane, std::string_view request, SessionReply& reply) {
    SessionInfo& session = pane.session;
    if (pane.closing) return false;
    if (refuseOverlongRequest(request)) {
        session.keepRetrying = false;
        pane.requestRepaint();
        return false;
    }
    pane.controlLink.setPeer(session.host, session.streamPort);
    pane.audioLink.setPeer(session.host, session.streamPort);

    SocketLink& link = pane.controlLink;
    link.open(SocketType::Stream);
    link.connect();
    if (!link.connected()) {
        link.close();
        if (!session.keepRetrying && !pane.closing) messageSink().show(text::networkFailed);
        return false;
    }
    link.send(request.data(), request.size());
    reply.clear();
    reply.length = link.receive(reply.bytes.data(), SessionReply::kCapacity, kReplyTimeoutSeconds);
    link.close();

    const ReplyStatus status = classifyReply(reply.text());
    if (status == ReplyStatus::Ok) return true;
    if (pane.closing) return false;
    session.keepRetrying = false;
    messageSink().show(failureMessage(status));
    pane.requestRepaint();
    return false;
}

bool sendCgiRequest(RepaintTarget* owner, const PaneConnection& pane, std::string_view head,
                    std::string_view body, CommandReply& reply) {
    auto repaintOwner = [owner] {
        if (owner) owner->requestRepaint();
    };
    if (refuseOverlongRequest(head)) {
        repaintOwner();
        return false;
    }
    SocketLink link;
    link.setPeer(pane.session.host, pane.session.devicePort);
    link.open(SocketType::Stream);
    link.connect();
    if (!link.connected()) {
        link.close();
        messageSink().show(text::networkFailed);
        repaintOwner();
        return false;
    }
    std::string request(head);
    request.append(body);
    link.send(request.data(), request.size());
    reply.clear();
    reply.length = link.receive(reply.bytes.data(), CommandReply::kCapacity, kReplyTimeoutSeconds);
    link.close();
    if (reply.text().find("200 OK") != std::string_view::npos) return true;
    messageSink().show(text::messageError);
    repaintOwner();
    return false;
}

}  // namespace tess
