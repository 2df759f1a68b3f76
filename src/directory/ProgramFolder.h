#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace tess {

// The folder that holds the directory file and the snapshot folder, with its
// trailing '/'. An installed program (one whose folder is an install `bin`
// folder compiled into it) always keeps it in $XDG_DATA_HOME/tessarine/ (by
// default ~/.local/share/tessarine/), even for root, who could write beside
// the program. A program run from anywhere else, the build folder for one,
// uses its own folder when it can be written to, and the data folder
// otherwise. The data folder is created when missing. Called once at
// start-up, unless the command line names the folder.
std::string resolveProgramFolder();

// The choice behind resolveProgramFolder, given the program's folder, the
// install `bin` folders, and the two environment values (empty when unset).
// A relative XDG_DATA_HOME is ignored, as the XDG rules ask. Without any
// usable folder the result is empty, and the file names are used as they
// stand.
std::string programFolderFor(const std::filesystem::path& executableFolder,
                             std::span<const std::filesystem::path> installedBinFolders,
                             std::string_view xdgDataHome, std::string_view home);

// The install `bin` folders compiled into the program: the install prefix's
// and the package's, which may be the same.
std::span<const std::filesystem::path> installedBinFolders();

// A folder the user named (--folder): made absolute, created when missing,
// with its trailing '/'. Empty, with `error` set, when it can't be made.
std::string namedProgramFolder(std::string_view folder, std::error_code& error);

// programFolder + "device.inf".
std::string directoryFilePath(std::string_view programFolder);
// programFolder + "Temp", without a trailing separator.
std::string snapshotFolderPath(std::string_view programFolder);

}  // namespace tess
