#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "pane/PaneStatistics.h"
#include "pane/PaneTimings.h"
#include "platform/Log.h"
#include "protocol/ControlMessage.h"
#include "protocol/Negotiation.h"
#include "protocol/SessionFacts.h"
#include "protocol/SocketLink.h"

namespace tess {

// One pane's device connection: its links, its flags and the facts its
// current session learned.
//  - controlLink (TCP): login and negotiation exchanges, then the video stream;
//  - audioLink (TCP): the audio stream;
//  - datagramLink (UDP): control datagrams to host and device port.
//
// The facts are published whole under a mutex, stamped with the pane's
// generation: a thread of an earlier start or stop can no longer publish.
// Readers take a copy.
class PaneConnection {
public:
    // `timings` must outlive the connection.
    explicit PaneConnection(std::string localAddress, const PaneTimings& timings = kProductTimings)
        : localAddress(std::move(localAddress)), timings(timings) {
        controlLink.setConnectTimeout(timings.connectTimeoutMs);
        audioLink.setConnectTimeout(timings.connectTimeoutMs);
    }
    PaneConnection(const PaneConnection&) = delete;
    PaneConnection& operator=(const PaneConnection&) = delete;

    SocketLink controlLink;
    SocketLink audioLink;
    SocketLink datagramLink;
    // The viewer's own address, the Host header of every request.
    const std::string localAddress;
    // The limits and delays its threads keep to.
    const PaneTimings& timings;
    // The start's login data: installed while none of the pane's connection
    // threads runs, read by them afterwards.
    LoginData login;
    // The device as the log names it, set with the login data.
    LogDeviceName deviceName;

    // While set, connect failures are silent and the connection is retried.
    std::atomic<bool> keepRetrying{false};
    // Set from a start or stop until the stream receivers are started;
    // suppresses reconnects.
    std::atomic<bool> stopping{false};
    std::atomic<bool> videoWanted{false};
    std::atomic<bool> audioWanted{false};
    // Pass received audio on to decoding and playback.
    std::atomic<bool> audioToPlayer{true};
    // What the device is told in its statistics datagrams.
    StreamStatistics statistics;
    // The pane's own counters and times, for the viewer.
    PaneStatistics health;

    // Begins a generation with no facts; the new generation.
    uint32_t beginGeneration() {
        std::lock_guard lock(mutex_);
        facts_ = SessionFacts{};
        return ++generation_;
    }
    uint32_t generation() const {
        std::lock_guard lock(mutex_);
        return generation_;
    }
    SessionFacts facts() const {
        std::lock_guard lock(mutex_);
        return facts_;
    }
    // Makes the facts a connect attempt negotiated the session's, and
    // `facts` what was published. The attempt worked on a copy taken when it
    // began, on `channelAtStart`; a channel that a command published since
    // goes on as channelAfterNegotiation() says. False (nothing changes) when
    // `generation` is no longer the pane's.
    bool publishNegotiated(SessionFacts& facts, int32_t channelAtStart, uint32_t generation) {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return false;
        if (facts_.channel != channelAtStart) {
            facts.channel = channelAfterNegotiation(facts, facts_.channel);
        }
        facts_ = facts;
        return true;
    }
    // The channel a command chose; false when `generation` is over.
    bool publishChannel(int32_t channel, uint32_t generation) {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return false;
        facts_.channel = channel;
        return true;
    }

private:
    mutable std::mutex mutex_;
    SessionFacts facts_;
    uint32_t generation_ = 0;
};

}  // namespace tess
