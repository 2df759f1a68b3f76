#pragma once

#include <cstdint>

namespace tess::ptz {

// Optics model of a position-reporting camera: device class 6 -> Model0, 7 -> Model1,
// 8 -> Model2.
enum class Lens { Model0 = 0, Model1 = 1, Model2 = 2 };

// Head position as the camera reports it, each axis in its own device counts.
struct CameraLocation {
    uint16_t pan = 0, tilt = 0, zoom = 0, focus = 0;

    bool operator==(const CameraLocation&) const = default;
};

// New head position in device counts; the caller truncates each toward zero before sending
// and sends nothing when either is not finite.
struct Aim {
    double pan = 0.0;
    double tilt = 0.0;
};

// Horizontal field of view, in pan counts, at zoom position `zoom`.
double fieldOfView(Lens lens, double zoom);

// Zoom position giving a horizontal field of view of `fov` pan counts.
double zoomForFieldOfView(Lens lens, double fov);

// Brings a computed pan and tilt (counts from the head's origin) into the head's travel and
// into the device's own counts.
Aim limitAim(Lens lens, Aim aim);

// Pan and tilt that bring picture pixel (x, y) of a width x height picture to its centre.
// Model 0 first pulls the stored pan, tilt and zoom into the head's travel and keeps the
// pulled-in values in `location`; the other models leave `location` alone. Not a number for a
// picture without pixels.
Aim computeAim(Lens lens, int x, int y, uint16_t width, uint16_t height, CameraLocation& location);

// Zoom after a horizontal drag of dx pixels across a picture `width` pixels wide: a
// left-to-right drag narrows the view to the dragged width, a right-to-left one
// (`zoomOut`) widens it by the inverse ratio. Not a number for a picture of no width.
double computeZoom(Lens lens, uint16_t width, uint16_t dx, uint16_t zoom, bool zoomOut);

}  // namespace tess::ptz
