// Camera location replies: any bytes, as one receive leaves them in the
// command reply buffer, read as the location aim reads them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "protocol/CameraLocation.h"
#include "protocol/CgiExchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tess::CommandReply reply;
    std::memcpy(reply.bytes.data(), data, std::min(size, tess::CommandReply::kCapacity));
    const std::string_view text = reply.text();

    tess::ReportedLocation location;
    const int found = tess::readLocationReply(text, location);
    // A field is only ever read where its key stands in the reply.
    const bool hasPan = text.find("LOCATION-PAN") != std::string_view::npos;
    if (found < 0 || found > 4 || (location.pan && !hasPan)) __builtin_trap();

    // Reading again finds the same values.
    tess::ReportedLocation again;
    if (tess::readLocationReply(text, again) != found || again.pan != location.pan ||
        again.tilt != location.tilt || again.zoom != location.zoom || again.focus != location.focus)
        __builtin_trap();
    return 0;
}
