#pragma once

#include <QString>
#include <QStringList>

namespace tess {

// What the command line asks for. It is read before any window system is
// touched, so that --help and --version work without a display.
struct CommandLine {
    enum class Action {
        Run,      // start the viewer
        Help,     // print `text` to standard output and end
        Version,  // print `text` to standard output and end
        Error,    // print `text` to standard error and end with status 2
    };
    Action action = Action::Run;
    QString text;
    // --scale: 1 to 8, 0 when not given (the screen, or TESSARINE_SCALE, decides).
    int scale = 0;
    // --folder: the program folder as typed, empty when not given.
    QString folder;
};

// `arguments` as the program got them, the program's name first.
CommandLine parseCommandLine(const QStringList& arguments);

// "tessarine 0.1".
QString versionText();

}  // namespace tess
