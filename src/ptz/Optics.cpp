#include "ptz/Optics.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>

namespace tess::ptz {
namespace {

// The 12-digit π and values derived from it, deliberately not the library's: the counts
// sent are truncated, so the extra digits would move some aims by a count.
constexpr double kPi = std::bit_cast<double>(uint64_t{0x400921FB54442EEA});
constexpr double kTwoPi = std::bit_cast<double>(uint64_t{0x401921FB54442EEA});
constexpr double kInvTwoPi = std::bit_cast<double>(uint64_t{0x3FC45F306DC9C709});
static_assert(kPi == 3.14159265359);
static_assert(kTwoPi == 6.28318530718);
static_assert(kInvTwoPi == 0.15915494309188485);

// Two fitted coefficients that sit one ulp above the nearest doubles of 0.84385 and 4.8405.
constexpr double kModel0FovSlope = std::bit_cast<double>(uint64_t{0x3FEB00D1B71758E3});
constexpr double kModel0ZoomSlope = std::bit_cast<double>(uint64_t{0x40135CAC083126EA});
static_assert(kModel0FovSlope == 0.8438500000000001);
static_assert(kModel0ZoomSlope == 4.8405000000000005);

struct LensGeometry {
    double panCounts;   // per full turn
    double tiltCounts;  // per full turn
    double zoomWide;
    double zoomTele;
    double tiltMin;  // tilt travel, in counts from tiltBase
    double tiltMax;
    double panBase;  // device counts at the origin of the pan axis
    double tiltBase;
};

constexpr std::array<LensGeometry, 3> kLenses{{
    {.panCounts = 3800,
     .tiltCounts = 4880,
     .zoomWide = 32768,
     .zoomTele = 33600,
     .tiltMin = 0,
     .tiltMax = 1220,
     .panBase = 16384,
     .tiltBase = 32768},
    {.panCounts = 32000,
     .tiltCounts = 32000,
     .zoomWide = 32161,
     .zoomTele = 33377,
     .tiltMin = 1536,
     .tiltMax = 14464,
     .panBase = 0,
     .tiltBase = 0},
    {.panCounts = 32000,
     .tiltCounts = 32000,
     .zoomWide = 0,
     .zoomTele = 16384,
     .tiltMin = 1536,
     .tiltMax = 14464,
     .panBase = 0,
     .tiltBase = 0},
}};

// The result for a picture without pixels: it has no point to aim at and no
// width to drag across, and the caller sends nothing that is not finite.
constexpr double kNothing = std::numeric_limits<double>::quiet_NaN();

// Fields of view beyond these lie outside the fit of the zoom polynomials.
constexpr double kModel0FovNarrowest = 206;
constexpr double kModel0FovWidest = 581;
constexpr double kModel2FovWidest = 4125;

const LensGeometry& geometry(Lens lens) {
    return kLenses[static_cast<size_t>(lens)];
}

// Whole part of a non-negative value, wrapped to 16 bits; negative and NaN give 0.
double lowBits(double value) {
    if (!(value > 0.0)) return 0.0;
    return std::fmod(std::trunc(value), 65536.0);
}

// The polynomials hold only within the lens's zoom range; a reading outside it counts as
// the nearer end.
double clampZoom(const LensGeometry& lens, double zoom) {
    return std::clamp(zoom, lens.zoomWide, lens.zoomTele);
}

uint16_t clampCounts(uint16_t value, double low, double high) {
    return static_cast<uint16_t>(std::clamp<double>(value, low, high));
}

void clampToTravel(const LensGeometry& lens, CameraLocation& location) {
    location.pan = clampCounts(location.pan, lens.panBase, lens.panBase + lens.panCounts);
    location.tilt =
        clampCounts(location.tilt, lens.tiltBase + lens.tiltMin, lens.tiltBase + lens.tiltMax);
    location.zoom = clampCounts(location.zoom, lens.zoomWide, lens.zoomTele);
}

struct Direction {
    double x, y, z;
};

// Ray through the picture point (u, v) from the centre, in the frame of the head's base,
// for a lens whose focal length is `focal` pixels.
Direction rayThrough(double focal, double u, double v, double tilt, double pan) {
    const double cosTilt = std::cos(tilt), sinTilt = std::sin(tilt);
    const double cosPan = std::cos(pan), sinPan = std::sin(pan);
    return {focal * cosPan * cosTilt - v * cosPan * sinTilt - u * sinPan,
            focal * sinPan * cosTilt - v * sinPan * sinTilt + u * cosPan,
            focal * sinTilt + v * cosTilt};
}

double tiltAngle(const Direction& ray, double previous) {
    const double horizontal = ray.x * ray.x + ray.y * ray.y;
    return horizontal != 0.0 ? std::atan2(ray.z, std::sqrt(horizontal)) : previous;
}

// Outside the first quadrant the angle comes from the whole parts of the ray's components,
// which is what turns a centre tap by a count or two.
double panAngle(const Direction& ray, double previous) {
    // A ray with no horizontal part worth a pixel (the head looking straight down, or
    // rounding noise around it) keeps the pan instead of turning the head half round.
    const bool vertical = std::abs(ray.x) < 1.0 && std::abs(ray.y) < 1.0;
    if (ray.x == 0.0 || ray.y == 0.0 || vertical) return previous;
    if (ray.x > 0.0 && ray.y > 0.0) return std::atan2(ray.y, ray.x);
    const double angle = std::atan2(std::abs(std::trunc(ray.y)), std::abs(std::trunc(ray.x)));
    if (ray.x < 0.0 && ray.y > 0.0) return kPi - angle;
    if (ray.x < 0.0) return angle + kPi;
    return kTwoPi - angle;
}

double draggedFieldOfView(double current, double width, double dx, bool zoomOut) {
    return zoomOut ? width * current / dx : dx * current / width;
}

double zoomModel0(double zoom, uint16_t width, uint16_t dx, bool zoomOut) {
    const LensGeometry& lens = geometry(Lens::Model0);
    if (!zoomOut && zoom >= lens.zoomTele) return lens.zoomTele;
    if (zoomOut && zoom <= lens.zoomWide) return lens.zoomWide;
    const double current = lowBits(fieldOfView(Lens::Model0, zoom));
    const double fov = std::clamp(draggedFieldOfView(current, width, dx, zoomOut),
                                  kModel0FovNarrowest, kModel0FovWidest);
    return clampZoom(lens, zoomForFieldOfView(Lens::Model0, fov));
}

double zoomModel1(double zoom, uint16_t width, uint16_t dx, bool zoomOut) {
    const LensGeometry& lens = geometry(Lens::Model1);
    // Any zoom-out sends this lens back to its widest position.
    if (zoomOut) return lens.zoomWide;
    const double fov = draggedFieldOfView(fieldOfView(Lens::Model1, zoom), width, dx, false);
    return clampZoom(lens, zoomForFieldOfView(Lens::Model1, fov));
}

double zoomModel2(double zoom, uint16_t width, uint16_t dx, bool zoomOut) {
    double fov = draggedFieldOfView(fieldOfView(Lens::Model2, zoom), width, dx, zoomOut);
    if (zoomOut) fov = std::min(fov, kModel2FovWidest);
    return std::min(zoomForFieldOfView(Lens::Model2, fov), geometry(Lens::Model2).zoomTele);
}

}  // namespace

double fieldOfView(Lens lens, double zoom) {
    if (lens == Lens::Model0) {
        const double z = zoom - 32768;
        const double t = z * 0.01;
        return 0.1604 * std::pow(t, 3) - 0.0343 * std::pow(t, 4) + 5.66 * std::pow(t, 2) -
               kModel0FovSlope * z + 589.25;
    }
    if (lens == Lens::Model1) {
        const double z = zoom - 32161;
        const double t = z * 0.01;
        return 0.1101 * std::pow(t, 4) - 2.7453 * std::pow(t, 3) + 41.341 * std::pow(t, 2) -
               6.4318 * z + 4509.8;
    }
    const double t = zoom * 0.001;
    return 2.6071 * std::pow(t, 3) - 0.0761 * std::pow(t, 4) - 18.795 * std::pow(t, 2) -
           0.29498 * zoom + 4125.1;
}

double zoomForFieldOfView(Lens lens, double fov) {
    if (lens == Lens::Model0) {
        const double s = fov * 0.01;
        return 81.198 * std::pow(s, 3) - 5.3703 * std::pow(s, 4) - 400.89 * std::pow(s, 2) +
               kModel0ZoomSlope * fov + 33694.62;
    }
    if (lens == Lens::Model1) {
        const double s = fov * 0.001;
        return 32161 +
               lowBits(1.4064 * std::pow(s, 6) - 23.063 * std::pow(s, 5) + 151.31 * std::pow(s, 4) -
                       507.43 * std::pow(s, 3) + 942.91 * std::pow(s, 2) - 1.2193 * fov + 1469.7);
    }
    const double s = fov * 0.01;
    return lowBits(25.025 * std::pow(s, 2) - 0.2852 * std::pow(s, 3) - 999.5 * s + 18672.0);
}

Aim limitAim(Lens lens, Aim aim) {
    const LensGeometry& g = geometry(lens);
    // Below zero the pan wraps once round the turn; past a full turn it stops at the end.
    if (aim.pan < 0.0) {
        aim.pan += g.panCounts;
    } else if (aim.pan > g.panCounts) {
        aim.pan = g.panCounts;
    }
    aim.tilt = std::clamp(aim.tilt, g.tiltMin, g.tiltMax);
    return {aim.pan + g.panBase, aim.tilt + g.tiltBase};
}

Aim computeAim(Lens lens, int x, int y, uint16_t width, uint16_t height, CameraLocation& location) {
    if (width == 0 || height == 0) return {kNothing, kNothing};
    const LensGeometry& g = geometry(lens);
    if (lens == Lens::Model0) clampToTravel(g, location);
    const double fov = fieldOfView(lens, clampZoom(g, location.zoom));
    const double focal = width / std::tan(fov * kPi / g.panCounts) * 0.5;
    const double tilt = (location.tilt - g.tiltBase) * kTwoPi / g.tiltCounts;
    const double pan = (location.pan - g.panBase) * kTwoPi / g.panCounts;
    const double u = static_cast<double>(x) - width / 2;
    const double v = static_cast<double>(y) - height / 2;
    const Direction ray = rayThrough(focal, u, v, tilt, pan);
    const double newPan = panAngle(ray, pan);
    const double newTilt = tiltAngle(ray, tilt);
    return limitAim(lens, {g.panCounts * newPan * kInvTwoPi, g.tiltCounts * newTilt * kInvTwoPi});
}

double computeZoom(Lens lens, uint16_t width, uint16_t dx, uint16_t zoom, bool zoomOut) {
    if (width == 0) return kNothing;
    const double z = clampZoom(geometry(lens), zoom);
    dx = std::min(dx, width);
    if (lens == Lens::Model0) return zoomModel0(z, width, dx, zoomOut);
    if (lens == Lens::Model1) return zoomModel1(z, width, dx, zoomOut);
    return zoomModel2(z, width, dx, zoomOut);
}

}  // namespace tess::ptz
