#include "ptz/Optics.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tess::ptz {
namespace {

constexpr uint16_t kWidth = 240;
constexpr uint16_t kHeight = 180;
constexpr double kTolerance = 0.005;
constexpr double kExact = 0.0;

struct CurvePoint {
    Lens lens;
    double input;
    double expected;
    double tolerance;
};

TEST(OpticsCurves, FieldOfViewAtTheEndsOfEachZoomRange) {
    const CurvePoint points[] = {
        {Lens::Model0, 32768, 589.25, kTolerance}, {Lens::Model0, 33600, 206.99, kTolerance},
        {Lens::Model1, 32161, 4509.8, kTolerance}, {Lens::Model1, 33377, 272.72, kTolerance},
        {Lens::Model2, 0, 4125.1, kTolerance},     {Lens::Model2, 16384, 229.47, kTolerance},
    };
    for (const CurvePoint& p : points) {
        SCOPED_TRACE(testing::Message() << "model " << int(p.lens) << " zoom " << p.input);
        EXPECT_NEAR(fieldOfView(p.lens, p.input), p.expected, p.tolerance);
    }
}

TEST(OpticsCurves, ZoomForFieldOfView) {
    const CurvePoint points[] = {
        {Lens::Model0, 206, 33603.66, kTolerance},
        {Lens::Model0, 581, 32779.94, kTolerance},
        {Lens::Model2, 0, 18672, kExact},
    };
    for (const CurvePoint& p : points) {
        SCOPED_TRACE(testing::Message() << "model " << int(p.lens) << " fov " << p.input);
        EXPECT_NEAR(zoomForFieldOfView(p.lens, p.input), p.expected, p.tolerance);
    }
}

struct AimCase {
    Lens lens;
    CameraLocation location;
    int x, y;
    double pan, tilt;
    int sentPan, sentTilt;
};

TEST(OpticsAim, TapBringsThePointToTheCentre) {
    const AimCase cases[] = {
        {Lens::Model0, {18000, 33000, 32768, 0}, 120, 90, 18002.34, 33000, 18002, 33000},
        {Lens::Model1, {16000, 4000, 32161, 0}, 180, 90, 17655.81, 3864.43, 17655, 3864},
        {Lens::Model2, {20000, 4000, 0, 0}, 60, 40, 18712.35, 3023.74, 18712, 3023},
    };
    for (const AimCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << int(c.lens));
        CameraLocation location = c.location;
        const Aim aim = computeAim(c.lens, c.x, c.y, kWidth, kHeight, location);
        EXPECT_NEAR(aim.pan, c.pan, kTolerance);
        EXPECT_NEAR(aim.tilt, c.tilt, kTolerance);
        EXPECT_EQ(static_cast<int>(aim.pan), c.sentPan);
        EXPECT_EQ(static_cast<int>(aim.tilt), c.sentTilt);
    }
}

// A direction with no usable horizontal part must not swing the head round.
TEST(OpticsAim, PanIsKeptWhenTheDirectionGivesNoPanAngle) {
    const AimCase cases[] = {
        // Y exactly 0 with X < 0: a quadrant rule would turn half round.
        {Lens::Model0, {16384, 33988, 32768, 0}, 120, 150, 16384, 0, 0, 0},
        {Lens::Model1, {0, 8000, 32161, 0}, 120, 150, 0, 0, 0, 0},
        // Looking straight down, centre tap.
        {Lens::Model0, {17000, 33988, 33000, 0}, 120, 90, 17000, 0, 0, 0},
        {Lens::Model1, {5000, 8000, 32161, 0}, 120, 90, 5000, 0, 0, 0},
        {Lens::Model2, {27000, 8000, 8000, 0}, 120, 90, 27000, 0, 0, 0},
    };
    for (const AimCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << int(c.lens) << " pan " << c.pan);
        CameraLocation location = c.location;
        EXPECT_NEAR(computeAim(c.lens, c.x, c.y, kWidth, kHeight, location).pan, c.pan, 1e-6);
    }
}

TEST(OpticsAim, Model0KeepsTheClampedLocationSoRepeatedAimsAgree) {
    CameraLocation location{16000, 40000, 1000, 7};
    const Aim first = computeAim(Lens::Model0, 120, 90, kWidth, kHeight, location);
    EXPECT_EQ(location, (CameraLocation{16384, 33988, 32768, 7}));

    const Aim second = computeAim(Lens::Model0, 120, 90, kWidth, kHeight, location);
    EXPECT_EQ(location, (CameraLocation{16384, 33988, 32768, 7}));
    EXPECT_EQ(first.pan, second.pan);
    EXPECT_EQ(first.tilt, second.tilt);

    CameraLocation inRange{18000, 33000, 32768, 0};
    computeAim(Lens::Model0, 120, 90, kWidth, kHeight, inRange);
    EXPECT_EQ(inRange, (CameraLocation{18000, 33000, 32768, 0}));
}

