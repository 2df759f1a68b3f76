#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tess::devsim::testing {

// A bare TCP client on 127.0.0.1 for talking to a simulated device. Every
// read is bounded by its time limit.
class LoopbackClient {
public:
    explicit LoopbackClient(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(port);
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
    }
    ~LoopbackClient() { ::close(fd_); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    bool connected() const { return connected_; }
    bool send(std::string_view bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Reads exactly `count` bytes; fewer when the peer closes or `limit` passes.
    std::string read(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(3)) {
        std::string out;
        const auto until = std::chrono::steady_clock::now() + limit;
        char chunk[4096];
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd waiting{fd_, POLLIN, 0};
            if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
            const ssize_t got = ::recv(fd_, chunk, std::min(sizeof chunk, count - out.size()), 0);
            if (got <= 0) break;
            out.append(chunk, static_cast<size_t>(got));
        }
        return out;
    }
    // One reply: its head and the body its Content-Length announces.
    std::string readReply(std::chrono::milliseconds limit = std::chrono::seconds(3)) {
        std::string reply;
        while (reply.find("\r\n\r\n") == std::string::npos) {
            const std::string byte = read(1, limit);
            if (byte.empty()) return reply;
            reply += byte;
        }
        const size_t at = reply.find("Content-Length: ");
        if (at != std::string::npos)
            reply += read(std::strtoul(reply.c_str() + at + 16, nullptr, 10), limit);
        return reply;
    }
    // True when the peer closed the connection within `limit`.
    bool closedWithin(std::chrono::milliseconds limit) {
        char byte;
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            pollfd waiting{fd_, POLLIN, 0};
            if (::poll(&waiting, 1, 50) > 0 && ::recv(fd_, &byte, 1, 0) <= 0) return true;
        }
        return false;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

}  // namespace tess::devsim::testing
