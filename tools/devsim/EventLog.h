#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tess::devsim {

// One thing the device received, byte for byte.
struct Event {
    enum class Kind { Request, Datagram };
    Kind kind;
    std::string bytes;
    int64_t timeMs;  // milliseconds since the Unix epoch
};

// Every request and datagram a simulated device received, kept in memory for
// tests and optionally appended to a file as JSON lines.
class EventLog {
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Also writes every event to `path` (appending); false when it can't be opened.
    // Each line goes out in one append, so several logs may share one file.
    bool writeTo(const std::string& path);
    // A name written into every JSON line ("device":...), e.g. to tell devices apart.
    void setSource(std::string source);

    void record(Event::Kind kind, std::string bytes);
    std::vector<Event> events() const;
    std::vector<std::string> requests() const;
    std::vector<std::string> datagrams() const;

    // Waits until `ready` holds for the events seen so far, or `timeout` passed.
    bool waitUntil(const std::function<bool(const std::vector<Event>&)>& ready,
                   std::chrono::milliseconds timeout) const;

    // {"t":..., "kind":"request", "bytes":"..."} with the bytes JSON escaped;
    // with a source, "device":"..." follows the time.
    static std::string toJsonLine(const Event& event, const std::string& source = {});

private:
    std::vector<std::string> ofKind(Event::Kind kind) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
    int fd_ = -1;
    std::string source_;
};

}  // namespace tess::devsim
