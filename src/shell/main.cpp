// tessarine: the live-view client. No options: the directory file and the
// snapshot folder live in the program folder (resolveProgramFolder).
#include <csignal>
#include <memory>

#include <QApplication>

#include "directory/ProgramFolder.h"
#include "liveview/LiveView.h"
#include "media/PulseAudioOut.h"
#include "shell/MainWindow.h"
#include "shell/QtMessageSink.h"
#include "shell/TerminationSignals.h"

int main(int argc, char** argv) {
    // A peer that closes its end must never end the program.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tessarine"));

    // Declared before the window: still there while the window saves.
    tess::QtMessageSink sink;
    tess::ScopedMessageSink installedSink(sink);
    tess::TerminationSignals termination;
    tess::PulseAudioOut audioOut;

    tess::MainWindow window(tess::resolveProgramFolder(),
                            [&audioOut](QWidget* parent, const std::string& programFolder) {
                                return std::make_unique<tess::LiveView>(audioOut, programFolder,
                                                                        parent);
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
