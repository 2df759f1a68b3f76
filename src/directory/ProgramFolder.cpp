#include "directory/ProgramFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace tess {
namespace {

std::string withSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') {
        folder.push_back('/');
    }
    return folder;
}

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::string programFolderFor(const std::filesystem::path& executableFolder,
                             std::string_view xdgDataHome, std::string_view home) {
    std::error_code error;
    if (!executableFolder.empty() && std::filesystem::is_directory(executableFolder, error) &&
        ::access(executableFolder.c_str(), W_OK) == 0) {
        return withSeparator(executableFolder.string());
    }
    std::filesystem::path base;
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
        base = xdgDataHome;
    } else if (!home.empty()) {
        base = std::filesystem::path(home) / ".local" / "share";
    } else {
        return {};
    }
    const std::filesystem::path folder = base / "tessarine";
    std::filesystem::create_directories(folder, error);
    return withSeparator(folder.string());
}

std::string resolveProgramFolder() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::canonical("/proc/self/exe", error);
    std::string_view home = environment("HOME");
    if (home.empty()) {
        if (const passwd* user = ::getpwuid(::getuid())) {
            home = user->pw_dir;
        }
    }
    return programFolderFor(error ? std::filesystem::path() : executable.parent_path(),
                            environment("XDG_DATA_HOME"), home);
}

std::string directoryFilePath(std::string_view programFolder) {
    return std::string(programFolder) + "device.inf";
}

std::string snapshotFolderPath(std::string_view programFolder) {
    return std::string(programFolder) + "Temp";
}

}  // namespace tess
