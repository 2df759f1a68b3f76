#include "protocol/SocketLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tess {

SocketLink::~SocketLink() {
    release();
}

bool SocketLink::open(SocketType type) {
    std::lock_guard lock(handleMutex_);
    if (cancelled_) return false;
    type_ = type;
    const int fd = ::socket(AF_INET, type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (fd < 0) return false;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    socket_.store(fd);
    return true;
}

void SocketLink::setPeer(std::u16string_view host, uint32_t port) {
    char text[64] = {};
    for (size_t i = 0; i < host.size() && i < sizeof text - 1; ++i)
        text[i] = static_cast<char>(host[i] & 0xFF);
    peer_ = {};
    peer_.sin_family = AF_INET;
    peer_.sin_port = htons(static_cast<uint16_t>(port));
    peer_.sin_addr.s_addr = ::inet_addr(text);
    // inet_addr answers INADDR_NONE for anything that is not an address; a
    // device never lives at the broadcast address, so that is "no peer".
    peerUsable_ = peer_.sin_addr.s_addr != INADDR_NONE;
}

void SocketLink::setPeer(const sockaddr_in& peer) {
    peer_ = peer;
    peerUsable_ = true;
}

void SocketLink::connect() {
    const int fd = socket_.load();
    if (fd < 0 || !peerUsable_) return;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) == 0) {
        connected_.store(true);
        return;
    }
    if (errno != EINPROGRESS) return;  // refused or unreachable: known now
    pollfd waiting{fd, POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&waiting, 1, connectTimeoutMs_);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
        connected_.store(true);
}

int SocketLink::receive(void* buffer, size_t length, int milliseconds) {
    const int fd = socket_.load();
    if (fd < 0) return -1;
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, milliseconds) == 0) return -1;  // an error goes on to the read
    const ssize_t count = ::recv(fd, buffer, length, 0);
    return count <= 0 ? -1 : static_cast<int>(count);
}

int SocketLink::send(const void* buffer, size_t length) {
    std::lock_guard lock(handleMutex_);
    const int fd = socket_.load();
    if (fd < 0 || !peerUsable_) return -1;
    // A stream socket is already connected to its peer; naming it again is
    // refused by some systems.
    const bool stream = type_ == SocketType::Stream;
    const ssize_t count = ::sendto(fd, buffer, length, MSG_NOSIGNAL,
                                   stream ? nullptr : reinterpret_cast<const sockaddr*>(&peer_),
                                   stream ? 0 : sizeof peer_);
    return count < 0 ? -1 : static_cast<int>(count);
}

int SocketLink::sendThrough(const void* buffer, size_t length, unsigned interfaceIndex,
                            in_addr source) {
    std::lock_guard lock(handleMutex_);
    const int fd = socket_.load();
    if (fd < 0 || !peerUsable_ || type_ != SocketType::Datagram) return -1;
    iovec data{const_cast<void*>(buffer), length};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &peer_;
    message.msg_namelen = sizeof peer_;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(interfaceIndex);
    info.ipi_spec_dst = source;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    const ssize_t count = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    return count < 0 ? -1 : static_cast<int>(count);
}

void SocketLink::interrupt() {
    std::lock_guard lock(handleMutex_);
    const int fd = socket_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void SocketLink::cancel() {
    std::lock_guard lock(handleMutex_);
    cancelled_ = true;
    const int fd = socket_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void SocketLink::clearCancel() {
    std::lock_guard lock(handleMutex_);
    cancelled_ = false;
}

void SocketLink::close() {
    std::lock_guard lock(handleMutex_);
    const int fd = socket_.load();
    if (fd < 0) return;
    if (::close(fd) == 0 || errno != EBADF) {
        socket_.store(-1);
        connected_.store(false);
    }
}

void SocketLink::release() {
    std::lock_guard lock(handleMutex_);
    const int fd = socket_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

bool SocketLink::enableBroadcast() {
    const int fd = socket_.load();
    const int on = 1;
    return fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

std::string localAddressText() {
    char name[200] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const auto* octets = reinterpret_cast<const unsigned char*>(&address->sin_addr.s_addr);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
    ::freeaddrinfo(found);
    return text;
}

}  // namespace tess
