#include "platform/MessageQueue.h"

#include <algorithm>

#include "platform/MessageSink.h"

namespace tess {

void MessageQueue::tell(std::string_view text) {
    if (text == shown_ || std::find(waiting_.begin(), waiting_.end(), text) != waiting_.end()) {
        return;
    }
    waiting_.emplace_back(text);
    // The box on screen runs its own event loop; the message waits its turn.
    if (showing_) return;
    showing_ = true;
    while (!waiting_.empty()) {
        shown_ = std::move(waiting_.front());
        waiting_.pop_front();
        messageSink().show(shown_);
    }
    shown_.clear();
    showing_ = false;
}

}  // namespace tess
