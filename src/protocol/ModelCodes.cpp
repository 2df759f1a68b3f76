#include "protocol/ModelCodes.h"

namespace tess {

std::optional<int32_t> deviceClassOf(std::string_view productId) {
    for (const ModelCode& code : kModelCodes) {
        if (productId == code.productId) return code.deviceClass;
    }
    return std::nullopt;
}

DeviceClassTraits classTraits(int32_t deviceClass) {
    DeviceClassTraits traits;
    switch (static_cast<DeviceClass>(deviceClass)) {
        case DeviceClass::Recorder:
            traits = {.variant = NegotiationVariant::DeviceInfo,
                      .videoStartByBody = true,
                      .videoForm = VideoForm::PacketStream,
                      .closeOnStop = true,
                      .reportsStatistics = true,
                      .recorder = true,
                      .actions = CommandRoute::FirstChannel,
                      .keys = CommandRoute::FirstChannel,
                      .aim = AimRoute::FirstChannelCell,
                      .layouts = LayoutFamily::ByFirstType,
                      .avButton = true};
            break;
        case DeviceClass::DvrRecorder:
            traits = {.variant = NegotiationVariant::SlaveList,
                      .videoForm = VideoForm::WholeFrame,
                      .actions = CommandRoute::SlaveChannel,
                      .keys = CommandRoute::SlaveChannel,
                      .aim = AimRoute::ChannelCell,
                      .layouts = LayoutFamily::DvrTabs};
            break;
        case DeviceClass::PlainCamera:
            traits = {.variant = NegotiationVariant::StreamOnly,
                      .videoForm = VideoForm::WholeFrameCountingHeader,
                      .layouts = LayoutFamily::Plain};
            break;
        case DeviceClass::PtzCamera0:
        case DeviceClass::PtzCamera1:
        case DeviceClass::PtzCamera2:
            traits = {.variant = NegotiationVariant::DeviceInfo,
                      .videoStartByBody = true,
                      .videoForm = VideoForm::PacketStream,
                      .closeOnStop = true,
                      .reportsStatistics = true,
                      .actions = CommandRoute::Camera,
                      .aim = AimRoute::Location,
                      .lensModel = deviceClass - static_cast<int32_t>(DeviceClass::PtzCamera0),
                      .layouts = LayoutFamily::PtzCamera,
                      .avButton = true};
            break;
        case DeviceClass::ChannelRecorder:
            traits = {.variant = NegotiationVariant::MasterList,
                      .videoForm = VideoForm::WholeFrame,
                      .recorder = true,
                      .channelMenu = true,
                      .actions = CommandRoute::MasterChannel,
                      .keys = CommandRoute::MasterChannel,
                      .layouts = LayoutFamily::ByChannelType};
            break;
        case DeviceClass::Unknown: return traits;
    }
    if (traits.variant == NegotiationVariant::None) return DeviceClassTraits{};
    traits.deviceClass = static_cast<DeviceClass>(deviceClass);
    return traits;
}

std::optional<int32_t> userLevelOf(int value) {
    switch (value) {
        case 0: return 0;
        case 10: return 20;
        case 20: return 40;
        case 30: return 60;
        default: return std::nullopt;
    }
}

}  // namespace tess
