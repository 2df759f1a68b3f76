#include "protocol/ModelCodes.h"

namespace tess {

std::optional<int32_t> deviceClassOf(std::string_view productId) {
    for (const ModelCode& code : kModelCodes) {
        if (productId == code.productId) return code.deviceClass;
    }
    return std::nullopt;
}

DeviceClassTraits classTraits(int32_t deviceClass) {
    switch (deviceClass) {
        case 1:
        case 6:
        case 7:
        case 8: return {NegotiationVariant::DeviceInfo, true, VideoForm::PacketStream, true, true};
        case 3: return {NegotiationVariant::SlaveList, false, VideoForm::WholeFrame, false, false};
        case 4:
            return {NegotiationVariant::StreamOnly, false, VideoForm::WholeFrameCountingHeader,
                    false, false};
        case 50:
            return {NegotiationVariant::MasterList, false, VideoForm::WholeFrame, false, false};
        default: return {};
    }
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
