#pragma once

#include <string_view>

#include <QLoggingCategory>

#include "platform/Log.h"

namespace tess {

// The program's log: one logging category per area (tessarine.net, .stream,
// .audio, .ptz, .discovery, .directory, .ui), with debug output off unless
// QT_LOGGING_RULES turns it on, and one message handler that writes every
// line, Qt's own included, to standard error (and so to the journal when the
// program was started from the desktop).
const QLoggingCategory& logCategory(LogArea area);

// Installs the message handler; once, at start-up.
void installLogMessageHandler();

// The libraries' lines, filtered by the area's category and written by the
// same handler. They do not pass through Qt's message functions, which
// allocate: a streaming thread's line is written from its stack.
class QtLogSink final : public LogSink {
public:
    bool enabled(LogArea area, LogLevel level) const override;
    void write(LogArea area, LogLevel level, std::string_view line) override;
};

}  // namespace tess
