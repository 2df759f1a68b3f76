#include <gtest/gtest.h>

#include "liveview/Stylus.h"

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

}  // namespace
}  // namespace tess
