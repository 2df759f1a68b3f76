#include "protocol/CameraLocation.h"

#include <algorithm>
#include <limits>

#include "protocol/Requests.h"

namespace tess {
namespace {

constexpr size_t kMaxDigits = 10;

// The value of `key`: "KEY" + one separator + [blanks] [sign] digits ... ";",
// where blanks are spaces and tabs.
std::optional<uint16_t> readPosition(std::string_view reply, std::string_view key) {
    const size_t at = reply.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    const size_t start = at + key.size() + 1;
    const size_t end = reply.find(';', std::min(start, reply.size()));
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view text = reply.substr(start, end - start);

    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    if (digits > kMaxDigits) return std::nullopt;
    int64_t value = 0;
    for (char digit : text.substr(0, digits)) value = value * 10 + (digit - '0');
    if (negative) value = -value;
    value = std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                std::numeric_limits<int32_t>::max());
    return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFF);
}

}  // namespace

int readLocationReply(std::string_view reply, ReportedLocation& location) {
    reply = request::untilZero(reply);
    int found = 0;
    auto read = [&](std::string_view key, std::optional<uint16_t>& field) {
        if (const auto value = readPosition(reply, key)) {
            field = value;
            ++found;
        }
    };
    read("LOCATION-PAN", location.pan);
    read("LOCATION-TILT", location.tilt);
    read("LOCATION-ZOOM", location.zoom);
    read("LOCATION-FOCUS", location.focus);
    return found;
}

}  // namespace tess
