#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tess {

// A camera's location as its device reports it: pan, tilt, zoom and focus
// positions. A field is known once a reply of this session carried it.
struct ReportedLocation {
    std::optional<uint16_t> pan, tilt, zoom, focus;

    bool complete() const { return pan && tilt && zoom && focus; }
};

// Reads "LOCATION-PAN", "LOCATION-TILT", "LOCATION-ZOOM" and "LOCATION-FOCUS"
// from a GetCameraInfo.cgi reply (text up to its first zero byte) into
// `location`; a key the reply lacks leaves its field as it was. The number of
// keys read.
//
// Each key is searched from the start of the reply; its value starts one
// character after the key (the "=") and must end at a ";" within the reply.
// Values have five digits, more than the four of the session fields, so they
// have a reader of their own: leading spaces and tabs, an optional sign and at most
// ten digits. A longer number, or one without its ";", counts as absent. The
// value saturates at 32 bits and keeps its low 16 (-1 gives 65535).
int readLocationReply(std::string_view reply, ReportedLocation& location);

}  // namespace tess
