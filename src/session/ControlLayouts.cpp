#include "session/ControlLayouts.h"

#include "protocol/ModelCodes.h"

#include <algorithm>
#include <initializer_list>

namespace tess {
namespace {

bool isOneOf(int value, std::initializer_list<int> values) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

// The layout for the device type of channel `channelIndex`; a missing record
// or a type that names no layout leaves the controls as they are.
ControlChoice byChannelType(const ChannelTable& table, int32_t channelIndex,
                            std::initializer_list<int> presetTypes) {
    ControlChoice choice;
    const ChannelRecord* record = channelIndex >= 0 ? table.at(channelIndex) : nullptr;
    if (record == nullptr) return choice;
    const int type = record->type;
    if (isOneOf(type, {0, 1})) {
        choice.layout = ControlLayout::Plain;
    } else if (isOneOf(type, {2, 3, 4, 7, 9})) {
        choice.layout = ControlLayout::FourChannel;
        choice.channelIndex = channelIndex;
    } else if (type == 5) {
        choice.layout = ControlLayout::NineChannel;
    } else if (type == 6) {
        choice.layout = ControlLayout::SixteenChannel;
    } else if (isOneOf(type, presetTypes)) {
        choice.layout = ControlLayout::PresetTabs;
    }
    return choice;
}

ControlChoice fixed(ControlLayout layout) {
    return {layout, 0, false};
}

}  // namespace

ControlChoice chooseControls(LayoutOccasion occasion, int32_t deviceClass,
                             const ChannelTable& table, int32_t channel) {
    const bool negotiated = occasion == LayoutOccasion::Negotiated;
    const DeviceClassTraits traits = classTraits(deviceClass);
    ControlChoice choice;
    switch (traits.layouts) {
        case LayoutFamily::ByFirstType:
            choice = negotiated ? byChannelType(table, 0, {8, 18, 26})
                                : byChannelType(table, 0, {8, 18, 25, 26});
            break;
        case LayoutFamily::DvrTabs: choice = fixed(ControlLayout::DvrTabs); break;
        case LayoutFamily::Plain: choice = fixed(ControlLayout::Plain); break;
        case LayoutFamily::PtzCamera: choice = fixed(ControlLayout::PresetTabs); break;
        case LayoutFamily::ByChannelType:
            choice = negotiated ? byChannelType(table, channel - 1, {8, 25})
                                : byChannelType(table, channel - 1, {8, 18, 25, 26});
            break;
        case LayoutFamily::Unknown:
            if (!negotiated) choice = fixed(ControlLayout::Default);
            break;
    }
    choice.showAvButton = traits.avButton;
    return choice;
}

}  // namespace tess
