#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "EventLog.h"

namespace tess::devsim {

// One request as the device read it: the head up to and including the empty
// line, and the body that its Content-Length announced.
struct Request {
    std::string head;
    std::string body;

    // The request target, e.g. "/Login.cgi?Username=admin&Password=velum".
    std::string_view target() const;
    // The path of the target without its query, e.g. "/Login.cgi".
    std::string_view path() const;
    // The value of `name` in the target's query, or empty.
    std::string queryValue(std::string_view name) const;
    // The value of a body line "name: value", or empty.
    std::string bodyLine(std::string_view name) const;
};

// What a request handler may do with the connection it answers on. Every wait
// ends when the server stops.
class Connection {
public:
    Connection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}

    // Sends all of `bytes`; false once the peer is gone or the server stops.
    bool send(std::string_view bytes);
    // Sleeps; false when the server stopped meanwhile.
    bool sleepFor(std::chrono::milliseconds duration) const;
    // Keeps the connection open without answering until the peer closes it or
    // the server stops.
    void holdOpen() const;
    // Ends the connection once the handler returns.
    void close() { closeRequested_ = true; }
    bool closeRequested() const { return closeRequested_; }
    bool stopping() const { return stopping_.load(); }

private:
    int fd_;
    const std::atomic<bool>& stopping_;
    bool closeRequested_ = false;
};

using RequestHandler = std::function<void(const Request&, Connection&)>;
using DatagramHandler = std::function<void(std::string_view)>;

// A device's network side on one port: the CGI service and streams on TCP,
// control datagrams on UDP. Every request and datagram goes to the event log
// before it is handled. Each connection is served on a thread of its own;
// `stop` ends them all.
class DeviceServer {
public:
    DeviceServer(RequestHandler onRequest, EventLog& log, DatagramHandler onDatagram = {});
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    // Listens on `address`:`port` (0 picks a free port; with `below10000` the
    // pick stays below 10000, for ports that go into 4-digit reply fields).
    bool start(const std::string& address = "127.0.0.1", uint16_t port = 0,
               bool below10000 = false);
    void stop();
    uint16_t port() const { return port_; }

private:
    struct Client {
        std::thread thread;
        int fd = -1;
        std::atomic<bool> done{false};
    };

    bool bindBoth(const std::string& address, uint16_t port);
    void acceptLoop();
    void datagramLoop();
    void serve(Client& client);
    void reapFinishedClients();

    RequestHandler onRequest_;
    DatagramHandler onDatagram_;
    EventLog& log_;
    int listenFd_ = -1;
    int datagramFd_ = -1;
    int wakeFd_ = -1;  // eventfd signalled by stop()
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::thread datagramThread_;
    std::mutex clientsMutex_;
    std::list<std::unique_ptr<Client>> clients_;
};

// Reads one request from `fd`; false on a closed peer, a stopped server or a
// head or body too large for a device to take. `pending` carries the bytes
// received past the request's body over to the next call on the connection.
bool readRequest(int fd, Request& request, const std::atomic<bool>& stopping, std::string& pending);

}  // namespace tess::devsim
