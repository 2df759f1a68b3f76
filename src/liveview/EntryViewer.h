#pragma once

namespace tess {

class DeviceDirectory;
class DeviceEntry;

// What the main window hands a chosen entry to: the live view.
class EntryViewer {
public:
    virtual ~EntryViewer() = default;
    // Shows `entry` (a device or a multi-device) modally until the user closes
    // it. `directory` resolves multi-device members; the audio/video mode
    // buttons rewrite the avFlags of the directory's selected entry.
    virtual void view(DeviceEntry& entry, DeviceDirectory& directory) = 0;
};

}  // namespace tess
