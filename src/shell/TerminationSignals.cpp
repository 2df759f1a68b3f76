#include "shell/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <QSocketNotifier>

namespace tess {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the signal handler: lock-free, so safe to load there.
std::atomic<int> gWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onTerminationSignal(int) {
    const int savedErrno = errno;
    const int fd = gWriteFd.load();
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already holds a pending request; nothing is lost.
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
    gWriteFd.store(writeFd_);

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed_ = true;
    for (const int number : kSignals) {
        installed_ = ::sigaction(number, &action, nullptr) == 0 && installed_;
    }
    notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::drain);
}

TerminationSignals::~TerminationSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals) {
        ::sigaction(number, &action, nullptr);
    }
    gWriteFd.store(-1);
    delete notifier_;
    if (readFd_ >= 0) {
        ::close(readFd_);
        ::close(writeFd_);
    }
}

void TerminationSignals::drain() {
    char bytes[16];
    while (::read(readFd_, bytes, sizeof bytes) > 0) {
    }
    emit requested();
}

}  // namespace tess
