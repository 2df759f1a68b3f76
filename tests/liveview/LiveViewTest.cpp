#include <QtTest>

#include <QAction>
#include <QMenuBar>
#include <QPushButton>

#include <atomic>
#include <fstream>
#include <iterator>

#include "LiveViewFixture.h"

using namespace tess;
using namespace tess::liveviewtest;

using panetest::countDatagrams;
using panetest::InstantAudioOut;

namespace {

std::vector<uint8_t> readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

class LiveViewTest : public QObject, private LiveViewFixture {
    Q_OBJECT

private slots:
    void init() { QVERIFY(setUpView()); }
    void cleanup() { tearDownView(); }

    void windowIsLaidOutInLogicalCoordinates() {
        const int s = liveView_->geometry().scale();
        QCOMPARE(liveView_->windowTitle(), QString("Show"));
        QCOMPARE(liveView_->size(), QSize(240 * s, 294 * s));
        QCOMPARE(paneAt(3).widget().caption(), QString("View4"));
        QCOMPARE(liveView_->snapshotFolder(), folder_->path().toStdString() + "/Temp/");
        QVERIFY(session_->label().empty());
    }

    // One packet-stream camera from opening to closing, with a snapshot of
    // its live stream on the way.
    void deviceShowsPicturesSavesASnapshotAndIsToldOfTheClose() {
        DeviceConfig config;
        config.deviceClass = 6;
        auto device = startDevice(config);
        QVERIFY(device);
        DeviceEntry entry = deviceEntry(*device, kAvVideo | kAvAudio);
        PaneAccess pane = paneAt(0);
        QString snapshotPath;
        const bool open = showWhile(entry, [&] {
            QVERIFY(pane.widget().isVisible());
            QCOMPARE(pane.widget().geometry(),
                     liveView_->geometry().toPixels(QRect(0, 0, 240, 165)));
            QTRY_VERIFY_WITH_TIMEOUT(pane.widget().hasPicture(), 5000);
            QVERIFY(looksLikeAPicture(pane.widget().picture()));
            QCOMPARE(pane.widget().picture().size(), QSize(352, 240));
            QCOMPARE(session_->view(), 0);
            QVERIFY(pane.connection().audioToPlayer);
            QVERIFY(!paneAt(1).connection().audioToPlayer);
            QTRY_VERIFY_WITH_TIMEOUT(audioOut_.samples > 0, 5000);

            // "1" comes once the file is saved, and opens the browser on it.
            QPushButton& viewer = liveView_->controlPanel().snapshotViewerButton();
            QVERIFY(viewer.isHidden());
            QVERIFY(liveView_->takeSnapshot());
            QTRY_VERIFY_WITH_TIMEOUT(viewer.isVisible(), 3000);
            snapshotPath =
                QString::fromStdString(liveView_->snapshotFolder() + liveView_->lastSnapshotName());
            SnapshotBrowser& browser = liveView_->snapshotBrowser();
            QTimer::singleShot(0, &browser, [&] {
                QVERIFY(browser.isVisible());
                QCOMPARE(browser.picture().size(), QSize(352, 240));
                QCOMPARE(browser.cursor().counterText(), std::string("1/1"));
                browser.reject();
            });
            viewer.click();
        });
        QVERIFY(open);
        QTRY_COMPARE_WITH_TIMEOUT(countDatagrams(*device, "Connection: Close"), 1, 2000);
        QTest::qWait(200);
        QCOMPARE(countDatagrams(*device, "Connection: Close"), 1);
        QVERIFY(!pane.connection().keepRetrying);
        QVERIFY(messages_.messages().empty());

        // The file is a picture of the stream that decodes on its own.
        const std::vector<uint8_t> file = readFile(snapshotPath);
        QVERIFY(file.size() > SnapshotHeader::kSize);
        QVERIFY(std::equal(file.begin(), file.begin() + SnapshotHeader::kSize,
                           liveView_->snapshotHeader().bytes().begin()));
        QImage saved;
        QVERIFY(saved.loadFromData(file.data(), static_cast<int>(file.size()), "JPEG"));
        QCOMPARE(saved.size(), QSize(352, 240));
    }

