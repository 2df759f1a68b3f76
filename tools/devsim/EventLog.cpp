#include "EventLog.h"

namespace tess::devsim {

EventLog::~EventLog() {
    if (file_) std::fclose(file_);
}

bool EventLog::writeTo(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

void EventLog::record(Event::Kind kind, std::string bytes) {
    using namespace std::chrono;
    const int64_t now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    {
        std::lock_guard lock(mutex_);
        events_.push_back({kind, std::move(bytes), now});
        if (file_) {
            const std::string line = toJsonLine(events_.back());
            std::fputs(line.c_str(), file_);
            std::fputc('\n', file_);
            std::fflush(file_);
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

std::vector<std::string> EventLog::requests() const { return ofKind(Event::Kind::Request); }
std::vector<std::string> EventLog::datagrams() const { return ofKind(Event::Kind::Datagram); }

bool EventLog::waitUntil(const std::function<bool(const std::vector<Event>&)>& ready,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return ready(events_); });
}

std::string EventLog::toJsonLine(const Event& event) {
    std::string line = "{\"t\":" + std::to_string(event.timeMs) + ",\"kind\":\"";
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
