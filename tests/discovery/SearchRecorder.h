#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "discovery/Searcher.h"

namespace tess::testing {

// Keeps what a search told, with the times since it was made.
class SearchRecorder : public SearchListener {
public:
    using Clock = std::chrono::steady_clock;

    void sendFailed() override {
        std::lock_guard lock(mutex_);
        ++sendFailures_;
    }
    void rowsFound(std::vector<SearchRow> rows) override {
        std::lock_guard lock(mutex_);
        batches_.push_back(rows.size());
        for (SearchRow& row : rows) rows_.push_back(std::move(row));
    }
    void searchEnded(SearchEnd end) override {
        std::lock_guard lock(mutex_);
        end_ = end;
        endedAfter_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - made_);
        ended_.notify_all();
    }

    // The end, waiting up to `limit` for it.
    std::optional<SearchEnd> waitForEnd(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        ended_.wait_for(lock, limit, [this] { return end_.has_value(); });
        return end_;
    }
    std::chrono::milliseconds endedAfter() const {
        std::lock_guard lock(mutex_);
        return endedAfter_;
    }
    std::vector<SearchRow> rows() const {
        std::lock_guard lock(mutex_);
        return rows_;
    }
    std::vector<size_t> batches() const {
        std::lock_guard lock(mutex_);
        return batches_;
    }
    int sendFailures() const {
        std::lock_guard lock(mutex_);
        return sendFailures_;
    }

private:
    const Clock::time_point made_ = Clock::now();
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::optional<SearchEnd> end_;
    std::chrono::milliseconds endedAfter_{};
    std::vector<SearchRow> rows_;
    std::vector<size_t> batches_;
    int sendFailures_ = 0;
};

// A UDP port held by a socket of its own until release(), so that nothing
// started meanwhile (a responder on a free port) can take it: where a test's
// search listens.
class ReservedUdpPort {
public:
    ReservedUdpPort() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t size = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
        port_ = ntohs(local.sin_port);
    }
    ~ReservedUdpPort() { release(); }
    ReservedUdpPort(const ReservedUdpPort&) = delete;
    ReservedUdpPort& operator=(const ReservedUdpPort&) = delete;
    uint16_t port() const { return port_; }
    void release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    uint16_t port_ = 0;
};

// Sends `bytes` as one datagram to 127.0.0.1:`port`, from anywhere.
inline void sendDatagram(uint16_t port, const void* bytes, size_t size) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, bytes, size, 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    ::close(fd);
}

}  // namespace tess::testing
