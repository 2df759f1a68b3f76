#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "platform/TickCount.h"

namespace tess {

// A pane counts as stale when it should be streaming and no frame has come
// for this long.
inline constexpr uint32_t kStaleAfterMs = 2000;

// The milliseconds the pane's health is measured with: tickCount() unless a
// test puts its own clock in.
using HealthClock = uint32_t (*)();

// One reading of a pane's health, plain values taken at one moment.
struct PaneHealth {
    uint64_t framesReceived = 0;  // frames cut from the stream, dropped ones included
    uint64_t bytesReceived = 0;   // their JPEG bytes
    uint64_t receiverDrops = 0;   // frames that found no free slot in the FrameQueue
    uint64_t renderSkips = 0;     // composed pictures replaced before the widget took them
    uint64_t framesRendered = 0;  // pictures composed and handed to the widget
    uint64_t undecodable = 0;     // frames that did not decode
    uint64_t reconnects = 0;      // lost streams that led to a new login
    uint32_t decodeMicros = 0;    // the last frame's decode
    // Since the last frame of this start, or since the start before any.
    // None while the pane is stopped.
    std::optional<uint32_t> ageMs;
    bool stale = false;  // should be streaming and ageMs >= kStaleAfterMs
    // Logging in again after a lost stream; while it waits for the next
    // try, the time left until it.
    bool reconnecting = false;
    std::optional<uint32_t> retryInMs;
};

// The counters and times of one pane, written by its threads (receiver,
// connect thread, render thread) and read whole by anyone through read().
// Counters are single atomics; each time that belongs to a state is packed
// with it into one atomic word, so a reader never sees half of a change.
class PaneStatistics {
public:
    PaneStatistics() = default;
    PaneStatistics(const PaneStatistics&) = delete;
    PaneStatistics& operator=(const PaneStatistics&) = delete;

    // Before the pane starts; `clock` must stay valid while the pane runs.
    void setClock(HealthClock clock) { clock_ = clock != nullptr ? clock : &tickCount; }
    uint32_t now() const { return clock_.load()(); }

    // The pane's runtime: a start begins the age at once, a stop ends it.
    void markStarted() { since_ = kActive | now(); }
    void markStopped() {
        since_ = 0;
        reconnect_ = 0;
    }
    // A receiver of the current start: a frame of `bytes` arrived now.
    void noteFrame(uint32_t bytes) {
        ++framesReceived;
        bytesReceived += bytes;
        since_ = kActive | now();
    }
    // The runtime: the stream was lost and a new login begins.
    void noteReconnect() {
        ++reconnects;
        reconnect_ = kReconnecting;
    }
    // The connect thread waits `milliseconds` before the next try; then tries.
    void noteRetryWait(uint32_t milliseconds) {
        if (reconnect_.load() != 0) reconnect_ = kReconnecting | kWaiting | (now() + milliseconds);
    }
    void noteRetrying() {
        if (reconnect_.load() != 0) reconnect_ = kReconnecting;
    }
    // The streams run again.
    void noteStreaming() { reconnect_ = 0; }

    // Everything at once; `videoWanted` says whether the pane should be
    // receiving pictures at all. The two counters that live with the queue
    // and the picture slot are the caller's to fill in.
    PaneHealth read(bool videoWanted) const;

    std::atomic<uint64_t> framesReceived{0};
    std::atomic<uint64_t> bytesReceived{0};
    std::atomic<uint64_t> framesRendered{0};
    std::atomic<uint64_t> undecodable{0};
    std::atomic<uint64_t> reconnects{0};
    std::atomic<uint32_t> decodeMicros{0};

private:
    static constexpr uint64_t kActive = uint64_t{1} << 32;
    static constexpr uint64_t kReconnecting = uint64_t{1} << 32;
    static constexpr uint64_t kWaiting = uint64_t{1} << 33;

    std::atomic<HealthClock> clock_{&tickCount};
    // kActive | the tick of the last frame (or of the start); 0: stopped.
    std::atomic<uint64_t> since_{0};
    // 0, kReconnecting, or kReconnecting | kWaiting | the tick of the next try.
    std::atomic<uint64_t> reconnect_{0};
};

inline PaneHealth PaneStatistics::read(bool videoWanted) const {
    PaneHealth health;
    const uint32_t at = now();
    const uint64_t since = since_.load();
    const uint64_t reconnect = reconnect_.load();
    health.framesReceived = framesReceived.load();
    health.bytesReceived = bytesReceived.load();
    health.framesRendered = framesRendered.load();
    health.undecodable = undecodable.load();
    health.reconnects = reconnects.load();
    health.decodeMicros = decodeMicros.load();
    if (since & kActive) {
        // Unsigned difference: right across one wrap of the tick counter.
        health.ageMs = at - static_cast<uint32_t>(since);
        health.stale = videoWanted && *health.ageMs >= kStaleAfterMs;
    }
    health.reconnecting = (reconnect & kReconnecting) != 0;
    if (reconnect & kWaiting) {
        const auto left = static_cast<int32_t>(static_cast<uint32_t>(reconnect) - at);
        health.retryInMs = left > 0 ? static_cast<uint32_t>(left) : 0;
    }
    return health;
}

// Frames and kilobits per second over the last second or so, from the
// running totals; for one reader thread, which calls update() per frame.
class RateMeter {
public:
    void update(uint32_t now, uint64_t frames, uint64_t bytes) {
        if (!started_) {
            started_ = true;
            at_ = now;
            frames_ = frames;
            bytes_ = bytes;
            return;
        }
        const uint32_t elapsed = now - at_;
        if (elapsed < kPeriodMs) return;
        framesPerSecondTenths_ = static_cast<uint32_t>((frames - frames_) * 10000 / elapsed);
        kbitPerSecond_ = static_cast<uint32_t>((bytes - bytes_) * 8 / elapsed);
        at_ = now;
        frames_ = frames;
        bytes_ = bytes;
    }
    uint32_t framesPerSecondTenths() const { return framesPerSecondTenths_; }
    uint32_t kbitPerSecond() const { return kbitPerSecond_; }

private:
    static constexpr uint32_t kPeriodMs = 1000;
    bool started_ = false;
    uint32_t at_ = 0;
    uint64_t frames_ = 0;
    uint64_t bytes_ = 0;
    uint32_t framesPerSecondTenths_ = 0;
    uint32_t kbitPerSecond_ = 0;
};

}  // namespace tess
