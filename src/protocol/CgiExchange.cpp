#include "protocol/CgiExchange.h"

#include <string>

#include "protocol/Requests.h"

namespace tess {
namespace {

bool contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

}  // namespace

bool connectAndSend(SocketLink& link, std::u16string_view host, uint32_t port,
                    std::string_view request) {
    link.setPeer(host, port);
    link.open(SocketType::Stream);
    link.connect();
    if (!link.connected()) {
        link.close();
        return false;
    }
    link.send(request.data(), request.size());
    return true;
}

RequestResult classifyReply(std::string_view reply) {
    reply = request::untilZero(reply);
    if (contains(reply, "202 ERROR")) return RequestResult::TooManyUsers;
    if (contains(reply, "201 ERR")) return RequestResult::TooManyLogins;
    if (contains(reply, "200 OK")) return RequestResult::Ok;
    return RequestResult::NotSupported;
}

RequestResult cgiExchange(SocketLink& link, std::u16string_view host, uint32_t port,
                          std::string_view request, SessionReply& reply, int replyTimeoutMs) {
    // A request longer than the device's request buffer is never sent cut short.
    if (request.size() > request::kMaxRequestBytes) return RequestResult::RequestTooLong;
    reply.clear();
    if (!connectAndSend(link, host, port, request)) return RequestResult::NetworkFailed;
    reply.length = link.receive(reply.bytes.data(), SessionReply::kCapacity, replyTimeoutMs);
    link.close();
    return classifyReply(reply.text());
}

RequestResult sendCgiRequest(SocketLink& link, std::u16string_view host, uint32_t port,
                             std::string_view head, std::string_view body, CommandReply& reply,
                             int replyTimeoutMs) {
    if (head.size() > request::kMaxRequestBytes) return RequestResult::RequestTooLong;
    reply.clear();
    std::string request(head);
    request.append(body);
    if (!connectAndSend(link, host, port, request)) return RequestResult::NetworkFailed;
    reply.length = link.receive(reply.bytes.data(), CommandReply::kCapacity, replyTimeoutMs);
    link.close();
    return contains(reply.text(), "200 OK") ? RequestResult::Ok : RequestResult::ReplyError;
}

}  // namespace tess
