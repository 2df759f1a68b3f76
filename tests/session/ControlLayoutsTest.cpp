#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>

#include "session/ControlLayouts.h"

namespace tess {
namespace {

using Layout = ControlLayout;
constexpr auto kNegotiated = LayoutOccasion::Negotiated;
constexpr auto kShownAlone = LayoutOccasion::ShownAlone;

ChannelTable tableOfTypes(std::initializer_list<uint8_t> types) {
    ChannelTable table;
    table.resize(static_cast<int32_t>(types.size()));
    size_t i = 0;
    for (uint8_t type : types) table.at(i++)->type = type;
    return table;
}

TEST(ControlLayouts, ClassesWithAFixedLayout) {
    const ChannelTable none;
    for (LayoutOccasion occasion : {kNegotiated, kShownAlone}) {
        EXPECT_EQ(chooseControls(occasion, 3, none, 0).layout, Layout::DvrTabs);
        EXPECT_FALSE(chooseControls(occasion, 3, none, 0).showAvButton);
        EXPECT_EQ(chooseControls(occasion, 4, none, 0).layout, Layout::Plain);
        for (int32_t camera : {6, 7, 8}) {
            const ControlChoice choice = chooseControls(occasion, camera, tableOfTypes({5}), 0);
            EXPECT_EQ(choice.layout, Layout::PresetTabs) << camera;  // not by the device type
            EXPECT_TRUE(choice.showAvButton);
        }
    }
    // A class the viewer does not know: nothing after a negotiation, the
    // default layout when a pane is shown alone.
    EXPECT_EQ(chooseControls(kNegotiated, 0, none, 0).layout, std::nullopt);
    EXPECT_FALSE(chooseControls(kNegotiated, 0, none, 0).showAvButton);
    EXPECT_EQ(chooseControls(kShownAlone, 0, none, 0).layout, Layout::Default);
}

TEST(ControlLayouts, ClassOneFollowsTheTypeOfItsFirstRecord) {
    const std::pair<uint8_t, std::optional<Layout>> cases[] = {
        {0, Layout::Plain},       {1, Layout::Plain},       {2, Layout::FourChannel},
        {7, Layout::FourChannel}, {5, Layout::NineChannel}, {6, Layout::SixteenChannel},
        {18, Layout::PresetTabs}, {26, Layout::PresetTabs}, {11, std::nullopt},
    };
    for (const auto& [type, layout] : cases) {
        SCOPED_TRACE(int(type));
        const ControlChoice choice = chooseControls(kNegotiated, 1, tableOfTypes({type, 9}), 2);
        EXPECT_EQ(choice.layout, layout);
        EXPECT_EQ(choice.channelIndex, 0);
        EXPECT_TRUE(choice.showAvButton);
    }
}

// The two occasions name different preset types; each list is kept as the
// device families were written down for it.
TEST(ControlLayouts, PresetTypesDifferByOccasion) {
    const ChannelTable type25 = tableOfTypes({25});
    EXPECT_EQ(chooseControls(kNegotiated, 1, type25, 1).layout, std::nullopt);
    EXPECT_EQ(chooseControls(kShownAlone, 1, type25, 1).layout, Layout::PresetTabs);
    const ChannelTable type18 = tableOfTypes({18});
    EXPECT_EQ(chooseControls(kNegotiated, 50, type18, 1).layout, std::nullopt);
    EXPECT_EQ(chooseControls(kShownAlone, 50, type18, 1).layout, Layout::PresetTabs);
    for (LayoutOccasion occasion : {kNegotiated, kShownAlone}) {
        EXPECT_EQ(chooseControls(occasion, 50, type25, 1).layout, Layout::PresetTabs);
        EXPECT_EQ(chooseControls(occasion, 1, tableOfTypes({8}), 1).layout, Layout::PresetTabs);
    }
}

TEST(ControlLayouts, ClassFiftyFollowsTheTypeOfTheCurrentChannel) {
    const ChannelTable table = tableOfTypes({5, 3, 6});
    EXPECT_EQ(chooseControls(kNegotiated, 50, table, 1).layout, Layout::NineChannel);
    const ControlChoice second = chooseControls(kShownAlone, 50, table, 2);
    EXPECT_EQ(second.layout, Layout::FourChannel);
    EXPECT_EQ(second.channelIndex, 1);
    EXPECT_FALSE(second.showAvButton);
    EXPECT_EQ(chooseControls(kShownAlone, 50, table, 3).layout, Layout::SixteenChannel);
    // No record for the channel (none chosen, or past the table): no change.
    EXPECT_EQ(chooseControls(kNegotiated, 50, table, 0).layout, std::nullopt);
    EXPECT_EQ(chooseControls(kShownAlone, 50, table, 4).layout, std::nullopt);
    EXPECT_EQ(chooseControls(kNegotiated, 50, ChannelTable{}, 1).layout, std::nullopt);
}

}  // namespace
}  // namespace tess
