#pragma once

#include <cstddef>
#include <string_view>

namespace tess {

// A field of a device reply: a key, one separator character (normally "="),
// a value of at most 4 characters, and ";". Replies are text up to their first
// zero byte.
struct ReplyField {
    bool present = false;   // key found and value well formed
    int value = 0;          // decimal value; 0 when absent
    size_t valueStart = 0;  // origin for the next field read in sequence
};

// Reads `key` at or after `origin`. A missing key, a value without ";" or a
// value longer than 4 characters reads as absent (0). When the key is missing
// the origin stays where it was; otherwise it moves to the value's start, which
// is how repeated records are read one after another.
ReplyField readReplyField(std::string_view reply, std::string_view key, size_t origin = 0);

// Reads fields one after another, each search starting at the previous value.
class ReplyFieldReader {
public:
    explicit ReplyFieldReader(std::string_view reply, size_t origin = 0)
        : reply_(reply), origin_(origin) {}
    int next(std::string_view key) {
        const ReplyField field = readReplyField(reply_, key, origin_);
        origin_ = field.valueStart;
        return field.value;
    }
    size_t origin() const { return origin_; }

private:
    std::string_view reply_;
    size_t origin_;
};

}  // namespace tess
