// tessarine: the live-view client. The command line is read before the
// window system is touched (--help and --version need no display); then the
// program folder is chosen (--folder, or resolveProgramFolder) and the main
// window runs until it is closed or a termination signal arrives.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include <QApplication>

#include "directory/ProgramFolder.h"
#include "liveview/LiveView.h"
#include "liveview/QtEventLoop.h"
#include "media/PulseAudioOut.h"
#include "shell/CommandLine.h"
#include "shell/MainWindow.h"
#include "shell/QtLogSink.h"
#include "shell/QtMessageSink.h"
#include "shell/TerminationSignals.h"

namespace {

int printAndEnd(std::FILE* stream, const QString& text, int status) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fputs(bytes.constData(), stream);
    if (!bytes.endsWith('\n')) std::fputc('\n', stream);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A peer that closes its end must never end the program.
    std::signal(SIGPIPE, SIG_IGN);

    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    const tess::CommandLine line = tess::parseCommandLine(arguments);
    switch (line.action) {
        case tess::CommandLine::Action::Help: return printAndEnd(stdout, line.text, 0);
        case tess::CommandLine::Action::Version: return printAndEnd(stdout, line.text, 0);
        case tess::CommandLine::Action::Error:
            return printAndEnd(stderr,
                               QStringLiteral("tessarine: ") + line.text +
                                   QStringLiteral("\nTry 'tessarine --help'."),
                               2);
        case tess::CommandLine::Action::Run: break;
    }
    if (line.scale > 0) qputenv("TESSARINE_SCALE", QByteArray::number(line.scale));

    std::string programFolder;
    if (line.folder.isEmpty()) {
        programFolder = tess::resolveProgramFolder();
    } else {
        std::error_code error;
        programFolder = tess::namedProgramFolder(line.folder.toStdString(), error);
        if (error) {
            return printAndEnd(stderr,
                               QStringLiteral("tessarine: the folder '%1' can't be used: %2")
                                   .arg(line.folder, QString::fromStdString(error.message())),
                               1);
        }
    }

    // Before the application object, so that Qt's own start-up messages
    // take the same way as ours.
    tess::installLogMessageHandler();
    tess::QtLogSink logSink;
    tess::ScopedLogSink installedLog(logSink);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tessarine"));
    QApplication::setApplicationVersion(QStringLiteral(TESS_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(TESS_APPLICATION_ID));

    // Declared before the window: still there while the window saves.
    tess::QtMessageSink sink;
    tess::ScopedMessageSink installedSink(sink);
    tess::TerminationSignals termination;
    tess::PulseAudioOut audioOut;

    // The live session is the program's: windows come and go around it.
    tess::PaneRenderers renderers(programFolder + "Temp/");
    tess::LiveSession session(tess::LiveSession::kQuadPanes, audioOut,
                              std::make_unique<tess::QtEventLoop>(), renderers.factory());

    tess::MainWindow window(
        programFolder, [&session, &renderers](QWidget* parent, const std::string& folder) {
            return std::make_unique<tess::LiveView>(session, renderers, folder, parent);
        });
    // A signal ends the program as closing the main window does: open modal
    // windows close first (each ends its own session), then the main window;
    // the directory is saved when the window is destroyed below.
    QObject::connect(&termination, &tess::TerminationSignals::requested, &window, [] {
        QApplication::closeAllWindows();
        QApplication::quit();
    });
    window.show();
    const int result = QApplication::exec();
    return result;
}
