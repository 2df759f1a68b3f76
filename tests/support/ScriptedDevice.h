#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "DeviceServer.h"
#include "EventLog.h"
#include "protocol/SessionFacts.h"
#include "protocol/SocketLink.h"

namespace tess::testing {

// A loopback device that answers every request with the reply set last, byte
// for byte, and a login and session pointed at it. For replies no real device
// model sends.
class ScriptedDevice {
public:
    static constexpr std::string_view kLocalAddress = "127.0.0.1";

    ScriptedDevice() {
        started_ = server_.start();
        login.host = u"127.0.0.1";
        login.devicePort = server_.port();
        facts.host = login.host;
        facts.devicePort = server_.port();
        facts.streamPort = server_.port();
    }
    bool started() const { return started_; }
    uint16_t port() const { return server_.port(); }

    void answer(std::string reply) {
        std::lock_guard lock(mutex_);
        reply_ = std::move(reply);
    }

    devsim::EventLog log;
    SocketLink link;
    LoginData login;
    SessionFacts facts;

private:
    std::string reply() {
        std::lock_guard lock(mutex_);
        return reply_;
    }

    std::mutex mutex_;
    std::string reply_;
    devsim::DeviceServer server_{[this](const devsim::Request&, devsim::Connection& connection) {
                                     connection.send(reply());
                                     connection.close();
                                 },
                                 log};
    bool started_ = false;
};

}  // namespace tess::testing
