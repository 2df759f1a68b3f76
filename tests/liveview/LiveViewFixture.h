#pragma once

#include <QtTest>

#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "PaneTestSupport.h"
#include "SimulatedDevice.h"
#include "directory/DeviceDirectory.h"
#include "directory/DeviceEntry.h"
#include "liveview/LiveView.h"
#include "liveview/QtEventLoop.h"
#include "platform/MessageSink.h"

namespace tess::liveviewtest {

using devsim::DeviceConfig;
using devsim::SimulatedDevice;

// A picture of more than a handful of colours: the simulator's, not a blank.
inline bool looksLikeAPicture(const QImage& picture) {
    std::set<QRgb> colours;
    for (int y = 0; y < picture.height(); y += 7) {
        for (int x = 0; x < picture.width(); x += 7) {
            colours.insert(picture.pixel(x, y));
        }
    }
    return colours.size() > 8;
}

// One pane of the session under test, as the tests look at it.
class PaneAccess {
public:
    PaneAccess(LiveView& view, int number) : view_(view), number_(number) {}
    PaneWidget& widget() { return view_.paneWidget(number_); }
    PaneRuntime& runtime() { return view_.session().runtime(number_); }
    PaneConnection& connection() { return runtime().connection(); }
    SessionFacts facts() { return runtime().facts(); }
    PaneRenderState& renderState() { return view_.session().rendering(number_).renderState(); }
    int commandsInFlight() { return view_.session().commandsInFlight(number_); }
    PaneHealth health() { return view_.session().health(number_); }

private:
    LiveView& view_;
    int number_;
};

// A live view on a session of four panes, with its message recorder, sound
// output, program folder and directory, for the Qt Test classes of the window.
class LiveViewFixture {
protected:
    RecordingMessageSink messages_;
    std::unique_ptr<ScopedMessageSink> scope_;
    panetest::InstantAudioOut audioOut_;
    std::unique_ptr<QTemporaryDir> folder_;
    DeviceDirectory directory_;
    std::unique_ptr<PaneRenderers> renderers_;
    std::unique_ptr<LiveSession> session_;
    std::unique_ptr<LiveView> liveView_;

    PaneAccess paneAt(int number) { return {*liveView_, number}; }

    static std::unique_ptr<SimulatedDevice> startDevice(DeviceConfig config) {
        auto device = std::make_unique<SimulatedDevice>(std::move(config));
        if (!device->start()) {
            qWarning("simulator: %s", device->lastError().c_str());
            return nullptr;
        }
        return device;
    }

    static DeviceEntry deviceEntry(const SimulatedDevice& device, uint16_t avFlags = kAvVideo,
                                   std::u16string_view password = u"velum") {
        DeviceEntry entry = panetest::deviceEntryFor(device, avFlags);
        entry.setPassword(password);
        return entry;
    }

    // A device of the directory, on `device`.
    DeviceEntry& addDevice(const SimulatedDevice& device, std::u16string_view label,
                           uint16_t avFlags = kAvVideo) {
        DeviceEntry& entry = *directory_.createEntry(EntryKind::device, label, nullptr);
        panetest::describeDevice(entry, device, avFlags);
        return entry;
    }

    DeviceEntry& addMultiDevice(uint8_t type, std::vector<uint16_t> members,
                                uint8_t displayTimeIndex = 0) {
        DeviceEntry& entry = *directory_.createEntry(EntryKind::multiDevice, u"Multi", nullptr);
        entry.setMultiType(type);
        entry.setDisplayTimeIndex(displayTimeIndex);
        entry.setMembers(members);
        return entry;
    }

    // Shows `entry` and runs `body` inside the modal run; the window is closed
    // afterwards (or after 30 s whatever the body does). True when the window
    // was still open when the body ended, false when it had closed by itself.
    bool showWhile(DeviceEntry& entry, const std::function<void()>& body) {
        bool openAfterBody = false;
        QTimer safety;
        safety.setSingleShot(true);
        QObject::connect(&safety, &QTimer::timeout, liveView_.get(), &QDialog::reject);
        safety.start(30000);
        QTimer::singleShot(0, liveView_.get(), [&] {
            body();
            openAfterBody = liveView_->isVisible();
            liveView_->reject();
        });
        liveView_->view(entry, directory_);
        return openAfterBody;
    }

    // The init and cleanup of a test function.
    bool setUpView() {
        messages_.clear();
        scope_ = std::make_unique<ScopedMessageSink>(messages_);
        folder_ = std::make_unique<QTemporaryDir>();
        if (!folder_->isValid() || !QDir(folder_->path()).mkpath("Temp")) return false;
        const std::string programFolder = folder_->path().toStdString() + "/";
        renderers_ = std::make_unique<PaneRenderers>(programFolder + "Temp/");
        session_ = std::make_unique<LiveSession>(LiveSession::kQuadPanes, audioOut_,
                                                 std::make_unique<QtEventLoop>(),
                                                 renderers_->factory(), timings());
        liveView_ = std::make_unique<LiveView>(*session_, *renderers_, programFolder);
        return true;
    }

    void tearDownView() {
        liveView_.reset();
        session_.reset();
        renderers_.reset();
        scope_.reset();
    }

    // The product's, but for the audio stop after an A/V change, which no
    // test needs to wait a second for.
    static PaneTimings timings() {
        PaneTimings timings;
        timings.audioStopDelayMs = 200;
        return timings;
    }
};

}  // namespace tess::liveviewtest
