#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "protocol/NetworkLimits.h"

namespace tess {

enum class SocketType { Stream, Datagram };

// One IPv4 socket and the peer it talks to. The thread that opens a link does
// its I/O; other threads may only ask whether it is open or connected, or close
// it (the stop routine closes the datagram link under a sending thread).
// No call blocks longer than its time limit.
class SocketLink {
public:
    SocketLink() = default;
    ~SocketLink();
    SocketLink(const SocketLink&) = delete;
    SocketLink& operator=(const SocketLink&) = delete;

    // Creates the socket; false when the system refuses one, in which case the
    // link stays closed and a following connect fails at once.
    bool open(SocketType type);

    // The peer: dotted IPv4 text taken from the low byte of each character of
    // `host` (no name lookup) and a port. A host that is no IPv4 address leaves
    // the link without a usable peer: connect and send then fail at once.
    void setPeer(std::u16string_view host, uint32_t port);
    void setPeer(const sockaddr_in& peer);
    const sockaddr_in& peer() const { return peer_; }

    // Connects to the peer within the connect limit. Only a connection that
    // really exists counts: a refusal is known at once, an unanswered peer
    // when the limit has passed.
    void connect();
    // The connect limit, the product's unless set; set before the link is
    // used by another thread.
    void setConnectTimeout(int milliseconds) { connectTimeoutMs_ = milliseconds; }
    bool connected() const { return connected_.load(); }
    bool isOpen() const { return socket_.load() >= 0; }

    // Waits up to `milliseconds` for data and reads once: the byte count (1 or
    // more), or -1 for a time-out, an error or a peer that closed.
    int receive(void* buffer, size_t length, int milliseconds);
    // One send of the whole buffer to the peer; the count accepted or -1.
    int send(const void* buffer, size_t length);
    // A datagram send that leaves by the interface numbered `interfaceIndex`
    // with `source` (network order) as its sender address, whatever the
    // routing table says: how one broadcast goes out on every interface. The
    // peer must have been set as a sockaddr_in (the broadcast address is no
    // dotted host for setPeer's text form). The count accepted or -1.
    int sendThrough(const void* buffer, size_t length, unsigned interfaceIndex, in_addr source);

    // Wakes a receive or connect that another thread is blocked in (both
    // then fail at once); the socket stays open until closed.
    void interrupt();
    // Interrupts the link and keeps it from opening again until
    // clearCancel(): whatever a thread is about to do with it fails at once.
    // How a pane's stop ends its threads' network waits without a race
    // against a socket that is being opened.
    void cancel();
    void clearCancel();

    // Closes an open socket and clears the connected flag.
    void close();
    // Closes an open socket and forgets it; the connected flag stays.
    void release();
    // Allows sending to a broadcast address.
    bool enableBroadcast();

    int handle() const { return socket_.load(); }

private:
    std::mutex handleMutex_;  // guards opening and closing against a concurrent send
    std::atomic<int> socket_{-1};
    std::atomic<bool> connected_{false};
    bool cancelled_ = false;  // guarded by handleMutex_
    SocketType type_ = SocketType::Stream;
    sockaddr_in peer_{};
    bool peerUsable_ = false;
    int connectTimeoutMs_ = NetworkLimits{}.connectTimeoutMs;
};

// The viewer's own IPv4 address as dotted text, from the host's name; empty
// when the name does not resolve.
std::string localAddressText();

}  // namespace tess
