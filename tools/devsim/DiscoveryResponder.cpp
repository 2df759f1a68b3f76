#include "DiscoveryResponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace tess::devsim {
namespace search {

bool parseRequest(std::string_view bytes, std::array<uint8_t, 4>& requester) {
    if (bytes.size() != kDatagramSize) return false;
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    static constexpr char kMagic[13] = "QZ_SEARCH";
    if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
    if (byte(16) != 1 || byte(17) != 0) return false;
    if (byte(72) != 0x05 || byte(73) != 0x0D || byte(74) != 0 || byte(75) != 0) return false;
    for (size_t i = 0; i < 4; ++i) requester[i] = byte(56 + i);
    return true;
}

std::string reply(const SearchAnswer& answer) {
    std::string out(kDatagramSize, '\0');
    out[17] = static_cast<char>(answer.typeCode);
    for (size_t i = 0; i < 6; ++i) out[18 + i] = static_cast<char>(answer.mac[i]);
    for (size_t field = 56; field <= 68; field += 4)
        for (size_t i = 0; i < 4; ++i) out[field + i] = static_cast<char>(answer.address[i]);
    out[72] = static_cast<char>(answer.port & 0xFF);
    out[73] = static_cast<char>(answer.port >> 8);
    out.resize(static_cast<size_t>(std::clamp(answer.size, 0, kMaxReplySize)), '\0');
    return out;
}

}  // namespace search

DiscoveryResponder::DiscoveryResponder(Answers answers, EventLog& log)
    : answers_(std::move(answers)), log_(log) {}

DiscoveryResponder::~DiscoveryResponder() {
    stop();
}

bool DiscoveryResponder::start(const std::string& address, uint16_t listenPort, uint16_t replyPort,
                               bool answerRemote) {
    stop();
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(listenPort);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) return false;
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd_ < 0 || ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        stop();
        return false;
    }
    socklen_t size = sizeof local;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
    port_ = ntohs(local.sin_port);
    replyPort_ = replyPort;
    answerRemote_ = answerRemote;
    stopping_ = false;
    thread_ = std::thread([this] { loop(); });
    return true;
}

void DiscoveryResponder::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void DiscoveryResponder::sendDueReplies(std::vector<PendingReply>& pending) {
    const auto now = std::chrono::steady_clock::now();
    // Stable: replies due at the same time leave in the order of the answers.
    std::stable_sort(pending.begin(), pending.end(),
                     [](const PendingReply& a, const PendingReply& b) { return a.due < b.due; });
    size_t sent = 0;
    for (; sent < pending.size() && pending[sent].due <= now; ++sent) {
        const PendingReply& reply = pending[sent];
        if (::sendto(fd_, reply.bytes.data(), reply.bytes.size(), 0,
                     reinterpret_cast<const sockaddr*>(&reply.target),
                     sizeof reply.target) == static_cast<ssize_t>(reply.bytes.size()))
            ++repliesSent_;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(sent));
}

void DiscoveryResponder::loop() {
    char datagram[512];
    std::vector<PendingReply> pending;
    while (!stopping_) {
        sendDueReplies(pending);
        // Back for the stop flag every 100 ms, and in time for the next reply.
        int waitMs = 100;
        if (!pending.empty()) {
            const auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(
                pending.front().due - std::chrono::steady_clock::now());
            waitMs = static_cast<int>(std::clamp<long long>(untilDue.count(), 0, waitMs));
        }
        pollfd waiting{fd_, POLLIN, 0};
        if (::poll(&waiting, 1, waitMs) <= 0) continue;
        sockaddr_in sender{};
        socklen_t size = sizeof sender;
        const ssize_t count = ::recvfrom(fd_, datagram, sizeof datagram, 0,
                                         reinterpret_cast<sockaddr*>(&sender), &size);
        if (count < 0) continue;
        const std::string_view bytes(datagram, static_cast<size_t>(count));
        log_.record(Event::Kind::Datagram, std::string(bytes));
        std::array<uint8_t, 4> requester{};
        if (!search::parseRequest(bytes, requester)) {
            ++requestsIgnored_;
            continue;
        }
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(replyPort_);
        if (requester == std::array<uint8_t, 4>{})
            target.sin_addr = sender.sin_addr;
        else
            std::memcpy(&target.sin_addr, requester.data(), 4);
        const bool loopback = (ntohl(target.sin_addr.s_addr) >> 24) == 127;
        if (!loopback && !answerRemote_) {
            ++requestsIgnored_;
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        for (const SearchAnswer& answer : answers_())
            pending.push_back(
                {now + std::chrono::milliseconds(answer.delayMs), target, search::reply(answer)});
    }
}

}  // namespace tess::devsim
