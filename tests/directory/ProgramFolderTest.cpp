#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
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
    EXPECT_EQ(programFolderFor(base_, {}, "/nowhere", "/nowhere"), base_.string() + "/");
}

// An installed program never writes beside itself, even where it could (root
// in /usr/bin): a writable install folder still gives the data folder, also
// when it is named by another path to the same folder.
TEST_F(ProgramFolderTest, InstalledProgramAlwaysUsesTheDataFolder) {
    const fs::path bin = base_ / "usr" / "bin";
    fs::create_directories(bin);
    fs::create_directory_symlink(base_ / "usr" / "bin", base_ / "bin");
    const fs::path data = base_ / "data";
    for (const fs::path& installed : {bin, base_ / "bin", base_ / "usr" / "." / "bin"}) {
        const fs::path folders[] = {base_ / "elsewhere", installed};
        EXPECT_EQ(programFolderFor(bin, folders, data.string(), "/nowhere"),
                  (data / "tessarine").string() + "/")
            << installed;
    }
    EXPECT_TRUE(fs::is_directory(data / "tessarine"));
    EXPECT_FALSE(fs::exists(bin / "device.inf"));
    // Not installed there: the build folder's rule.
    const fs::path other[] = {base_ / "elsewhere"};
    EXPECT_EQ(programFolderFor(bin, other, data.string(), "/nowhere"), bin.string() + "/");
}

TEST_F(ProgramFolderTest, NamedFolderIsMadeAbsoluteAndCreated) {
    std::error_code error;
    const fs::path named = base_ / "a" / "b";
    EXPECT_EQ(namedProgramFolder(named.string() + "/", error), named.string() + "/");
    EXPECT_FALSE(error);
    EXPECT_TRUE(fs::is_directory(named));

    const fs::path previous = fs::current_path();
    fs::current_path(base_);
    EXPECT_EQ(namedProgramFolder("c", error), (base_ / "c").string() + "/");
    fs::current_path(previous);

    // A file where the folder should be.
    std::ofstream(base_ / "file") << "x";
    EXPECT_EQ(namedProgramFolder((base_ / "file").string(), error), "");
    EXPECT_TRUE(error);
}

TEST_F(ProgramFolderTest, OtherwiseTheDataFolderIsCreated) {
    const fs::path missing = base_ / "not-there";
    const fs::path data = base_ / "data";
    EXPECT_EQ(programFolderFor(missing, {}, data.string(), "/nowhere"),
              (data / "tessarine").string() + "/");
    EXPECT_TRUE(fs::is_directory(data / "tessarine"));

    // A relative XDG_DATA_HOME is ignored in favour of the home folder.
    EXPECT_EQ(programFolderFor(missing, {}, "relative/path", base_.string()),
              (base_ / ".local/share/tessarine").string() + "/");
    EXPECT_TRUE(fs::is_directory(base_ / ".local/share/tessarine"));

    EXPECT_EQ(programFolderFor(missing, {}, "", ""), "");
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
