#include "directory/ProgramFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace tess {
namespace {

namespace fs = std::filesystem;

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

// Compared as resolved paths, so that /bin and /usr/bin are one folder where
// one links to the other.
bool sameFolder(const fs::path& a, const fs::path& b) {
    std::error_code error;
    const fs::path resolvedA = fs::weakly_canonical(a, error);
    if (error) return false;
    const fs::path resolvedB = fs::weakly_canonical(b, error);
    return !error && resolvedA == resolvedB;
}

}  // namespace

std::string programFolderFor(const fs::path& executableFolder,
                             std::span<const fs::path> installedBinFolders,
                             std::string_view xdgDataHome, std::string_view home) {
    std::error_code error;
    const bool installed =
        !executableFolder.empty() &&
        std::any_of(installedBinFolders.begin(), installedBinFolders.end(),
                    [&](const fs::path& bin) { return sameFolder(bin, executableFolder); });
    if (!installed && !executableFolder.empty() && fs::is_directory(executableFolder, error) &&
        ::access(executableFolder.c_str(), W_OK) == 0) {
        return withSeparator(executableFolder.string());
    }
    fs::path base;
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
        base = xdgDataHome;
    } else if (!home.empty()) {
        base = fs::path(home) / ".local" / "share";
    } else {
        return {};
    }
    const fs::path folder = base / "tessarine";
    fs::create_directories(folder, error);
    return withSeparator(folder.string());
}

std::span<const fs::path> installedBinFolders() {
    static const std::array<fs::path, 2> folders{fs::path(TESS_INSTALL_BINDIR),
                                                 fs::path(TESS_PACKAGE_BINDIR)};
    return folders;
}

std::string resolveProgramFolder() {
    std::error_code error;
    const fs::path executable = fs::canonical("/proc/self/exe", error);
    std::string_view home = environment("HOME");
    if (home.empty()) {
        if (const passwd* user = ::getpwuid(::getuid())) {
            home = user->pw_dir;
        }
    }
    return programFolderFor(error ? fs::path() : executable.parent_path(), installedBinFolders(),
                            environment("XDG_DATA_HOME"), home);
}

std::string namedProgramFolder(std::string_view folder, std::error_code& error) {
    error.clear();
    if (folder.empty()) {
        error = std::make_error_code(std::errc::invalid_argument);
        return {};
    }
    const fs::path absolute = fs::absolute(fs::path(folder), error);
    if (error) return {};
    fs::create_directories(absolute, error);
    if (error) return {};
    if (!fs::is_directory(absolute, error)) {
        if (!error) error = std::make_error_code(std::errc::not_a_directory);
        return {};
    }
    return withSeparator(absolute.lexically_normal().string());
}

std::string directoryFilePath(std::string_view programFolder) {
    return std::string(programFolder) + "device.inf";
}

std::string snapshotFolderPath(std::string_view programFolder) {
    return std::string(programFolder) + "Temp";
}

}  // namespace tess
