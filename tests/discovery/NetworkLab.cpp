#include "NetworkLab.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tess::testing {
namespace {

unsigned long inodeOf(const char* path) {
    struct stat about {};
    return ::stat(path, &about) == 0 ? static_cast<unsigned long>(about.st_ino) : 0;
}

// Taken before any case can move a thread.
const unsigned long kStartingNamespace = inodeOf("/proc/self/ns/net");

}  // namespace

unsigned long currentNetworkNamespace() {
    return inodeOf("/proc/thread-self/ns/net");
}

unsigned long startingNetworkNamespace() {
    return kStartingNamespace;
}

std::unique_ptr<NetworkNamespace> NetworkNamespace::create(std::string& error) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    const pid_t holder = ::fork();
    if (holder < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return nullptr;
    }
    if (holder == 0) {
        // Only async-signal-safe calls here: the test program has threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const char status = ::unshare(CLONE_NEWNET) == 0 ? 'y' : 'n';
        [[maybe_unused]] const ssize_t told = ::write(ready[1], &status, 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char status = 'n';
    const bool told = ::read(ready[0], &status, 1) == 1;
    ::close(ready[0]);
    const std::string path = "/proc/" + std::to_string(holder) + "/ns/net";
    const int fd = told && status == 'y' ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    std::unique_ptr<NetworkNamespace> made(new NetworkNamespace(holder, fd));
    if (fd < 0) {
        error = "unshare(CLONE_NEWNET) failed in the holder process";
        return nullptr;
    }
    if (!made->run("ip link set lo up", error)) return nullptr;
    return made;
}

NetworkNamespace::~NetworkNamespace() {
    if (fd_ >= 0) ::close(fd_);
    ::kill(holder_, SIGKILL);
    ::waitpid(holder_, nullptr, 0);
}

bool NetworkNamespace::run(const std::string& command, std::string& error) const {
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(output[1], 1);
        ::dup2(output[1], 2);
        if (::setns(fd_, CLONE_NEWNET) != 0) ::_exit(126);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(output[1]);
    std::string said;
    char buffer[256];
    for (ssize_t count; (count = ::read(output[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<size_t>(count));
    ::close(output[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        error = "\"" + command + "\" failed (status " + std::to_string(status) + "): " + said;
        return false;
    }
    return true;
}

InNamespace::InNamespace(const NetworkNamespace& into)
    : previous_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    entered_ = previous_ >= 0 && ::setns(into.fd(), CLONE_NEWNET) == 0;
}

InNamespace::~InNamespace() {
    if (entered_) ::setns(previous_, CLONE_NEWNET);
    if (previous_ >= 0) ::close(previous_);
}

}  // namespace tess::testing
