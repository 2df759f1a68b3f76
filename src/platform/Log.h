#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tess {

// What went wrong where, for the person who reads standard error or the
// journal. The libraries below the windows log here, as they report messages
// for the user through the message sink; the program maps each area to a
// logging category of its own (shell/QtLogSink), tests record the lines.
//
// Which events are logged: reconnects, resynchronisations, sound-server
// trouble and save failures once per event, naming the device by its label
// and address; frames dropped by a pane as one summary line every few
// seconds. Never a password or a session id, and nothing per frame in the
// steady state.
//
// logLine() formats into a buffer on the caller's stack and allocates nothing,
// so the streaming threads may log; a line longer than kMaxLineBytes is cut.
enum class LogArea { Net, Stream, Audio, Ptz, Discovery, Directory, Ui };
inline constexpr int kLogAreaCount = 7;

enum class LogLevel { Debug, Info, Warning, Error };

// "net", "stream", ...: the area's part of the category name.
std::string_view logAreaName(LogArea area);

class LogSink {
public:
    virtual ~LogSink() = default;
    // Any thread, at any time; must not block for long. Asked before a line
    // is formatted.
    virtual bool enabled(LogArea area, LogLevel level) const = 0;
    // Any thread. `line` is one line without its newline, valid for the call.
    virtual void write(LogArea area, LogLevel level, std::string_view line) = 0;
};

// The program's sink. Until one is installed, warnings and errors go to
// standard error and the rest is dropped.
LogSink& logSink();
// Installs `sink` (not owned) and returns the previous one; nullptr restores
// the default. Installed before any thread logs and kept until they end.
LogSink* installLogSink(LogSink* sink);

inline constexpr std::size_t kMaxLineBytes = 400;

// Formats a line printf-style into a stack buffer and hands it to the sink,
// when the sink wants it. Allocates nothing.
void logLine(LogArea area, LogLevel level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A device as logs name it: "label (address:port)", in a fixed buffer that a
// pane fills once per start, so that streaming threads name it without
// formatting.
struct LogDeviceName {
    char text[96] = "?";
    // Converts the UTF-16 label and address; a name that does not fit is cut.
    void set(std::u16string_view label, std::u16string_view address, int port);
    const char* c_str() const { return text; }
};

// Remembers every line, for tests; every level is enabled.
class RecordingLogSink : public LogSink {
public:
    struct Line {
        LogArea area;
        LogLevel level;
        std::string text;
    };
    bool enabled(LogArea, LogLevel) const override { return true; }
    void write(LogArea area, LogLevel level, std::string_view line) override;

    std::vector<Line> lines() const;
    // The lines of `area` at `level` or above.
    std::vector<std::string> texts(LogArea area, LogLevel atLeast = LogLevel::Warning) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

// Installs a sink for the lifetime of a scope and restores the previous one.
class ScopedLogSink {
public:
    explicit ScopedLogSink(LogSink& sink) : previous_(installLogSink(&sink)) {}
    ~ScopedLogSink() { installLogSink(previous_); }
    ScopedLogSink(const ScopedLogSink&) = delete;
    ScopedLogSink& operator=(const ScopedLogSink&) = delete;

private:
    LogSink* previous_;
};

}  // namespace tess
