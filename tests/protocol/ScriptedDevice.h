#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <utility>

#include "DeviceServer.h"
#include "EventLog.h"
#include "protocol/PaneConnection.h"

namespace tess::testing {

class RepaintCounter : public RepaintTarget {
public:
    void requestRepaint() override { ++count; }
    std::atomic<int> count{0};
};

// A loopback device that answers every request with the reply set last, byte
// for byte, and a pane pointed at it. For replies no real device model sends.
class ScriptedDevice {
public:
    ScriptedDevice() {
        started_ = server_.start();
        pane.window = &repaints;
        pane.session.host = u"127.0.0.1";
        pane.session.devicePort = server_.port();
        pane.session.streamPort = server_.port();
        pane.session.localAddress = "127.0.0.1";
    }
    bool started() const { return started_; }
    uint16_t port() const { return server_.port(); }

    void answer(std::string reply) {
        std::lock_guard lock(mutex_);
        reply_ = std::move(reply);
    }

    devsim::EventLog log;
    RepaintCounter repaints;
    PaneConnection pane;

private:
    std::string reply() {
        std::lock_guard lock(mutex_);
        return reply_;
    }

    std::mutex mutex_;
    std::string reply_;
    devsim::DeviceServer server_{
        [this](const devsim::Request&, devsim::Connection& connection) {
            connection.send(reply());
            connection.close();
        },
        log};
    bool started_ = false;
};

}  // namespace tess::testing
