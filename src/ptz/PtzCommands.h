#pragma once

#include <cstdint>

#include "protocol/DeviceCommand.h"

namespace tess::ptz {

// The device commands of the PTZ buttons, the remote-control keys and the
// aim on the picture. Each decides by the facts of the pane's session as they
// are when it runs on the pane's command worker, and sends nothing where the
// device has no camera (or channel record) to take it.
//
// A command of several requests goes on after a reply without "200 OK" (a
// device that refuses a D0 message may still take the Pelco one) but stops
// at the first request that finds no connection.

// PTZ action `code` (0 ... 27): presets, pan, tilt, zoom, focus and Auto.
DeviceCommand ptzCommand(int code);

// Remote-control key `keyCode`: channels 55 ... 70, split screens and the
// recorder buttons. On a class 3 recorder a key the device took makes
// keyCode - 54 the pane's channel.
DeviceCommand keyCommand(int keyCode);

// A release on the picture of a pane shown alone: the aim point (the release
// point, or the centre of a drag), the drag and the picture's size in pixels.
struct AimGesture {
    int x = 0;
    int y = 0;
    bool dragging = false;
    int pressX = 0;    // where the drag began
    int currentX = 0;  // where it was last
    uint16_t width = 0;
    uint16_t height = 0;
};

// Cameras behind classes 1 and 3 are sent the touched grid cell; cameras of
// classes 6, 7 and 8 are read their location, aimed by their lens model
// (and zoomed by a drag) and written the new one.
DeviceCommand aimCommand(const AimGesture& gesture);

}  // namespace tess::ptz
