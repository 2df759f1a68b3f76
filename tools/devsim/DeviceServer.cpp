#include "DeviceServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

namespace tess::devsim {
namespace {

constexpr int kPollMs = 100;            // how often idle loops look at the stop flag
constexpr size_t kMaxHeadBytes = 8192;  // a device's request buffer is far smaller
constexpr size_t kMaxBodyBytes = 4096;

// Waits until `fd` is readable; false when the server stops first.
// Waits until `fd` is readable or `wakeFd` is signalled; false on the latter.
bool waitReadableOrWoken(int fd, int wakeFd) {
    pollfd waiting[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(waiting, 2, -1);
        if (ready < 0 && errno != EINTR) return false;
        if (waiting[1].revents) return false;
        if (ready > 0) return true;
    }
}

bool waitReadable(int fd, const std::atomic<bool>& stopping) {
    while (!stopping) {
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, kPollMs);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

size_t contentLength(std::string_view head) {
    constexpr std::string_view key = "Content-Length: ";
    const size_t at = head.find(key);
    if (at == std::string_view::npos) return 0;
    return std::strtoul(std::string(head.substr(at + key.size(), 8)).c_str(), nullptr, 10);
}

}  // namespace

std::string_view Request::target() const {
    const std::string_view view(head);
    const size_t start = view.find(' ');
    if (start == std::string_view::npos) return {};
    const size_t end = view.find(' ', start + 1);
    return view.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
}

std::string_view Request::path() const {
    const std::string_view full = target();
    return full.substr(0, full.find('?'));
}

std::string Request::queryValue(std::string_view name) const {
    const std::string_view full = target();
    const size_t query = full.find('?');
    if (query == std::string_view::npos) return {};
    size_t at = query + 1;
    while (at < full.size()) {
        const size_t end = std::min(full.find('&', at), full.size());
        const std::string_view pair = full.substr(at, end - at);
        if (pair.size() > name.size() && pair.substr(0, name.size()) == name &&
            pair[name.size()] == '=')
            return std::string(pair.substr(name.size() + 1));
        at = end + 1;
    }
    return {};
}

std::string Request::bodyLine(std::string_view name) const {
    const std::string key = std::string(name) + ": ";
    const size_t at = body.find(key);
    if (at == std::string::npos) return {};
    const size_t start = at + key.size();
    return body.substr(start, body.find("\r\n", start) - start);
}

bool readRequest(int fd, Request& request, const std::atomic<bool>& stopping,
                 std::string& pending) {
    std::string bytes = std::move(pending);
    pending.clear();
    char chunk[2048];
    auto receiveMore = [&] {
        if (!waitReadable(fd, stopping)) return false;
        const ssize_t count = ::recv(fd, chunk, sizeof chunk, 0);
        if (count <= 0) return false;
        bytes.append(chunk, static_cast<size_t>(count));
        return true;
    };
    size_t headEnd;
    while ((headEnd = bytes.find("\r\n\r\n")) == std::string::npos)
        if (bytes.size() > kMaxHeadBytes || !receiveMore()) return false;
    const size_t bodyStart = headEnd + 4;
    request.head = bytes.substr(0, bodyStart);
    const size_t wanted = contentLength(request.head);
    if (wanted > kMaxBodyBytes) return false;
    while (bytes.size() - bodyStart < wanted)
        if (!receiveMore()) return false;
    request.body = bytes.substr(bodyStart, wanted);
    pending = bytes.substr(bodyStart + wanted);
    return true;
}

bool Connection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (stopping_) return false;
        pollfd waiting{fd_, POLLOUT, 0};
        const int ready = ::poll(&waiting, 1, kPollMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        const ssize_t count = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(count));
    }
    return true;
}

bool Connection::sleepFor(std::chrono::milliseconds duration) const {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (!stopping_) {
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::milliseconds::zero()) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            left, std::chrono::milliseconds(kPollMs)));
    }
    return false;
}

void Connection::holdOpen() const {
    char sink[512];
    while (waitReadable(fd_, stopping_))
        if (::recv(fd_, sink, sizeof sink, 0) <= 0) return;
}

