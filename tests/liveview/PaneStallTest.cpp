#include <QtTest>

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "PaneTestSupport.h"
#include "SimulatedDevice.h"
#include "directory/DeviceDirectory.h"
#include "directory/DeviceEntry.h"
#include "liveview/LiveView.h"
#include "platform/MessageSink.h"

using namespace tess;
using devsim::DeviceConfig;
using devsim::ReplyFault;
using devsim::SimulatedDevice;
using panetest::InstantAudioOut;
using panetest::loginFor;

namespace {

int countRequests(SimulatedDevice& device, std::string_view path) {
    int count = 0;
    for (const std::string& request : device.log().requests()) {
        if (request.find(path) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

}  // namespace

// Four panes whose devices hang at login, at the negotiation and in the middle
// of the stream, and one whose render thread is stuck writing a snapshot to a
// file nobody reads. Everything the window does to them returns while they
// still hang; nothing of their old sessions reaches the window.
class PaneStallTest : public QObject {
    Q_OBJECT

private:
    RecordingMessageSink messages_;
    std::unique_ptr<ScopedMessageSink> scope_;
    InstantAudioOut audioOut_;
    QTemporaryDir folder_;
    DeviceDirectory directory_;
    std::unique_ptr<LiveView> liveView_;

    static std::unique_ptr<SimulatedDevice> start(DeviceConfig config) {
        auto device = std::make_unique<SimulatedDevice>(std::move(config));
        return device->start() ? std::move(device) : nullptr;
    }
    static std::unique_ptr<SimulatedDevice> hangingAt(const char* path) {
        DeviceConfig config;
        config.faults.reply = ReplyFault::Silence;
        config.faults.replyPath = path;
        return start(config);
    }

private slots:
    void init() {
        scope_ = std::make_unique<ScopedMessageSink>(messages_);
        QVERIFY(folder_.isValid());
        QVERIFY(QDir(folder_.path()).mkpath("Temp"));
        liveView_ = std::make_unique<LiveView>(audioOut_, folder_.path().toStdString() + "/");
    }

    void cleanup() {
        liveView_.reset();
        scope_.reset();
    }

    void nothingTheWindowDoesWaitsForAHungPane() {
        auto streaming = start({});
        auto loginHang = hangingAt("/Login.cgi");
        auto negotiationHang = hangingAt("/RequestStream.cgi");
        DeviceConfig stalling;
        stalling.faults.stallAfterFrames = 10;
        stalling.faults.stallSeconds = 60;
        auto midStreamHang = start(stalling);
        QVERIFY(streaming && loginHang && negotiationHang && midStreamHang);

        // Pane 0's next snapshot goes to a pipe with no reader: its render
        // thread blocks in the write and cannot be woken.
        VideoPane& stuck = liveView_->pane(0);
        const std::string pipe = liveView_->snapshotFolder() + "stuck.jpg.part";
        QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
        stuck.setSnapshot("stuck", liveView_->snapshotHeader());

        DeviceEntry entry(EntryKind::device);
        entry.setAddress(u"127.0.0.1");
        entry.setUserName(u"admin");
        entry.setPassword(u"velum");
        entry.setPort(streaming->port());
        entry.setAvFlags(kAvVideo | kAvAudio);

        const std::array<SimulatedDevice*, 3> hung{loginHang.get(), negotiationHang.get(),
                                                   midStreamHang.get()};
        auto startHung = [&] {
            for (int number = 1; number <= 3; ++number) {
                VideoPane& pane = liveView_->pane(number);
                pane.connection().videoWanted = true;
                pane.connection().audioWanted = true;
                pane.startPane(loginFor(*hung[number - 1]));
            }
        };

        bool returned = false;
        QTimer::singleShot(0, liveView_.get(), [&] {
            QTRY_VERIFY_WITH_TIMEOUT(stuck.widget().hasPicture(), 5000);
            startHung();
            QTRY_VERIFY_WITH_TIMEOUT(countRequests(*loginHang, "Login.cgi") == 1, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(countRequests(*negotiationHang, "RequestStream.cgi") == 1,
                                     5000);
            QTRY_VERIFY_WITH_TIMEOUT(midStreamHang->state().activeVideoStreams == 1, 5000);
            stuck.renderState().selected = true;
            stuck.renderState().snapshotRequested = true;
            QTest::qWait(300);  // the next frame takes the render thread into the pipe
            QVERIFY(stuck.renderThread().running());

            for (int number = 0; number < LiveView::kPaneCount; ++number) {
                liveView_->pane(number).stopPane();
            }
            startHung();
            stuck.startPane(loginFor(*streaming));
            for (int number = 0; number < LiveView::kPaneCount; ++number) {
                liveView_->pane(number).runtime().restartVideoReceiver();
                liveView_->pane(number).runtime().restartAudioReceiver();
            }
            liveView_->reject();  // closing stops every pane once more
            returned = true;
        });
        liveView_->view(entry, directory_);
        QVERIFY(returned);

        // Everything returned while the old render thread is still in its write.
        QVERIFY(stuck.renderThread().running());
        QCOMPARE(countRequests(*streaming, "Login.cgi"), 1);

        // Read the pipe: the render thread ends, and the pane's reaper joins it.
        const int reader = ::open(pipe.c_str(), O_RDONLY);
        QVERIFY(reader >= 0);
        char buffer[4096];
        while (::read(reader, buffer, sizeof buffer) > 0) {
        }
        ::close(reader);
        QTRY_VERIFY_WITH_TIMEOUT(!stuck.renderThread().running(), 5000);
        QVERIFY(messages_.messages().empty());
    }
};

QTEST_MAIN(PaneStallTest)
#include "PaneStallTest.moc"
