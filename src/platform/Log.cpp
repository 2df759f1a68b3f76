#include "platform/Log.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tess {
namespace {

constexpr std::string_view kAreaNames[kLogAreaCount] = {
    "net", "stream", "audio", "ptz", "discovery", "directory", "ui",
};

class StandardErrorLog : public LogSink {
public:
    bool enabled(LogArea, LogLevel level) const override { return level >= LogLevel::Warning; }
    void write(LogArea area, LogLevel, std::string_view line) override {
        // One write() a line, so that lines of two threads never interleave.
        char buffer[kMaxLineBytes + 64];
        const int length =
            std::snprintf(buffer, sizeof buffer, "tessarine.%.*s: %.*s\n",
                          static_cast<int>(logAreaName(area).size()), logAreaName(area).data(),
                          static_cast<int>(line.size()), line.data());
        if (length > 0) {
            const size_t size = std::min(static_cast<size_t>(length), sizeof buffer - 1);
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, buffer, size);
        }
    }
};

StandardErrorLog defaultLog;
std::atomic<LogSink*> installed{&defaultLog};

// Appends the UTF-8 form of `text` to `out` (at most up to `end`), never
// cutting a character in two.
char* appendUtf8(char* out, const char* end, std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        char bytes[4];
        int count;
        if (code < 0x80) {
            bytes[0] = static_cast<char>(code);
            count = 1;
        } else if (code < 0x800) {
            bytes[0] = static_cast<char>(0xC0 | (code >> 6));
            bytes[1] = static_cast<char>(0x80 | (code & 0x3F));
            count = 2;
        } else if (code < 0x10000) {
            bytes[0] = static_cast<char>(0xE0 | (code >> 12));
            bytes[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | (code & 0x3F));
            count = 3;
        } else {
            bytes[0] = static_cast<char>(0xF0 | (code >> 18));
            bytes[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[3] = static_cast<char>(0x80 | (code & 0x3F));
            count = 4;
        }
        if (end - out < count) break;
        std::memcpy(out, bytes, count);
        out += count;
    }
    return out;
}

}  // namespace

std::string_view logAreaName(LogArea area) {
    const int index = static_cast<int>(area);
    return index >= 0 && index < kLogAreaCount ? kAreaNames[index] : "?";
}

LogSink& logSink() {
    return *installed.load();
}

LogSink* installLogSink(LogSink* sink) {
    LogSink* previous = installed.exchange(sink ? sink : &defaultLog);
    return previous == &defaultLog ? nullptr : previous;
}

void logLine(LogArea area, LogLevel level, const char* format, ...) {
    LogSink& sink = logSink();
    if (!sink.enabled(area, level)) return;
    char line[kMaxLineBytes];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    sink.write(area, level, std::string_view(line, std::min<size_t>(length, sizeof line - 1)));
}

void LogDeviceName::set(std::u16string_view label, std::u16string_view address, int port) {
    // The address part first, so that a long label is what gets cut.
    char suffix[64] = " (";
    char* tail = appendUtf8(suffix + 2, suffix + sizeof suffix - 16, address);
    std::snprintf(tail, 16, ":%d)", port);
    const size_t suffixLength = std::strlen(suffix);
    char* out = appendUtf8(text, text + sizeof text - 1 - suffixLength, label);
    std::memcpy(out, suffix, suffixLength + 1);
}

void RecordingLogSink::write(LogArea area, LogLevel level, std::string_view line) {
    std::lock_guard lock(mutex_);
    lines_.push_back({area, level, std::string(line)});
}

std::vector<RecordingLogSink::Line> RecordingLogSink::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::string> RecordingLogSink::texts(LogArea area, LogLevel atLeast) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const Line& line : lines_) {
        if (line.area == area && line.level >= atLeast) texts.push_back(line.text);
    }
    return texts;
}

void RecordingLogSink::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

}  // namespace tess