TEST(OpticsAim, OtherModelsLeaveTheLocationAloneButAimWithTheZoomInRange) {
    for (Lens lens : {Lens::Model1, Lens::Model2}) {
        SCOPED_TRACE(testing::Message() << "model " << int(lens));
        CameraLocation outside{16000, 1000, 30000, 3};
        CameraLocation atLimit = outside;
        atLimit.zoom = lens == Lens::Model1 ? 32161 : 16384;
        if (lens == Lens::Model2) outside.zoom = 20000;
        const CameraLocation before = outside;

        const Aim fromOutside = computeAim(lens, 180, 90, kWidth, kHeight, outside);
        const Aim fromLimit = computeAim(lens, 180, 90, kWidth, kHeight, atLimit);
        EXPECT_EQ(outside, before);
        EXPECT_EQ(fromOutside.pan, fromLimit.pan);
        EXPECT_EQ(fromOutside.tilt, fromLimit.tilt);
    }
}

// Without pixels there is no point to aim at and no width to drag across, so
// nothing is sent: not a position computed from a focal length of zero.
TEST(OpticsAim, PictureWithoutPixelsGivesNothingToSend) {
    for (Lens lens : {Lens::Model0, Lens::Model1, Lens::Model2}) {
        SCOPED_TRACE(testing::Message() << "model " << int(lens));
        for (auto [width, height] : {std::pair{0, 0}, {240, 0}, {0, 180}}) {
            CameraLocation location{18000, 33000, 32768, 0};
            const Aim aim = computeAim(lens, 10, 10, width, height, location);
            EXPECT_TRUE(std::isnan(aim.pan) && std::isnan(aim.tilt)) << width << "x" << height;
        }
        for (bool zoomOut : {false, true}) {
            EXPECT_TRUE(std::isnan(computeZoom(lens, 0, 10, 33000, zoomOut))) << zoomOut;
        }
    }
}

struct LimitCase {
    Lens lens;
    Aim computed;
    Aim limited;
};

TEST(OpticsLimits, PanWrapsBelowZeroAndStopsAtAFullTurn) {
    const LimitCase cases[] = {
        {Lens::Model1, {-100, 5000}, {31900, 5000}},  {Lens::Model1, {32100, 5000}, {32000, 5000}},
        {Lens::Model1, {100, 1000}, {100, 1536}},     {Lens::Model2, {100, 1000}, {100, 1536}},
        {Lens::Model2, {100, 15000}, {100, 14464}},   {Lens::Model0, {-100, -5}, {20084, 32768}},
        {Lens::Model0, {3900, 1300}, {20184, 33988}}, {Lens::Model0, {1000, 500}, {17384, 33268}},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << int(c.lens) << " pan " << c.computed.pan
                                        << " tilt " << c.computed.tilt);
        const Aim limited = limitAim(c.lens, c.computed);
        EXPECT_DOUBLE_EQ(limited.pan, c.limited.pan);
        EXPECT_DOUBLE_EQ(limited.tilt, c.limited.tilt);
    }
}

struct ZoomCase {
    Lens lens;
    uint16_t dx;
    uint16_t zoom;
    bool zoomOut;
    double expected;
    double tolerance;
};

TEST(OpticsZoom, DragScalesTheFieldOfView) {
    const ZoomCase cases[] = {
        {Lens::Model0, 120, 32768, false, 33313.22, kTolerance},
        {Lens::Model2, 120, 8000, true, 3047, kExact},
        {Lens::Model1, 120, 32161, false, 32610, kExact},
        // At the end of the range the zoom stays without computing.
        {Lens::Model0, 120, 33600, false, 33600, kExact},
        {Lens::Model0, 120, 32768, true, 32768, kExact},
        // Model 2 caps the field of view only when widening it.
        {Lens::Model2, kWidth, 0, false, 5, kExact},
        // A vertical drag widens as far as each lens allows.
        {Lens::Model0, 0, 33000, true, 32779.94, kTolerance},
        {Lens::Model2, 0, 8000, true, 6, kExact},
        {Lens::Model1, 0, 33000, true, 32161, kExact},
        {Lens::Model1, 0, 30000, true, 32161, kExact},
    };
    for (const ZoomCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << int(c.lens) << " dx " << c.dx << " zoom "
                                        << c.zoom << (c.zoomOut ? " out" : " in"));
        EXPECT_NEAR(computeZoom(c.lens, kWidth, c.dx, c.zoom, c.zoomOut), c.expected, c.tolerance);
    }
}

TEST(OpticsZoom, DragWiderThanThePictureCountsAsThePictureWidth) {
    for (Lens lens : {Lens::Model0, Lens::Model1, Lens::Model2}) {
        for (bool zoomOut : {false, true}) {
            SCOPED_TRACE(testing::Message() << "model " << int(lens) << " out " << zoomOut);
            EXPECT_EQ(computeZoom(lens, kWidth, 1000, 33000, zoomOut),
                      computeZoom(lens, kWidth, kWidth, 33000, zoomOut));
        }
    }
}

TEST(OpticsZoom, ZoomBeyondTheLensRangeActsAsItsEnd) {
    EXPECT_EQ(computeZoom(Lens::Model1, kWidth, 120, 34000, false),
              computeZoom(Lens::Model1, kWidth, 120, 33377, false));
    EXPECT_EQ(computeZoom(Lens::Model2, kWidth, 120, 20000, false),
              computeZoom(Lens::Model2, kWidth, 120, 16384, false));
    EXPECT_EQ(computeZoom(Lens::Model2, kWidth, 120, 20000, true),
              computeZoom(Lens::Model2, kWidth, 120, 16384, true));
}

}  // namespace
}  // namespace tess::ptz
