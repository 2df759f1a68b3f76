// gui_stall_bench: how long the GUI thread is ever kept from its events while
// four panes whose devices hang are opened, stopped, restarted and closed.
//
// Devices: one that streams video and audio, one that never answers its
// login, one that never answers the stream negotiation and one that stalls
// for a minute in the middle of its stream. Each of 20 rounds opens the live
// view on the streaming device, starts the other three panes on the hanging
// ones, lets them run, stops every pane, starts them again, restarts the
// audio and video receivers, and closes the window.
//
// Then the same four devices as a Quad and as a Switch: each round opens the
// quad, shows a pane alone by two taps, returns with 4Device and closes; then
// opens the tour, takes a few tour steps and closes in the middle of one.
//
// A 10 ms heartbeat timer on the GUI thread notes the longest gap between two
// of its ticks; the longest single call into a pane is timed too. Figures go
// to standard output.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>

#include "PaneTestSupport.h"
#include "SimulatedDevice.h"
#include "directory/DeviceDirectory.h"
#include "directory/DeviceEntry.h"
#include "liveview/LiveView.h"
#include "liveview/QtEventLoop.h"
#include "platform/MessageSink.h"

namespace tess {
namespace {

using devsim::DeviceConfig;
using devsim::SimulatedDevice;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 20;
constexpr int kHeartbeatMs = 10;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void runEvents(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The longest gap between two ticks of a timer on the GUI thread.
class Heartbeat {
public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longestMs_ = std::max(longestMs_,
                                  std::chrono::duration<double, std::milli>(now - last_).count());
            last_ = now;
            ++ticks_;
        });
        last_ = Clock::now();
        timer_.start(kHeartbeatMs);
    }
    double longestGapMs() const { return longestMs_; }
    long ticks() const { return ticks_; }

private:
    QTimer timer_;
    Clock::time_point last_;
    double longestMs_ = 0;
    long ticks_ = 0;
};

// Times each call made through it and keeps the longest.
class CallTimer {
public:
    void operator()(const std::function<void()>& call) {
        const auto start = Clock::now();
        call();
        longestMs_ = std::max(longestMs_, millisecondsSince(start));
    }
    double longestMs() const { return longestMs_; }

private:
    double longestMs_ = 0;
};

// A tap in the middle of a pane, as the stylus gives it.
void tap(QWidget& pane) {
    const QPointF centre = QRectF(pane.rect()).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
        QMouseEvent event(type, centre, pane.mapToGlobal(centre), Qt::LeftButton, held,
                          Qt::NoModifier);
        QApplication::sendEvent(&pane, &event);
    }
}

DeviceEntry& addDevice(DeviceDirectory& directory, const SimulatedDevice& device) {
    DeviceEntry& entry = *directory.createEntry(EntryKind::device, u"Device", nullptr);
    panetest::describeDevice(entry, device, kAvVideo | kAvAudio);
    return entry;
}

void printStalls(const char* what, const Heartbeat& heartbeat, const CallTimer& timed) {
    std::printf(
        "%s: longest GUI stall (10 ms heartbeat) %.1f ms (target below 100 ms), %ld "
        "ticks; longest single call %.2f ms\n",
        what, heartbeat.longestGapMs(), heartbeat.ticks(), timed.longestMs());
}

// The quad and the tour of `devices`, `kRounds` times each.
void quadAndTour(LiveView& liveView, const std::vector<SimulatedDevice*>& devices) {
    DeviceDirectory directory;
    std::vector<uint16_t> members;
    for (SimulatedDevice* device : devices)
        members.push_back(addDevice(directory, *device).index());
    const auto addMulti = [&](uint8_t type) -> DeviceEntry& {
        DeviceEntry& entry = *directory.createEntry(EntryKind::multiDevice, u"Multi", nullptr);
        entry.setMultiType(type);
        entry.setMembers(members);
        return entry;
    };
    DeviceEntry& quad = addMulti(kMultiTypeQuad);
    DeviceEntry& tour = addMulti(kMultiTypeSwitch);

    {
        CallTimer timed;
        Heartbeat heartbeat;
        for (int round = 0; round < kRounds; ++round) {
            const int shown = round % LiveSession::kQuadPanes;
            QTimer::singleShot(0, &liveView, [&] {
                runEvents(300);
                timed([&] { tap(liveView.paneWidget(shown)); });
                timed([&] { tap(liveView.paneWidget(shown)); });
                runEvents(300);
                timed([&] { liveView.controlPanel().button(Control::FourDevice).click(); });
                runEvents(300);
                timed([&] { liveView.reject(); });
            });
            liveView.view(quad, directory);
        }
        printStalls("quad: open, one pane alone, back, close", heartbeat, timed);
    }
    {
        CallTimer timed;
        Heartbeat heartbeat;
        for (int round = 0; round < kRounds; ++round) {
            QTimer::singleShot(0, &liveView, [&] {
                for (int step = 0; step < 3; ++step) {
                    runEvents(200);
                    timed([&] { liveView.session().advanceTour(); });
                }
                timed([&] {
                    liveView.session().advanceTour();
                    liveView.reject();
                });
            });
            liveView.view(tour, directory);
        }
        printStalls("tour: open, three steps, close during a step", heartbeat, timed);
    }
}

