#include "discovery/Searcher.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/Log.h"
#include "protocol/SocketLink.h"

namespace tess {
namespace {

using Clock = std::chrono::steady_clock;

enum class Wait { Readable, TimedOut, Woken, Failed };

// Waits up to `limit` for `listening` to become readable or `wake` to be
// signalled. A signal that interrupts the wait does not shorten it.
Wait waitForReply(int listening, int wake, std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd waiting[2] = {{listening, POLLIN, 0}, {wake, POLLIN, 0}};
        const int ready = ::poll(waiting, 2, static_cast<int>(std::max<long long>(left, 0)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Wait::Failed;
        if (waiting[1].revents) return Wait::Woken;
        if (waiting[0].revents & POLLNVAL) return Wait::Failed;
        if (waiting[0].revents) return Wait::Readable;  // a receive error is met by the read
        if (ready == 0) return Wait::TimedOut;
    }
}

}  // namespace

SearchSettings SearchSettings::forProgram() {
    SearchSettings settings;
    if (const char* named = std::getenv(kInterfacesVariable)) settings.interfaces = named;
    return settings;
}

Searcher::Searcher(SearchSettings settings, SearchListener& listener)
    : settings_(std::move(settings)),
      listener_(listener),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      thread_(
          "search", [this](const WorkerThread::StopRequest& stop) { run(stop); },
          [this] {
              const uint64_t one = 1;
              [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
          }) {}

Searcher::~Searcher() {
    // The thread first: it waits on the wake-up descriptor closed below.
    thread_.requestStop();
    thread_.join();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool Searcher::start() {
    // Without its wake-up the run could not be cancelled at once.
    if (started_ || wakeFd_ < 0) return false;
    started_ = thread_.start();
    return started_;
}

void Searcher::cancel() {
    thread_.requestStop();
}

std::vector<SearchTarget> Searcher::targets(const SearchSettings& settings) {
    return chooseSearchTargets(systemInterfaceAddresses(), settings.interfaces);
}

void Searcher::run(const WorkerThread::StopRequest& stop) {
    const int listening = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (listening < 0) {
        logLine(LogArea::Discovery, LogLevel::Warning, "search: no socket: %s",
                std::strerror(errno));
        listener_.searchEnded(SearchEnd::NoSocket);
        return;
    }
    // Bound before the request leaves, so that no early reply is lost.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(settings_.replyPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(listening, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        logLine(LogArea::Discovery, LogLevel::Warning, "search: reply port %d not bound: %s",
                static_cast<int>(settings_.replyPort), std::strerror(errno));
        ::close(listening);
        listener_.searchEnded(SearchEnd::BindFailed);
        return;
    }
    const SearchEnd end = collect(listening, stop);
    // Closed before the end is told, so that the next search can bind.
    ::close(listening);
    listener_.searchEnded(end);
}

SearchEnd Searcher::collect(int listening, const WorkerThread::StopRequest& stop) {
    const Clock::time_point startedAt = Clock::now();
    const auto collecting = [&] { return Clock::now() - startedAt < settings_.collection; };
    bool requested = false;
    size_t listed = 0;
    std::vector<SearchRow> batch;
    const auto handOver = [&] {
        if (!batch.empty()) listener_.rowsFound(std::exchange(batch, {}));
    };

    while (collecting()) {
        if (stop) return SearchEnd::Cancelled;
        if (!requested) {
            requested = true;
            if (!sendRequests()) {
                logLine(LogArea::Discovery, LogLevel::Warning,
                        "search: the request went out on no interface");
                listener_.sendFailed();
            }
        }
        switch (waitForReply(listening, wakeFd_, settings_.replyWait)) {
            case Wait::Woken: return SearchEnd::Cancelled;
            case Wait::TimedOut: return SearchEnd::Completed;
            case Wait::Failed:
                logLine(LogArea::Discovery, LogLevel::Warning,
                        "search: waiting for replies failed");
                return SearchEnd::WaitFailed;
            case Wait::Readable: break;
        }
        // This reply and those already queued behind it, one batch at most,
        // each taken only while the collection lasts: the search ends right
        // after the first reply handled once the collection time is over.
        do {
            uint8_t datagram[kSearchDatagramSize];
            const ssize_t count = ::recv(listening, datagram, sizeof datagram, MSG_DONTWAIT);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (count < 0) {  // a receive error ends the search as it is
                handOver();
                return SearchEnd::Completed;
            }
            if (listed < settings_.rowLimit) {
                batch.push_back(parseSearchReply({datagram, static_cast<size_t>(count)}));
                ++listed;
            }
        } while (batch.size() < settings_.batchLimit && collecting());
        handOver();
    }
    return SearchEnd::Completed;
}

bool Searcher::sendRequests() {
    int sent = 0;
    for (const SearchTarget& target : targets(settings_)) {
        // One socket per copy, opened for the send and closed after it.
        SocketLink link;
        if (!link.open(SocketType::Datagram) || !link.enableBroadcast()) continue;
        // An explicit peer: as text, 255.255.255.255 would read as no address.
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(settings_.requestPort);
        peer.sin_addr = target.destination;
        link.setPeer(peer);
        const SearchDatagram request = buildSearchRequest(target.ownAddress());
        if (link.sendThrough(request.data(), request.size(), target.interfaceIndex,
                             target.source) == static_cast<int>(request.size()))
            ++sent;
    }
    return sent > 0;
}

}  // namespace tess
