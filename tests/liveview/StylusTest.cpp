#include <gtest/gtest.h>

#include "liveview/Stylus.h"
#include "liveview/ZoomView.h"

namespace tess {
namespace {

TEST(Stylus, SixPixelsAlongEitherAxisMakeADrag) {
    StylusTracker stylus;
    stylus.press({100, 50});
    EXPECT_FALSE(stylus.move({105, 55}));
    EXPECT_FALSE(stylus.dragging());
    EXPECT_TRUE(stylus.move({106, 50}));
    EXPECT_TRUE(stylus.dragging());

    stylus.press({100, 50});
    EXPECT_FALSE(stylus.dragging());
    EXPECT_TRUE(stylus.move({100, 44}));
}

TEST(Stylus, ADragAimsAtItsCentreWithTheValuesOfTheRelease) {
    StylusTracker stylus;
    stylus.press({100, 50});
    // A single move is the whole drag: it is also its last point.
    ASSERT_TRUE(stylus.move({140, 90}));
    EXPECT_EQ(stylus.current().x, 140);
    const auto release = stylus.release({140, 90});
    ASSERT_TRUE(release);
    EXPECT_EQ(release->touch.x, 120);
    EXPECT_EQ(release->touch.y, 70);
    EXPECT_TRUE(release->dragging);
    EXPECT_EQ(release->pressX, 100);
    EXPECT_EQ(release->currentX, 140);

    // A tap: the release point itself.
    stylus.press({10, 20});
    const auto tap = stylus.release({12, 21});
    ASSERT_TRUE(tap);
    EXPECT_EQ(tap->touch.x, 12);
    EXPECT_FALSE(tap->dragging);
}

TEST(Stylus, TouchPointsOutsideThePictureDoNothing) {
    StylusTracker stylus;
    for (StylusPoint outside : {StylusPoint{240, 10}, StylusPoint{10, 165}, StylusPoint{-1, 10}}) {
        stylus.press(outside);
        EXPECT_FALSE(stylus.release(outside)) << outside.x << "," << outside.y;
    }
    stylus.press({239, 164});
    EXPECT_TRUE(stylus.release({239, 164}));

    // A drag that leaves the picture counts by its centre.
    stylus.press({230, 100});
    ASSERT_TRUE(stylus.move({249, 100}));
    const auto inside = stylus.release({249, 100});
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->touch.x, 239);
    stylus.press({230, 100});
    ASSERT_TRUE(stylus.move({250, 100}));
    EXPECT_FALSE(stylus.release({250, 100}));
}

TEST(Stylus, APressOutsideThePanesKeepsADragGoing) {
    StylusTracker stylus;
    stylus.press({20, 20});
    ASSERT_TRUE(stylus.move({60, 60}));
    stylus.press({30, 170}, /*onPane=*/false);
    EXPECT_TRUE(stylus.dragging());
    stylus.press({30, 30});
    EXPECT_FALSE(stylus.dragging());
}

TEST(Stylus, QuadPanesSplitAt120And82) {
    EXPECT_EQ(quadPaneAt({119, 81}), 0);
    EXPECT_EQ(quadPaneAt({120, 81}), 1);
    EXPECT_EQ(quadPaneAt({119, 82}), 2);
    EXPECT_EQ(quadPaneAt({239, 164}), 3);
}

// On a zoomed picture the positions are picture points, but the drag
// threshold counts on the screen.
TEST(Stylus, TheDragThresholdCountsOnTheScreenNotOnThePicture) {
    StylusTracker stylus;
    // At 4x a move of 5 screen pixels moves the picture point by 20: still
    // a tap; 6 on the screen make the drag.
    stylus.press({100, 50}, {10, 10}, true);
    EXPECT_FALSE(stylus.move({120, 50}, {15, 10}));
    EXPECT_TRUE(stylus.move({124, 50}, {16, 10}));
    EXPECT_EQ(stylus.current().x, 124);
    const auto release = stylus.release({124, 50});
    ASSERT_TRUE(release);
    EXPECT_EQ(release->touch.x, 112);
}

TEST(Zoom, ZoomKeepsThePointUnderThePointerAndStaysInsideThePicture) {
    ZoomView zoom;
    zoom.zoomAt({0.25, 0.75}, 2.0);
    EXPECT_DOUBLE_EQ(zoom.factor(), 2.0);
    EXPECT_DOUBLE_EQ(zoom.toPicture({0.25, 0.75}).x(), 0.25);
    EXPECT_DOUBLE_EQ(zoom.toPicture({0.25, 0.75}).y(), 0.75);

    // Beyond 8x and below 1x nothing changes.
    zoom.zoomAt({0.5, 0.5}, 100.0);
    EXPECT_DOUBLE_EQ(zoom.factor(), ZoomView::kMaximum);
    zoom.zoomAt({0.5, 0.5}, 0.001);
    EXPECT_DOUBLE_EQ(zoom.factor(), 1.0);
    EXPECT_EQ(zoom.visible(), QRectF(0, 0, 1, 1));

    // A pan past the edge stops at it.
    zoom.zoomAt({1.0, 0.5}, 4.0);
    EXPECT_EQ(zoom.visible(), QRectF(0.75, 0.375, 0.25, 0.25));
    zoom.panBy({-1.0, 0});
    EXPECT_DOUBLE_EQ(zoom.visible().right(), 1.0);
    zoom.panBy({10.0, 0});
    EXPECT_DOUBLE_EQ(zoom.visible().left(), 0.0);
}

}  // namespace
}  // namespace tess