    // Two presses make two files; a folder that cannot take a snapshot is told
    // once, with no "1" and no second try on the next frames.
    void snapshotsNeverReplaceOneAnotherAndFailuresAreToldOnce() {
        auto device = startDevice({});
        QVERIFY(device);
        DeviceEntry entry = deviceEntry(*device);
        QPushButton& viewer = liveView_->controlPanel().snapshotViewerButton();
        const QString folder = QString::fromStdString(liveView_->snapshotFolder());
        showWhile(entry, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(paneAt(0).widget().hasPicture(), 5000);
            for (int press = 1; press <= 2; ++press) {
                QVERIFY(liveView_->takeSnapshot());
                QTRY_COMPARE_WITH_TIMEOUT(QDir(folder).entryList({"*.jpg"}).size(), press, 3000);
            }
            QVERIFY(viewer.isVisible());
            QVERIFY(QDir(folder).removeRecursively());
            QFile blocker(folder.chopped(1));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            viewer.hide();
            QVERIFY(liveView_->takeSnapshot());
            QTRY_COMPARE_WITH_TIMEOUT(messages_.messages().size(), size_t{1}, 3000);
            QTest::qWait(300);
        });
        QCOMPARE(messages_.messages().size(), size_t{1});
        QVERIFY(messages_.messages()[0].find(folder.toStdString()) != std::string::npos);
        QVERIFY(viewer.isHidden());
    }

    void refusedLoginClosesTheWindowByItself() {
        DeviceConfig config;
        config.deviceClass = 3;
        auto device = startDevice(config);
        QVERIFY(device);
        DeviceEntry entry = deviceEntry(*device, kAvVideo, u"wrong");
        const bool open =
            showWhile(entry, [&] { QTRY_VERIFY_WITH_TIMEOUT(!liveView_->isVisible(), 7000); });
        QVERIFY(!open);
        QCOMPARE(messages_.messages(), std::vector<std::string>{"Too many users login"});
        QVERIFY(!paneAt(0).connection().keepRetrying);
    }

