#include "platform/MessageSink.h"

#include <atomic>
#include <cstdio>

namespace tess {
namespace {

class StandardErrorSink : public MessageSink {
public:
    void show(std::string_view text) override {
        std::fprintf(stderr, "tessarine: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    bool confirm(std::string_view text) override {
        show(text);
        return false;
    }
};

StandardErrorSink defaultSink;
std::atomic<MessageSink*> installed{&defaultSink};

}  // namespace

MessageSink& messageSink() {
    return *installed.load();
}

MessageSink* installMessageSink(MessageSink* sink) {
    MessageSink* previous = installed.exchange(sink ? sink : &defaultSink);
    return previous == &defaultSink ? nullptr : previous;
}

void RecordingMessageSink::show(std::string_view text) {
    std::lock_guard lock(mutex_);
    messages_.emplace_back(text);
}

bool RecordingMessageSink::confirm(std::string_view text) {
    std::lock_guard lock(mutex_);
    messages_.emplace_back(text);
    return confirmAnswer_;
}

std::vector<std::string> RecordingMessageSink::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

void RecordingMessageSink::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

void RecordingMessageSink::setConfirmAnswer(bool answer) {
    std::lock_guard lock(mutex_);
    confirmAnswer_ = answer;
}

}  // namespace tess
