#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tess {

// The folder that holds the directory file and the snapshot folder, with its
// trailing '/': the running program's own folder when it can be written to,
// otherwise $XDG_DATA_HOME/tessarine/ (by default ~/.local/share/tessarine/),
// created when missing. Called at start-up by the main window and by the live
// view when it is constructed.
std::string resolveProgramFolder();

// The choice behind resolveProgramFolder, given the program's folder and the
// two environment values (empty when unset). A relative XDG_DATA_HOME is
// ignored, as the XDG rules ask. Without any usable folder the result is
// empty, and the file names are used as they stand.
std::string programFolderFor(const std::filesystem::path& executableFolder,
                             std::string_view xdgDataHome, std::string_view home);

// programFolder + "device.inf".
std::string directoryFilePath(std::string_view programFolder);
// programFolder + "Temp", without a trailing separator.
std::string snapshotFolderPath(std::string_view programFolder);

}  // namespace tess