DeviceServer::DeviceServer(RequestHandler onRequest, EventLog& log, DatagramHandler onDatagram)
    : onRequest_(std::move(onRequest)), onDatagram_(std::move(onDatagram)), log_(log) {}

DeviceServer::~DeviceServer() {
    stop();
}

bool DeviceServer::bindBoth(const std::string& address, uint16_t port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) return false;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    datagramFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const auto* where = reinterpret_cast<const sockaddr*>(&local);
    if (listenFd_ < 0 || datagramFd_ < 0 || ::bind(listenFd_, where, sizeof local) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        stop();
        return false;
    }
    socklen_t size = sizeof local;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&local), &size);
    if (::bind(datagramFd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        stop();
        return false;
    }
    port_ = ntohs(local.sin_port);
    return true;
}

bool DeviceServer::start(const std::string& address, uint16_t port, bool below10000) {
    stopping_ = false;
    if (port != 0 || !below10000) {
        if (!bindBoth(address, port)) return false;
    } else {
        // Try random ports in 2000..9999 until both TCP and UDP are free.
        std::mt19937 pick(std::random_device{}());
        std::uniform_int_distribution<int> range(2000, 9999);
        bool bound = false;
        for (int attempt = 0; attempt < 200 && !bound; ++attempt)
            bound = bindBoth(address, static_cast<uint16_t>(range(pick)));
        if (!bound) return false;
        stopping_ = false;
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        stop();
        return false;
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
    datagramThread_ = std::thread([this] { datagramLoop(); });
    return true;
}

void DeviceServer::stop() {
    // Shutting the listening socket first refuses new connections at once; the
    // flag set after it tells handlers that the port is shut; the wake-up ends
    // the accept and datagram loops.
    if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
    stopping_ = true;
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        if (::write(wakeFd_, &one, sizeof one) != sizeof one) std::abort();  // cannot fail
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    if (datagramThread_.joinable()) datagramThread_.join();
    {
        std::lock_guard lock(clientsMutex_);
        for (auto& client : clients_) ::shutdown(client->fd, SHUT_RDWR);
    }
    for (auto& client : clients_)
        if (client->thread.joinable()) client->thread.join();
    for (auto& client : clients_) ::close(client->fd);
    clients_.clear();
    if (listenFd_ >= 0) ::close(listenFd_);
    if (datagramFd_ >= 0) ::close(datagramFd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
    listenFd_ = datagramFd_ = wakeFd_ = -1;
}

void DeviceServer::reapFinishedClients() {
    std::lock_guard lock(clientsMutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            ::close((*it)->fd);
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

void DeviceServer::acceptLoop() {
    while (waitReadableOrWoken(listenFd_, wakeFd_)) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        reapFinishedClients();
        if (fd < 0) continue;
        auto client = std::make_unique<Client>();
        client->fd = fd;
        Client& served = *client;
        std::lock_guard lock(clientsMutex_);
        clients_.push_back(std::move(client));
        served.thread = std::thread([this, &served] { serve(served); });
    }
}

void DeviceServer::serve(Client& client) {
    Request request;
    std::string pending;
    Connection connection(client.fd, stopping_);
    while (!connection.closeRequested() && readRequest(client.fd, request, stopping_, pending)) {
        log_.record(Event::Kind::Request, request.head + request.body);
        onRequest_(request, connection);
    }
    ::shutdown(client.fd, SHUT_RDWR);
    client.done = true;
}

void DeviceServer::datagramLoop() {
    char datagram[2048];
    while (waitReadableOrWoken(datagramFd_, wakeFd_)) {
        const ssize_t count = ::recv(datagramFd_, datagram, sizeof datagram, 0);
        if (count <= 0) continue;
        const std::string_view bytes(datagram, static_cast<size_t>(count));
        log_.record(Event::Kind::Datagram, std::string(bytes));
        if (onDatagram_) onDatagram_(bytes);
    }
}

}  // namespace tess::devsim
