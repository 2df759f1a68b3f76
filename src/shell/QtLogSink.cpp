#include "shell/QtLogSink.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace tess {
namespace {

// Info and above by default; debug when the rules ask.
Q_LOGGING_CATEGORY(logNet, "tessarine.net", QtInfoMsg)
Q_LOGGING_CATEGORY(logStream, "tessarine.stream", QtInfoMsg)
Q_LOGGING_CATEGORY(logAudio, "tessarine.audio", QtInfoMsg)
Q_LOGGING_CATEGORY(logPtz, "tessarine.ptz", QtInfoMsg)
Q_LOGGING_CATEGORY(logDiscovery, "tessarine.discovery", QtInfoMsg)
Q_LOGGING_CATEGORY(logDirectory, "tessarine.directory", QtInfoMsg)
Q_LOGGING_CATEGORY(logUi, "tessarine.ui", QtInfoMsg)

QtMsgType messageType(LogLevel level) {
    switch (level) {
        case LogLevel::Debug: return QtDebugMsg;
        case LogLevel::Info: return QtInfoMsg;
        case LogLevel::Warning: return QtWarningMsg;
        case LogLevel::Error: return QtCriticalMsg;
    }
    return QtWarningMsg;
}

const char* typeName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg: return "debug";
        case QtInfoMsg: return "info";
        case QtWarningMsg: return "warning";
        case QtCriticalMsg: return "error";
        case QtFatalMsg: return "fatal";
    }
    return "?";
}

// The one place a line is written: "category level: text", with one write()
// so that lines of two threads never interleave. A line longer than the
// buffer is cut; nothing is allocated.
void writeLine(QtMsgType type, const char* category, std::string_view text) {
    char buffer[kMaxLineBytes + 96];
    const int length =
        std::snprintf(buffer, sizeof buffer, "%s %s: %.*s\n", category ? category : "tessarine",
                      typeName(type), static_cast<int>(text.size()), text.data());
    if (length <= 0) return;
    size_t size = std::min(static_cast<size_t>(length), sizeof buffer - 1);
    buffer[size - 1] = '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, buffer, size);
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* category = context.category;
    if (!category || std::string_view(category) == "default") category = "tessarine";
    // Qt's messages may hold several lines: each is written as one.
    const QByteArray bytes = message.toUtf8();
    for (const QByteArray& line : bytes.split('\n')) {
        if (!line.isEmpty()) writeLine(type, category, {line.constData(), size_t(line.size())});
    }
    if (type == QtFatalMsg) std::abort();
}

}  // namespace

const QLoggingCategory& logCategory(LogArea area) {
    switch (area) {
        case LogArea::Net: return logNet();
        case LogArea::Stream: return logStream();
        case LogArea::Audio: return logAudio();
        case LogArea::Ptz: return logPtz();
        case LogArea::Discovery: return logDiscovery();
        case LogArea::Directory: return logDirectory();
        case LogArea::Ui: return logUi();
    }
    return logUi();
}

void installLogMessageHandler() {
    // Each category is made here, on the starting thread, and not on the
    // first streaming thread that logs to it.
    for (int area = 0; area < kLogAreaCount; ++area) logCategory(static_cast<LogArea>(area));
    qInstallMessageHandler(handleMessage);
}

bool QtLogSink::enabled(LogArea area, LogLevel level) const {
    return logCategory(area).isEnabled(messageType(level));
}

void QtLogSink::write(LogArea area, LogLevel level, std::string_view line) {
    writeLine(messageType(level), logCategory(area).categoryName(), line);
}

}  // namespace tess
