#include "shell/CommandLine.h"

#include <QCommandLineParser>

#include "geometry/LogicalGeometry.h"

namespace tess {
namespace {

// After the options in --help: what the environment and the files do.
constexpr const char* kHelpEpilogue = R"(
Without --folder, the device list (device.inf) and the snapshots (Temp/) are
kept in $XDG_DATA_HOME/tessarine/ (by default ~/.local/share/tessarine/) by an
installed program, and beside the program file by one run from its build
folder, when that folder can be written to.

Environment:
  TESSARINE_SCALE=N            the same as --scale N; --scale wins
  TESSARINE_SEARCH_INTERFACES  comma-separated interfaces the LAN search uses
  QT_LOGGING_RULES             e.g. "tessarine.*.debug=true" for debug output;
                               warnings go to standard error
)";

}  // namespace

QString versionText() {
    return QStringLiteral("tessarine " TESS_VERSION);
}

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Live view of networked video recorders, video servers and IP cameras."));
    // Not addHelpOption(): its --help-all offers Qt's own options, which this
    // command line, read before Qt starts, does not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption scale(
        QStringLiteral("scale"),
        QStringLiteral("Shows the windows at a whole-number scale from 1 to %1 instead of the "
                       "one chosen from the screen's height.")
            .arg(LogicalGeometry::kMaxScale),
        QStringLiteral("N"));
    const QCommandLineOption folder(
        QStringLiteral("folder"),
        QStringLiteral("Keeps the device list and the snapshots in DIR (created when missing) "
                       "instead of the program folder."),
        QStringLiteral("DIR"));
    parser.addOption(scale);
    parser.addOption(folder);

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.action = CommandLine::Action::Error;
        line.text = parser.errorText();
        return line;
    }
    if (parser.isSet(help)) {
        line.action = CommandLine::Action::Help;
        // Qt names the program from the application object, which does not
        // exist yet: the usage line is ours.
        QString text = parser.helpText();
        text.remove(0, text.indexOf(QLatin1Char('\n')) + 1);
        line.text = QStringLiteral("Usage: tessarine [options]\n") + text +
                    QString::fromUtf8(kHelpEpilogue);
        return line;
    }
    if (parser.isSet(version)) {
        line.action = CommandLine::Action::Version;
        line.text = versionText() + QLatin1Char('\n');
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.action = CommandLine::Action::Error;
        line.text =
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments()[0]);
        return line;
    }
    if (parser.isSet(scale)) {
        bool ok = false;
        const int value = parser.value(scale).toInt(&ok);
        if (!ok || value < 1 || value > LogicalGeometry::kMaxScale) {
            line.action = CommandLine::Action::Error;
            line.text = QStringLiteral("--scale takes a whole number from 1 to %1, not '%2'.")
                            .arg(LogicalGeometry::kMaxScale)
                            .arg(parser.value(scale));
            return line;
        }
        line.scale = value;
    }
    if (parser.isSet(folder)) {
        line.folder = parser.value(folder);
        if (line.folder.isEmpty()) {
            line.action = CommandLine::Action::Error;
            line.text = QStringLiteral("--folder needs a folder.");
        }
    }
    return line;
}

}  // namespace tess