int run() {
    RecordingMessageSink messages;  // boxes would hold the GUI thread for a user
    ScopedMessageSink scope(messages);
    auto streaming = panetest::startedDevice({});
    auto loginHang = panetest::deviceHangingAt("/Login.cgi");
    auto negotiationHang = panetest::deviceHangingAt("/RequestStream.cgi");
    DeviceConfig stalling;
    stalling.faults.stallAfterFrames = 10;
    stalling.faults.stallSeconds = 60;
    auto midStreamHang = panetest::startedDevice(stalling);
    if (!streaming || !loginHang || !negotiationHang || !midStreamHang) return 1;
    const std::array<SimulatedDevice*, 3> hung{loginHang.get(), negotiationHang.get(),
                                               midStreamHang.get()};

    QTemporaryDir folder;
    panetest::InstantAudioOut audioOut;
    DeviceDirectory directory;
    const std::string programFolder = folder.path().toStdString() + "/";
    PaneRenderers renderers(programFolder + "Temp/");
    LiveSession session(LiveSession::kQuadPanes, audioOut, std::make_unique<QtEventLoop>(),
                        renderers.factory());
    LiveView liveView(session, renderers, programFolder);
    DeviceEntry entry = panetest::deviceEntryFor(*streaming, kAvVideo | kAvAudio);

    CallTimer timed;
    auto startHung = [&] {
        for (int number = 1; number <= 3; ++number) {
            PaneRuntime& pane = session.runtime(number);
            pane.connection().videoWanted = true;
            pane.connection().audioWanted = true;
            timed([&] { pane.startPane(panetest::loginFor(*hung[number - 1])); });
        }
    };
    auto forEachPane = [&](const std::function<void(PaneRuntime&)>& call) {
        for (int number = 0; number < LiveSession::kQuadPanes; ++number) {
            timed([&] { call(session.runtime(number)); });
        }
    };

    Heartbeat heartbeat;
    const auto start = Clock::now();
    for (int round = 0; round < kRounds; ++round) {
        QTimer::singleShot(0, &liveView, [&] {
            startHung();
            runEvents(300);
            forEachPane([](PaneRuntime& pane) { pane.stopPane(); });
            runEvents(50);
            startHung();
            timed([&] { session.runtime(0).startPane(panetest::loginFor(*streaming)); });
            runEvents(300);
            forEachPane([](PaneRuntime& pane) {
                pane.restartVideoReceiver();
                pane.restartAudioReceiver();
            });
            runEvents(300);
            timed([&] { liveView.reject(); });
        });
        liveView.view(entry, directory);
    }
    const double seconds = millisecondsSince(start) / 1000.0;
    runEvents(50);

    std::printf("== GUI thread stalls, four panes on hanging devices, %d rounds in %.1f s ==\n",
                kRounds, seconds);
    std::printf("longest GUI stall (10 ms heartbeat): %.1f ms (target below 100 ms), %ld ticks\n",
                heartbeat.longestGapMs(), heartbeat.ticks());
    std::printf("longest single call (start, stop, restart, close): %.2f ms\n", timed.longestMs());

    std::vector<SimulatedDevice*> quadDevices{streaming.get()};
    quadDevices.insert(quadDevices.end(), hung.begin(), hung.end());
    quadAndTour(liveView, quadDevices);
    for (const std::string& message : messages.messages()) {
        std::printf("message for the user: %s\n", message.c_str());
    }
    return 0;
}

}  // namespace
}  // namespace tess

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return tess::run();
}
