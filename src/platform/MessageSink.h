#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tess {

// Where every message for the user goes. The windows call it on the GUI
// thread; the call returns when the user has dismissed the message (on
// screen, a topmost box). Workers never call it: they report failures as
// values, and no worker waits for a user.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    // A message with an OK button.
    virtual void show(std::string_view text) = 0;
    // A question with OK and Cancel; true for OK.
    virtual bool confirm(std::string_view text) = 0;
};

// The program's sink. Until one is installed, messages go to standard error
// and questions are answered with Cancel.
MessageSink& messageSink();
// Installs `sink` (not owned) and returns the previous one; nullptr restores
// the default.
MessageSink* installMessageSink(MessageSink* sink);

// Remembers every message, for tests; questions get `confirmAnswer`.
class RecordingMessageSink : public MessageSink {
public:
    void show(std::string_view text) override;
    bool confirm(std::string_view text) override;

    std::vector<std::string> messages() const;
    void clear();
    void setConfirmAnswer(bool answer);

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    bool confirmAnswer_ = true;
};

// Installs a sink for the lifetime of a scope and restores the previous one.
class ScopedMessageSink {
public:
    explicit ScopedMessageSink(MessageSink& sink) : previous_(installMessageSink(&sink)) {}
    ~ScopedMessageSink() { installMessageSink(previous_); }
    ScopedMessageSink(const ScopedMessageSink&) = delete;
    ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

private:
    MessageSink* previous_;
};

}  // namespace tess
