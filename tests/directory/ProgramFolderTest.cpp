#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "directory/ProgramFolder.h"

namespace tess {
namespace {

namespace fs = std::filesystem;

class ProgramFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tess-folder-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base_ = pattern;
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(base_, error);
    }
    fs::path base_;
};

TEST_F(ProgramFolderTest, WritableProgramFolderIsUsedWithItsSeparator) {
    EXPECT_EQ(programFolderFor(base_, "/nowhere", "/nowhere"), base_.string() + "/");
}

TEST_F(ProgramFolderTest, OtherwiseTheDataFolderIsCreated) {
    const fs::path missing = base_ / "not-there";
    const fs::path data = base_ / "data";
    EXPECT_EQ(programFolderFor(missing, data.string(), "/nowhere"),
              (data / "tessarine").string() + "/");
    EXPECT_TRUE(fs::is_directory(data / "tessarine"));

    // A relative XDG_DATA_HOME is ignored in favour of the home folder.
    EXPECT_EQ(programFolderFor(missing, "relative/path", base_.string()),
              (base_ / ".local/share/tessarine").string() + "/");
    EXPECT_TRUE(fs::is_directory(base_ / ".local/share/tessarine"));

    EXPECT_EQ(programFolderFor(missing, "", ""), "");
}

TEST_F(ProgramFolderTest, FilesHangOffTheFolder) {
    EXPECT_EQ(directoryFilePath("/opt/t/"), "/opt/t/device.inf");
    EXPECT_EQ(snapshotFolderPath("/opt/t/"), "/opt/t/Temp");
    EXPECT_EQ(directoryFilePath(""), "device.inf");
}

TEST_F(ProgramFolderTest, RunningProgramUsesItsOwnFolderWhenWritable) {
    const fs::path executable = fs::canonical("/proc/self/exe");
    const std::string folder = resolveProgramFolder();
    if (::access(executable.parent_path().c_str(), W_OK) == 0) {
        EXPECT_EQ(folder, executable.parent_path().string() + "/");
    } else {
        EXPECT_NE(folder, executable.parent_path().string() + "/");
    }
}

}  // namespace
}  // namespace tess
