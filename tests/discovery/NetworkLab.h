#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace tess::testing {

// A network namespace of its own, held open by a child process that does
// nothing else, with its loopback up. Nothing here touches the namespace the
// tests started in: links are made inside the lab's namespaces.
class NetworkNamespace {
public:
    // Empty, with `error` saying why, when the namespace cannot be made.
    static std::unique_ptr<NetworkNamespace> create(std::string& error);
    // Ends the holder; the namespace goes with its last socket.
    ~NetworkNamespace();
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    pid_t holder() const { return holder_; }
    int fd() const { return fd_; }
    // Runs a shell command line inside the namespace; false with the exit
    // status and output in `error` when it fails.
    bool run(const std::string& command, std::string& error) const;

private:
    NetworkNamespace(pid_t holder, int fd) : holder_(holder), fd_(fd) {}
    pid_t holder_;
    int fd_;
};

// Moves the calling thread into a namespace until the end of the scope.
// Sockets opened and threads started meanwhile stay in that namespace.
class InNamespace {
public:
    explicit InNamespace(const NetworkNamespace& into);
    ~InNamespace();
    InNamespace(const InNamespace&) = delete;
    InNamespace& operator=(const InNamespace&) = delete;
    bool entered() const { return entered_; }

private:
    int previous_;
    bool entered_ = false;
};

// The identity (inode) of the calling thread's network namespace and of the
// namespace the test program started in: a search that chooses interfaces by
// itself runs only where the two differ.
unsigned long currentNetworkNamespace();
unsigned long startingNetworkNamespace();

}  // namespace tess::testing
