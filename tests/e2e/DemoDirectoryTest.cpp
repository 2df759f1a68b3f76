#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DemoDirectory.h"
#include "directory/DeviceDirectory.h"

namespace tess::demo {
namespace {

DemoDevice device(const std::string& text) {
    std::string error;
    const std::optional<DemoDevice> parsed = parseDemoDevice(text, error);
    EXPECT_TRUE(parsed) << text << ": " << error;
    return parsed.value_or(DemoDevice{});
}

std::vector<std::u16string> labels(const std::vector<DeviceEntry*>& entries) {
    std::vector<std::u16string> out;
    for (const DeviceEntry* entry : entries) out.push_back(entry->label());
    return out;
}

TEST(DemoDeviceTest, ParsesEveryFieldAndRefusesWhatTheRecordCannotHold) {
    const DemoDevice camera = device("127.0.0.1:8006:Camera 6:6:av");
    EXPECT_EQ(camera.host, "127.0.0.1");
    EXPECT_EQ(camera.port, 8006);
    EXPECT_EQ(camera.label, "Camera 6");
    EXPECT_EQ(camera.deviceClass, 6);
    EXPECT_EQ(camera.avFlags, kAvVideo | kAvAudio);
    EXPECT_EQ(device("10.1.2.3:1:R:50").avFlags, kAvVideo);
    EXPECT_EQ(device("10.1.2.3:65535:R:50:a").avFlags, kAvAudio);

    for (const char* bad : {
             "127.0.0.1:8006:Camera:6:av:x",  // a sixth field
             "127.0.0.1:8006:Camera",         // no class
             "localhost:8006:Camera:6",       // not dotted IPv4
             "127.0.0.1:0:Camera:6",          // port 0
             "127.0.0.1:65536:Camera:6",      // port too large
             "127.0.0.1:80a:Camera:6",        // trailing letters
             "127.0.0.1:8006::6",             // empty label
             "127.0.0.1:8006:a label of thirty-two characters:6",
             "127.0.0.1:8006:Caf\xc3\xa9:6",  // not ASCII
             "127.0.0.1:8006:Camera:5",       // no such class
             "127.0.0.1:8006:Camera:6:x",     // bad audio/video flags
         }) {
        std::string error;
        EXPECT_FALSE(parseDemoDevice(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(DemoDirectoryTest, FamiliesGetFoldersAndTheFirstFourCamerasAQuad) {
    const std::vector<DemoDevice> devices = {
        device("127.0.0.1:1003:Recorder 3:3"),   device("127.0.0.1:1006:Camera 6:6:av"),
        device("127.0.0.1:1001:Server 1:1"),     device("127.0.0.1:1007:Camera 7:7"),
        device("127.0.0.1:1050:Recorder 50:50"), device("127.0.0.1:1008:Camera 8:8"),
        device("127.0.0.1:1009:Camera 6 B:6"),   device("127.0.0.1:1010:Camera 7 B:7"),
    };
    DeviceDirectory directory;
    std::string error;
    ASSERT_TRUE(buildDemoDirectory(directory, devices, DemoLayout::families,
                                   DemoLogin{"viewer", "secret"}, error))
        << error;

    // What the viewer will load: the saved bytes read back whole.
    DeviceDirectory loaded;
    const std::vector<uint8_t> bytes = directory.fileBytes();
    ASSERT_TRUE(loaded.loadFromBytes(bytes));
    ASSERT_EQ(loaded.childCount(nullptr), 1);
    DeviceEntry* root = loaded.childAt(nullptr, 0);
    EXPECT_EQ(root->label(), u"Device");
    EXPECT_EQ(labels(loaded.children(root)),
              (std::vector<std::u16string>{u"Recorders", u"Cameras", u"Video servers", u"Quad",
                                           u"Tour"}));
    const std::vector<DeviceEntry*> families = loaded.children(root);
    EXPECT_EQ(labels(loaded.children(families[0])),
              (std::vector<std::u16string>{u"Recorder 3", u"Recorder 50"}));
    EXPECT_EQ(loaded.childCount(families[1]), 5);

    const DeviceEntry* camera = loaded.childAt(families[1], 0);
    EXPECT_EQ(camera->address(), u"127.0.0.1");
    EXPECT_EQ(camera->port(), 1006);
    EXPECT_EQ(camera->userName(), u"viewer");
    EXPECT_EQ(camera->password(), u"secret");
    EXPECT_EQ(camera->avFlags(), kAvVideo | kAvAudio);

    // The quad holds the first four cameras, the tour every device in order.
    const DeviceEntry* quad = families[3];
    EXPECT_EQ(quad->multiType(), kMultiTypeQuad);
    std::vector<std::u16string> quadMembers;
    for (uint16_t member : quad->members()) quadMembers.push_back(loaded.entryAt(member)->label());
    EXPECT_EQ(quadMembers,
              (std::vector<std::u16string>{u"Camera 6", u"Camera 7", u"Camera 8", u"Camera 6 B"}));
    const DeviceEntry* tour = families[4];
    EXPECT_EQ(tour->multiType(), kMultiTypeSwitch);
    ASSERT_EQ(tour->members().size(), devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        const DeviceEntry* member = loaded.entryAt(tour->members()[i]);
        ASSERT_NE(member, nullptr);
        EXPECT_EQ(member->port(), devices[i].port);
    }

    // The first device is selected, so the viewer opens with it in sight.
    EXPECT_EQ(loaded.entryAt(loaded.selectionIndex())->label(), u"Recorder 3");
}

TEST(DemoDirectoryTest, FlatPutsOnlyTheDevicesIntoTheRoot) {
    DeviceDirectory directory;
    std::string error;
    ASSERT_TRUE(buildDemoDirectory(directory,
                                   {device("127.0.0.1:1006:A:6:av"), device("127.0.0.1:1007:B:7")},
                                   DemoLayout::flat, DemoLogin{}, error));
    ASSERT_EQ(directory.entryCount(), 3u);
    const DeviceEntry* root = directory.childAt(nullptr, 0);
    EXPECT_EQ(labels(directory.children(root)), (std::vector<std::u16string>{u"A", u"B"}));
    EXPECT_EQ(directory.childAt(root, 0)->userName(), u"admin");
    EXPECT_EQ(directory.childAt(root, 0)->password(), u"velum");
    EXPECT_EQ(directory.selectionIndex(), directory.childAt(root, 0)->index());
}

TEST(DemoDirectoryTest, RefusesWhatDoesNotFitAndLeavesTheDirectoryEmpty) {
    std::string error;
    // The root and 30 devices fill the 31 entries; one more does not fit.
    std::vector<DemoDevice> devices(30, device("127.0.0.1:1006:Camera:6"));
    {
        DeviceDirectory directory;
        EXPECT_TRUE(buildDemoDirectory(directory, devices, DemoLayout::flat, DemoLogin{}, error));
        EXPECT_EQ(directory.entryCount(), 31u);
    }
    {
        // The same devices need a folder, a quad and a tour too when grouped.
        DeviceDirectory directory;
        EXPECT_FALSE(
            buildDemoDirectory(directory, devices, DemoLayout::families, DemoLogin{}, error));
        EXPECT_NE(error.find("34"), std::string::npos) << error;
        EXPECT_EQ(directory.entryCount(), 0u);
    }
    for (const DemoLogin& login :
         {DemoLogin{"a user name too long", "velum"}, DemoLogin{"admin", "tab\there"}}) {
        DeviceDirectory directory;
        EXPECT_FALSE(buildDemoDirectory(directory, {devices[0]}, DemoLayout::flat, login, error));
        EXPECT_EQ(directory.entryCount(), 0u);
    }
}

}  // namespace
}  // namespace tess::demo
