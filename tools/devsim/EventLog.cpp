#include "EventLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace tess::devsim {

EventLog::~EventLog() {
    if (fd_ >= 0) ::close(fd_);
}

bool EventLog::writeTo(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

void EventLog::setSource(std::string source) {
    std::lock_guard lock(mutex_);
    source_ = std::move(source);
}

void EventLog::record(Event::Kind kind, std::string bytes) {
    using namespace std::chrono;
    const int64_t now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    {
        std::lock_guard lock(mutex_);
        events_.push_back({kind, std::move(bytes), now});
        if (fd_ >= 0) {
            const std::string line = toJsonLine(events_.back(), source_) + "\n";
            // O_APPEND puts the whole line at the end in one write.
            if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                std::fprintf(stderr, "event log: cannot write a line\n");
        }
    }
    changed_.notify_all();
}

std::vector<Event> EventLog::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::string> EventLog::ofKind(Event::Kind kind) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const Event& event : events_)
        if (event.kind == kind) out.push_back(event.bytes);
    return out;
}

std::vector<std::string> EventLog::requests() const {
    return ofKind(Event::Kind::Request);
}
std::vector<std::string> EventLog::datagrams() const {
    return ofKind(Event::Kind::Datagram);
}

bool EventLog::waitUntil(const std::function<bool(const std::vector<Event>&)>& ready,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return ready(events_); });
}

std::string EventLog::toJsonLine(const Event& event, const std::string& source) {
    std::string line = "{\"t\":" + std::to_string(event.timeMs);
    if (!source.empty()) line += ",\"device\":\"" + source + "\"";
    line += ",\"kind\":\"";
    line += event.kind == Event::Kind::Request ? "request" : "datagram";
    line += "\",\"bytes\":\"";
    for (unsigned char c : event.bytes) {
        switch (c) {
            case '"': line += "\\\""; break;
            case '\\': line += "\\\\"; break;
            case '\r': line += "\\r"; break;
            case '\n': line += "\\n"; break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    line += escaped;
                } else {
                    line += static_cast<char>(c);
                }
        }
    }
    line += "\"}";
    return line;
}

}  // namespace tess::devsim
