#include "DemoDirectory.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "directory/DeviceDirectory.h"

namespace tess::demo {
namespace {

constexpr std::array kKnownClasses = {1, 3, 4, 6, 7, 8, 50};
constexpr size_t kQuadMembers = 4;
constexpr uint8_t kSwitchEveryFiveSeconds = 0;

// Printable ASCII only: the texts go into UTF-16 fields unit by unit.
bool isPrintableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

std::u16string widen(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

std::vector<std::string_view> splitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t colon = text.find(':');
        fields.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos) {
            return fields;
        }
        text.remove_prefix(colon + 1);
    }
}

template <typename Number>
bool parseNumber(std::string_view text, Number& value) {
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    return status == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool isCamera(int deviceClass) {
    return familyOf(deviceClass) == "Cameras";
}

bool checkLoginText(std::string_view what, std::string_view text, size_t limit,
                    std::string& error) {
    if (text.size() > limit || !isPrintableAscii(text)) {
        error = std::string(what) + " must be printable ASCII of at most " + std::to_string(limit) +
                " characters";
        return false;
    }
    return true;
}

}  // namespace

std::optional<DemoDevice> parseDemoDevice(std::string_view text, std::string& error) {
    const std::vector<std::string_view> fields = splitFields(text);
    if (fields.size() != 4 && fields.size() != 5) {
        error = "\"" + std::string(text) + "\" is not HOST:PORT:LABEL:CLASS[:AV]";
        return std::nullopt;
    }
    DemoDevice device;
    device.host = fields[0];
    in_addr address{};
    if (device.host.size() > kAddressChars ||
        inet_pton(AF_INET, device.host.c_str(), &address) != 1) {
        error = "\"" + device.host + "\" is not a dotted IPv4 address";
        return std::nullopt;
    }
    if (!parseNumber(fields[1], device.port) || device.port == 0) {
        error = "\"" + std::string(fields[1]) + "\" is not a port from 1 to 65535";
        return std::nullopt;
    }
    device.label = fields[2];
    if (device.label.empty() || device.label.size() > kLabelChars ||
        !isPrintableAscii(device.label)) {
        error = "label \"" + device.label + "\" must be 1 to " + std::to_string(kLabelChars) +
                " printable ASCII characters";
        return std::nullopt;
    }
    if (!parseNumber(fields[3], device.deviceClass) ||
        std::find(kKnownClasses.begin(), kKnownClasses.end(), device.deviceClass) ==
            kKnownClasses.end()) {
        error = "\"" + std::string(fields[3]) + "\" is not a device class (1, 3, 4, 6, 7, 8, 50)";
        return std::nullopt;
    }
    const std::string_view av = fields.size() == 5 ? fields[4] : "v";
    if (av == "v") {
        device.avFlags = kAvVideo;
    } else if (av == "a") {
        device.avFlags = kAvAudio;
    } else if (av == "av") {
        device.avFlags = kAvVideo | kAvAudio;
    } else {
        error = "\"" + std::string(av) + "\" is not v, a or av";
        return std::nullopt;
    }
    return device;
}

std::string_view familyOf(int deviceClass) {
    switch (deviceClass) {
        case 3:
        case 50: return "Recorders";
        case 1:
        case 4: return "Video servers";
        default: return "Cameras";
    }
}

bool buildDemoDirectory(DeviceDirectory& directory, const std::vector<DemoDevice>& devices,
                        DemoLayout layout, const DemoLogin& login, std::string& error) {
    if (directory.entryCount() != 0) {
        error = "the directory is not empty";
        return false;
    }
    if (!checkLoginText("the user name", login.userName, kUserNameChars, error) ||
        !checkLoginText("the password", login.password, kPasswordChars, error)) {
        return false;
    }

    // Family folders in the order their first device comes.
    std::vector<std::string_view> families;
    size_t cameras = 0;
    for (const DemoDevice& device : devices) {
        if (std::find(families.begin(), families.end(), familyOf(device.deviceClass)) ==
            families.end()) {
            families.push_back(familyOf(device.deviceClass));
        }
        cameras += isCamera(device.deviceClass) ? 1 : 0;
    }
    const bool grouped = layout == DemoLayout::families;
    const bool withQuad = grouped && cameras >= 2;
    const bool withSwitch = grouped && devices.size() >= 2;
    const size_t needed = 1 + devices.size() + (grouped ? families.size() : 0) +
                          (withQuad ? 1 : 0) + (withSwitch ? 1 : 0);
    if (needed > DeviceDirectory::kMaxEntries) {
        error = std::to_string(devices.size()) + " devices need " + std::to_string(needed) +
                " directory entries; a directory holds " +
                std::to_string(DeviceDirectory::kMaxEntries);
        return false;
    }

    // The count above keeps every createEntry below within the table.
    DeviceEntry* root = directory.createEntry(EntryKind::folder, u"Device", nullptr);
    std::vector<DeviceEntry*> folders;
    for (std::string_view family : families) {
        folders.push_back(grouped ? directory.createEntry(EntryKind::folder, widen(family), root)
                                  : root);
    }
    std::vector<uint16_t> everyDevice;
    std::vector<uint16_t> quad;
    for (const DemoDevice& device : devices) {
        const auto family =
            std::find(families.begin(), families.end(), familyOf(device.deviceClass));
        DeviceEntry* entry = directory.createEntry(EntryKind::device, widen(device.label),
                                                   folders[family - families.begin()]);
        entry->setAddress(widen(device.host));
        entry->setPort(device.port);
        entry->setUserName(widen(login.userName));
        entry->setPassword(widen(login.password));
        entry->setAvFlags(device.avFlags);
        directory.notifyChanged(entry);
        everyDevice.push_back(entry->index());
        if (isCamera(device.deviceClass) && quad.size() < kQuadMembers) {
            quad.push_back(entry->index());
        }
    }
    const auto addMulti = [&](std::u16string_view label, uint8_t type,
                              const std::vector<uint16_t>& members) {
        DeviceEntry* entry = directory.createEntry(EntryKind::multiDevice, label, root);
        entry->setMultiType(type);
        entry->setDisplayTimeIndex(kSwitchEveryFiveSeconds);
        entry->setMembers(members);
        directory.notifyChanged(entry);
    };
    if (withQuad) {
        addMulti(u"Quad", kMultiTypeQuad, quad);
    }
    if (withSwitch) {
        addMulti(u"Tour", kMultiTypeSwitch, everyDevice);
    }
    directory.setSelectionIndex(everyDevice.empty() ? DeviceDirectory::kRootIndex
                                                    : everyDevice.front());
    return true;
}

}  // namespace tess::demo
