#pragma once

#include <deque>
#include <string>
#include <string_view>

namespace tess {

// Messages for the user, one box at a time through the message sink: a text
// that is on screen or waiting already is dropped, others wait their turn.
// GUI thread only.
class MessageQueue {
public:
    // Returns once every message queued from here on has been dismissed, or
    // at once when a box of an outer call is on screen (its loop shows this
    // one after it).
    void tell(std::string_view text);

private:
    std::deque<std::string> waiting_;
    std::string shown_;
    bool showing_ = false;
};

}  // namespace tess
