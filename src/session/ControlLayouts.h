#pragma once

#include <cstdint>
#include <optional>

#include "protocol/ChannelTable.h"

namespace tess {

// The control layouts below the pictures, by the operation that lays them out.
enum class ControlLayout {
    None,     // nothing laid out yet
    Default,  // SnapShot and 4Device only, for a pane whose class is unknown
    DvrTabs,
    Plain,
    PresetTabs,
    FourChannel,
    NineChannel,
    SixteenChannel
};

// When controls are chosen for a pane.
enum class LayoutOccasion {
    Negotiated,  // the pane's device has just been negotiated
    ShownAlone,  // a quad pane is shown alone, or its channel changed
};

// What the window does to its controls for one pane.
struct ControlChoice {
    std::optional<ControlLayout> layout;  // none: the layout stays as it is
    int channelIndex = 0;                 // the channel of FourChannel, 0-based
    bool showAvButton = false;            // show the pane's audio/video mode button
};

// The controls for a pane whose device is of `deviceClass`, with the channel
// records `table` and the current channel `channel` (1-based). Pure.
//
// A recorder's layout follows the device type of a channel: record 0 for
// class 1, record channel - 1 for class 50. The types that give preset tabs
// differ by occasion: {8, 18, 26} (class 1) and {8, 25} (class 50) after a
// negotiation, {8, 18, 25, 26} for both when a pane is shown alone.
ControlChoice chooseControls(LayoutOccasion occasion, int32_t deviceClass,
                             const ChannelTable& table, int32_t channel);

}  // namespace tess
