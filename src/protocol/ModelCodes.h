#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tess {

// A device's class (SessionFacts::deviceClass) is the device family's own
// number (DeviceClass below); 0 on a pane that never met a known model.
struct ModelCode {
    std::string_view productId;
    int32_t deviceClass;
};

// Compared in this order, exact and case-sensitive over all four characters.
inline constexpr std::array<ModelCode, 10> kModelCodes{{
    {"R3PT", 50},
    {"R5NS", 3},
    {"R5NQ", 3},
    {"R5NP", 3},
    {"R3P;", 1},
    {"Q8LC", 6},
    {"Q8LB", 7},
    {"Q8LA", 8},
    {"Q7KF", 4},
    {"Q7KD", 4},
}};

// The class of the first code equal to `productId`, or nullopt.
std::optional<int32_t> deviceClassOf(std::string_view productId);

// The device families, each by the number its devices go by
// (SessionFacts::deviceClass).
enum class DeviceClass : int32_t {
    Unknown = 0,           // a pane that never met a known model
    Recorder = 1,          // a recorder whose first channel names its cameras
    DvrRecorder = 3,       // a recorder of slave channels, with DVR pages
    PlainCamera = 4,       // a camera without PTZ
    PtzCamera0 = 6,        // PTZ cameras aimed by their location, lens model 0 ...
    PtzCamera1 = 7,        // ... 1
    PtzCamera2 = 8,        // ... 2
    ChannelRecorder = 50,  // a recorder of master channels, with the channel menu
};

// Which RequestStream exchange negotiates the stream.
enum class NegotiationVariant {
    None,        // unknown class: negotiation fails
    SlaveList,   // A: long form; USERLEVEL, SLAVENUM and SID/STYPE/SPROTOCOL records
    DeviceInfo,  // B: short form; Device-ID0, Device-Type0, Stream-Port, ExtraOperation-Mode
    MasterList,  // C: long form on channel 1; MASTERNUM, MID/MTYPE records, USERLEVEL
    StreamOnly,  // D: long form; nothing is read
};

enum class VideoForm {
    None,
    PacketStream,              // frames span packets and start with a media header
    WholeFrame,                // one oversized packet per frame
    WholeFrameCountingHeader,  // the same, its length counting the packet header
};

// Where a PTZ command or a remote-control key goes.
enum class CommandRoute {
    None,           // the device takes none
    FirstChannel,   // the camera of channel record 0, through the device itself
    SlaveChannel,   // the current slave channel's camera or the recorder's master
    MasterChannel,  // the current master channel
    Camera,         // the camera itself (and the camera of record 0 too, for actions)
};

// How a tap or drag on the picture aims the camera.
enum class AimRoute {
    None,
    FirstChannelCell,  // a cell of a 16 x 6 grid, to the camera of channel record 0
    ChannelCell,       // the same, to the current channel's camera
    Location,          // the camera's own location, through its lens model
};

// Which control layouts a device is shown with.
enum class LayoutFamily {
    Unknown,        // SnapShot and 4Device only
    ByFirstType,    // after the device type of channel record 0
    DvrTabs,        // the DVR and PTZ pages
    Plain,          // SnapShot only
    PtzCamera,      // the preset and PTZ pages
    ByChannelType,  // after the device type of the current channel
};

// Everything that differs between device classes.
struct DeviceClassTraits {
    DeviceClass deviceClass = DeviceClass::Unknown;
    NegotiationVariant variant = NegotiationVariant::None;
    bool videoStartByBody = false;  // else by URL
    VideoForm videoForm = VideoForm::None;
    bool closeOnStop = false;        // "Connection: Close" datagram when the pane stops
    bool reportsStatistics = false;  // statistics datagrams from the video receiver
    // A recorder's split keys are its own, and its Cut4 depends on the
    // channel's device type; a camera's split keys name camera functions.
    bool recorder = false;
    // The window gets the "CH1"/"CH2" menu bar.
    bool channelMenu = false;
    CommandRoute actions = CommandRoute::None;
    CommandRoute keys = CommandRoute::None;
    AimRoute aim = AimRoute::None;
    int lensModel = -1;  // for AimRoute::Location
    LayoutFamily layouts = LayoutFamily::Unknown;
    // The audio/video mode button shows with the device's layouts.
    bool avButton = false;
};

// The traits of class number `deviceClass`; an unknown number gives
// DeviceClass::Unknown's.
DeviceClassTraits classTraits(int32_t deviceClass);

// The user level a "USERLEVEL" value stands for: 0, 10, 20, 30 give 0, 20, 40,
// 60; any other value maps to nothing and the pane keeps its level.
std::optional<int32_t> userLevelOf(int value);

}  // namespace tess
