// tessarine-demo-directory: writes a device.inf that lists simulated devices,
// for the demo and the end-to-end test.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "DemoDirectory.h"
#include "directory/DeviceDirectory.h"
#include "directory/DeviceEntry.h"

using namespace tess;
using namespace tess::demo;

namespace {

constexpr const char* kUsage =
    "usage: tessarine-demo-directory [--flat] [--select LABEL] [--user NAME] [--password WORD]\n"
    "                                OUTPUT DEVICE...\n"
    "\n"
    "Writes the directory file OUTPUT (a device.inf) listing every DEVICE under the\n"
    "root folder \"Device\": a folder per family (Recorders, Video servers, Cameras),\n"
    "a Quad of the first four cameras and a Switch \"Tour\" through every device.\n"
    "The first device is the one selected when the viewer opens, unless --select names\n"
    "another entry.\n"
    "\n"
    "  DEVICE           HOST:PORT:LABEL:CLASS[:AV], AV v (video, default), a or av\n"
    "  --flat           the devices directly in \"Device\", no folders or multi-devices\n"
    "  --select LABEL   the entry with this label is selected (\"Quad\", \"Tour\", a device)\n"
    "  --user NAME      login user name of every device (admin)\n"
    "  --password WORD  login password of every device (velum)\n";

int usageError(const std::string& error) {
    std::fprintf(stderr, "tessarine-demo-directory: %s\n\n%s", error.c_str(), kUsage);
    return 2;
}

// Selects the first entry labelled `label`; false when there is none.
bool selectByLabel(DeviceDirectory& directory, const std::string& label) {
    const std::u16string wanted(label.begin(), label.end());
    for (uint16_t index = DeviceDirectory::kRootIndex; index < directory.nextIndex(); ++index) {
        if (directory.entryAt(index)->label() == wanted) {
            directory.setSelectionIndex(index);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    DemoLayout layout = DemoLayout::families;
    DemoLogin login;
    std::string output;
    std::string selected;
    std::vector<DemoDevice> devices;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--flat") {
            layout = DemoLayout::flat;
        } else if (arg == "--user" || arg == "--password" || arg == "--select") {
            if (i + 1 >= argc) return usageError(std::string(arg) + " needs a value");
            (arg == "--user"       ? login.userName
             : arg == "--password" ? login.password
                                   : selected) = argv[++i];
        } else if (arg.starts_with("--")) {
            return usageError("unknown option " + std::string(arg));
        } else if (output.empty()) {
            output = arg;
        } else if (auto device = parseDemoDevice(arg, error)) {
            devices.push_back(*device);
        } else {
            return usageError(error);
        }
    }
    if (output.empty() || devices.empty()) return usageError("OUTPUT and a DEVICE are needed");

    DeviceDirectory directory;
    if (!buildDemoDirectory(directory, devices, layout, login, error)) return usageError(error);
    if (!selected.empty() && !selectByLabel(directory, selected)) {
        return usageError("no entry is labelled " + selected);
    }
    if (!directory.saveDirectory(output)) {
        std::fprintf(stderr, "tessarine-demo-directory: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("%s: %zu entries, %zu devices\n", output.c_str(), directory.entryCount(),
                devices.size());
    return 0;
}
