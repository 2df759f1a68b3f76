#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tess {
class DeviceDirectory;
}

namespace tess::demo {

// One simulated device to list in a prepared directory, as given on the
// command line: "HOST:PORT:LABEL:CLASS[:AV]". HOST is a dotted IPv4 address,
// LABEL printable ASCII without ':' (1 to 31 characters), CLASS one of the
// device classes the viewer knows, AV "v" (video, the default), "a" (audio)
// or "av" (both).
struct DemoDevice {
    std::string host;
    uint16_t port = 0;
    std::string label;
    int deviceClass = 0;
    uint16_t avFlags = 0;
};

std::optional<DemoDevice> parseDemoDevice(std::string_view text, std::string& error);

// How the devices are arranged under the root folder "Device".
enum class DemoLayout {
    // A folder per device family, then a Quad of the first four cameras and a
    // Switch through every device (each only when it has two members or more).
    families,
    // The devices directly in the root folder, nothing else.
    flat,
};

struct DemoLogin {
    std::string userName = "admin";
    std::string password = "velum";
};

// The family folder a device class is listed in.
std::string_view familyOf(int deviceClass);

// Fills the empty `directory` with the root folder and `devices` arranged by
// `layout`, and selects the first device, so that the viewer opens with it
// visible and chosen. False with `error` when the devices need more entries
// than a directory holds (nothing is changed then) or the directory is not
// empty.
bool buildDemoDirectory(DeviceDirectory& directory, const std::vector<DemoDevice>& devices,
                        DemoLayout layout, const DemoLogin& login, std::string& error);

}  // namespace tess::demo
