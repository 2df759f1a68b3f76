#pragma once

namespace tess {

// The 36 command buttons of the live view, in the order the window keeps
// them. Ch1 ... Ch16 are consecutive (channelControl()).
enum class Control : int {
    SnapShot,
    Cut4,
    Cut9,
    Cut16,
    FourDevice,
    Ch1,
    Ch16 = Ch1 + 15,
    Up,
    Down,
    Left,
    Right,
    FocusIn,
    FocusOut,
    ZoomIn,
    ZoomOut,
    ZoomInMax,
    ZoomOutMax,
    Auto,
    CH,
    PRESET,
    Button2,
    Button3,
};
inline constexpr int kControlCount = static_cast<int>(Control::Button3) + 1;

// Ch n, n = 1 ... 16.
constexpr Control channelControl(int n) {
    return static_cast<Control>(static_cast<int>(Control::Ch1) + n - 1);
}

// n of Ch n; 0 for the other buttons.
constexpr int channelNumber(Control control) {
    const int n = static_cast<int>(control) - static_cast<int>(Control::Ch1) + 1;
    return n >= 1 && n <= 16 ? n : 0;
}

}  // namespace tess
