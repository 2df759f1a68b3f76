#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "EventLog.h"

namespace tess::devsim {

// What one device tells a LAN search.
struct SearchAnswer {
    uint8_t typeCode = 50;
    std::array<uint8_t, 6> mac{};
    std::array<uint8_t, 4> address{127, 0, 0, 1};
    uint16_t port = 0;
    int delayMs = 0;  // the reply leaves this long after the request
    // Bytes sent: the reply cut or zero-padded to this size (0 ... 512), so
    // that a test can hand the viewer odd datagrams.
    int size = 76;
};

// The 76-byte search datagrams.
//
// SearchRequest:  0 "QZ_SEARCH" zero-padded to 13 | 16 u16 1 | 56 requester IPv4 |
//                 72 u32 3333; every other byte 0
// SearchReply:    17 type code | 18 MAC (6) | 56 device IPv4 | 60, 64, 68 further
//                 addresses (here the device's again) | 72 u32 CGI port
namespace search {
inline constexpr size_t kDatagramSize = 76;
inline constexpr int kMaxReplySize = 512;
// True when `bytes` is a well-formed request; `requester` gets its address.
bool parseRequest(std::string_view bytes, std::array<uint8_t, 4>& requester);
// The reply bytes: 76, or `answer.size` where it asks for odd datagrams.
std::string reply(const SearchAnswer& answer);
}  // namespace search

// Answers search requests on a UDP port for any number of answers: one reply
// per answer, each after its own delay (later requests do not hold earlier
// replies back), sent to the requester's address (the one in the request, or
// the sender's when that is 0.0.0.0) on the reply port. Requesters outside
// 127.0.0.0/8 are ignored unless `answerRemote` is set.
class DiscoveryResponder {
public:
    using Answers = std::function<std::vector<SearchAnswer>()>;
    DiscoveryResponder(Answers answers, EventLog& log);
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Listens on `address`:`listenPort` (0: a free port). A broadcast reaches
    // only a socket bound to 0.0.0.0 (or to the broadcast address itself).
    // SO_REUSEADDR lets several responders share a port for broadcasts.
    bool start(const std::string& address, uint16_t listenPort, uint16_t replyPort,
               bool answerRemote = false);
    void stop();
    uint16_t port() const { return port_; }
    int repliesSent() const { return repliesSent_; }
    int requestsIgnored() const { return requestsIgnored_; }

private:
    struct PendingReply {
        std::chrono::steady_clock::time_point due;
        sockaddr_in target;
        std::string bytes;
    };

    void loop();
    void sendDueReplies(std::vector<PendingReply>& pending);

    Answers answers_;
    EventLog& log_;
    int fd_ = -1;
    uint16_t port_ = 0, replyPort_ = 0;
    bool answerRemote_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<int> repliesSent_{0}, requestsIgnored_{0};
    std::thread thread_;
};

}  // namespace tess::devsim