    void recorderGetsTheChannelMenuAndChangesChannel() {
        DeviceConfig config;
        config.deviceClass = 50;
        auto device = startDevice(config);
        QVERIFY(device);
        DeviceEntry entry = deviceEntry(*device);
        PaneAccess pane = paneAt(0);
        const bool open = showWhile(entry, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(liveView_->channelMenuBar() != nullptr, 2000);
            const QList<QAction*> commands = liveView_->channelMenuBar()->actions();
            QCOMPARE(commands.size(), 2);
            QCOMPARE(commands[0]->text(), QString("CH1"));
            QCOMPARE(commands[1]->text(), QString("CH2"));

            // The commands act once the negotiation has published the
            // session. The request runs on the pane's command worker: the
            // window goes on at once, a busy cursor over the pane until the
            // device answered.
            QTRY_COMPARE_WITH_TIMEOUT(pane.facts().deviceClass, 50, 5000);
            commands[1]->trigger();
            QCOMPARE(pane.commandsInFlight(), 1);
            QCOMPARE(pane.widget().cursor().shape(), Qt::BusyCursor);
            QTRY_COMPARE_WITH_TIMEOUT(pane.commandsInFlight(), 0, 5000);
            QVERIFY(!pane.widget().testAttribute(Qt::WA_SetCursor));
            QCOMPARE(pane.facts().channel, 2);
            const std::string expected =
                "GET /SetChannel.cgi?SessionID=" + std::string(pane.facts().sessionIdText()) +
                "&CH=2 HTTP/1.1\r\nAccept: */* \r\nAccept-Language: zh-tw\r\n"
                "Accept-Encoding: gzip, deflate\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE "
                "6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322)\r\nHost: " +
                pane.connection().localAddress + "\r\nConnection: Keep-Alive\r\n\r\n";
            const std::vector<std::string> requests = device->log().requests();
            QVERIFY(std::find(requests.begin(), requests.end(), expected) != requests.end());
            QCOMPARE(device->state().channel, 2);
        });
        QVERIFY(open);
        QVERIFY(messages_.messages().empty());
    }

    void otherDevicesGetAnEmptyMenuBarAndNoChannelChange() {
        DeviceConfig config;
        config.deviceClass = 3;
        auto device = startDevice(config);
        QVERIFY(device);
        DeviceEntry entry = deviceEntry(*device);
        showWhile(entry, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(liveView_->channelMenuBar() != nullptr, 2000);
            QVERIFY(liveView_->channelMenuBar()->actions().isEmpty());
            QVERIFY(!session_->changeChannel(2));
        });
        for (const std::string& request : device->log().requests()) {
            QVERIFY(request.find("SetChannel.cgi") == std::string::npos);
        }
    }

    // The connect thread asks for layouts while the window runs; they reach
    // the window on its own thread.
    void layoutRequestsFromTheConnectThreadLandOnTheWindow() {
        struct Case {
            int deviceClass;
            int deviceType;
            ControlLayout layout;
            AvButton avButton;
        };
        for (const Case& c : {Case{3, 0, ControlLayout::DvrTabs, AvButton::None},
                              Case{1, 5, ControlLayout::NineChannel, AvButton::VideoOnly}}) {
            DeviceConfig config;
            config.deviceClass = c.deviceClass;
            config.deviceType = c.deviceType;
            auto device = startDevice(config);
            QVERIFY(device);
            DeviceEntry entry = deviceEntry(*device);
            showWhile(entry, [&] {
                QTRY_VERIFY_WITH_TIMEOUT(paneAt(0).widget().hasPicture(), 5000);
                QCOMPARE(liveView_->controlPanel().layout(), c.layout);
                QCOMPARE(liveView_->controlPanel().avButtonShown(), c.avButton);
            });
            QCOMPARE(liveView_->controlPanel().layout(), c.layout);
            QVERIFY(messages_.messages().empty());
        }
    }

    // An unknown model code: the window closes by itself, without a message.
    // A device that streams MPEG-4 only: the window stays, with its message.
    void unknownModelClosesTheWindowMpegOnlyDoesNot() {
        DeviceConfig unknown;
        unknown.deviceClass = 3;
        unknown.productId = "ZZ9Z";
        auto device = startDevice(unknown);
        QVERIFY(device);
        DeviceEntry entry = deviceEntry(*device);
        QVERIFY(
            !showWhile(entry, [&] { QTRY_VERIFY_WITH_TIMEOUT(!liveView_->isVisible(), 7000); }));
        QVERIFY(messages_.messages().empty());

        DeviceConfig mpeg;
        mpeg.deviceClass = 7;
        mpeg.extraOperationMode = 0;
        auto mpegDevice = startDevice(mpeg);
        QVERIFY(mpegDevice);
        DeviceEntry mpegEntry = deviceEntry(*mpegDevice);
        QVERIFY(showWhile(mpegEntry, [&] {
            QTRY_COMPARE_WITH_TIMEOUT(messages_.messages(),
                                      std::vector<std::string>{"The Mpeg4 Only"}, 7000);
            QTest::qWait(200);
        }));
        QCOMPARE(liveView_->controlPanel().layout(),
                 ControlLayout::None);  // a failure lays out nothing
    }

    // While a box is open, the same text again gives no second box; another
    // text waits for its turn.
    void oneBoxAtATimeAndNoRepeats() {
        class ModalSink : public MessageSink {
        public:
            void show(std::string_view text) override {
                shown.emplace_back(text);
                // The box's own event loop: reports keep arriving meanwhile.
                QTest::qWait(100);
            }
            bool confirm(std::string_view) override { return false; }
            std::vector<std::string> shown;
        } sink;
        ScopedMessageSink scope(sink);
        QTimer::singleShot(20, liveView_.get(), [this] {
            liveView_->tell("The network is failed !!");
            liveView_->tell("Get the message error!");
        });
        liveView_->tell("The network is failed !!");
        QCOMPARE(sink.shown,
                 (std::vector<std::string>{"The network is failed !!", "Get the message error!"}));
        liveView_->tell("The network is failed !!");  // the first box has closed
        QCOMPARE(sink.shown.size(), 3u);
    }

    // The PTZ buttons, keys and the aim go to the current pane's command
    // worker: each press returns at once and reaches the camera.
    void ptzPressesReachTheCameraOfTheCurrentPane() {
        DeviceConfig config;
        config.deviceClass = 1;
        config.deviceType = 8;
        auto device = startDevice(config);
        QVERIFY(device);
        DeviceEntry entry = deviceEntry(*device);
        showWhile(entry, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(paneAt(0).facts().deviceClass == 1, 5000);
            QVERIFY(session_->sendPtzAction(16));
            QVERIFY(session_->sendKey(57));
            QVERIFY(session_->aim(0, {100, 50, false, 0, 0, 240, 165}));
            QTRY_COMPARE_WITH_TIMEOUT(device->state().records.size(), size_t{3}, 5000);
            QTRY_COMPARE(paneAt(0).commandsInFlight(), 0);
        });
        const auto records = device->state().records;
        QCOMPARE(records[0].action, devsim::PtzAction::Up);
        QCOMPARE(records[1].keyCode, 57);
        QCOMPARE(records[2].cell, 0x16);  // row 50 / 27, column 100 / 15
        QVERIFY(messages_.messages().empty());
    }

    // A report of an earlier start reaches no control; one of the pane's
    // current start does.
    void lateReportOfAnEarlierStartChangesNoControl() {
        DeviceConfig config;
        config.deviceClass = 3;
        auto device = startDevice(config);
        QVERIFY(device);
        DeviceEntry entry = deviceEntry(*device);
        PaneAccess pane = paneAt(0);
        showWhile(entry, [&] {
            QTRY_COMPARE_WITH_TIMEOUT(liveView_->controlPanel().layout(), ControlLayout::DvrTabs,
                                      5000);
            SessionFacts plain;
            plain.deviceClass = 4;
            const PaneStamp current = pane.runtime().stamp();
            PaneEvents& reports = *session_;
            reports.negotiated({0, current.generation - 1}, plain);
            QTest::qWait(50);
            QCOMPARE(liveView_->controlPanel().layout(), ControlLayout::DvrTabs);
            reports.negotiated(current, plain);
            QTRY_COMPARE(liveView_->controlPanel().layout(), ControlLayout::Plain);
        });
    }

    // Panes whose devices hang at login, at the negotiation and in the middle
    // of the stream. Everything the window does to them returns while they
    // still hang; nothing of their old sessions reaches the window.
    void nothingTheWindowDoesWaitsForAHungPane() {
        auto streaming = startDevice({});
        auto loginHang = panetest::deviceHangingAt("/Login.cgi");
        auto negotiationHang = panetest::deviceHangingAt("/RequestStream.cgi");
        DeviceConfig stalling;
        stalling.faults.stallAfterFrames = 10;
        stalling.faults.stallSeconds = 60;
        auto midStreamHang = startDevice(stalling);
        QVERIFY(streaming && loginHang && negotiationHang && midStreamHang);

        PaneAccess first = paneAt(0);

        DeviceEntry entry = panetest::deviceEntryFor(*streaming, kAvVideo | kAvAudio);

        const std::array<SimulatedDevice*, 3> hung{loginHang.get(), negotiationHang.get(),
                                                   midStreamHang.get()};
        auto startHung = [&] {
            for (int number = 1; number <= 3; ++number) {
                PaneAccess pane = paneAt(number);
                pane.connection().videoWanted = true;
                pane.connection().audioWanted = true;
                pane.runtime().startPane(panetest::loginFor(*hung[number - 1]));
            }
        };

        bool returned = false;
        QTimer::singleShot(0, liveView_.get(), [&] {
            QTRY_VERIFY_WITH_TIMEOUT(first.widget().hasPicture(), 5000);
            startHung();
            QTRY_VERIFY_WITH_TIMEOUT(panetest::countRequests(*loginHang, "Login.cgi") == 1, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(
                panetest::countRequests(*negotiationHang, "RequestStream.cgi") == 1, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(midStreamHang->state().activeVideoStreams == 1, 5000);
            for (int number = 0; number < LiveSession::kQuadPanes; ++number) {
                paneAt(number).runtime().stopPane();
            }
            startHung();
            first.runtime().startPane(panetest::loginFor(*streaming));
            for (int number = 0; number < LiveSession::kQuadPanes; ++number) {
                paneAt(number).runtime().restartVideoReceiver();
                paneAt(number).runtime().restartAudioReceiver();
            }
            liveView_->reject();  // closing stops every pane once more
            returned = true;
        });
        liveView_->view(entry, directory_);
        QVERIFY(returned);

        QVERIFY(messages_.messages().empty());
    }
};

QTEST_MAIN(LiveViewTest)
#include "LiveViewTest.moc"
