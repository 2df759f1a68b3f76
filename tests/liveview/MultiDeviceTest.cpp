#include <QtTest>

#include <QAbstractButton>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "LiveViewFixture.h"
#include "protocol/CgiExchange.h"
#include "protocol/Requests.h"

using namespace tess;
using namespace tess::liveviewtest;

namespace {

constexpr int kPictureWaitMs = 5000;

DeviceConfig configOf(int deviceClass, int deviceType = 0) {
    DeviceConfig config;
    config.deviceClass = deviceClass;
    config.deviceType = deviceType;
    return config;
}

}  // namespace

// Quads, Switch tours and the control panel's commands, against simulated
// devices.
class MultiDeviceTest : public QObject, private LiveViewFixture {
    Q_OBJECT

private:
    std::vector<std::unique_ptr<SimulatedDevice>> devices_;

    // `count` simulated devices of `config` in the directory; their indices.
    std::vector<uint16_t> addDevices(int count, const DeviceConfig& config,
                                     uint16_t avFlags = kAvVideo) {
        std::vector<uint16_t> indices;
        for (int i = 0; i < count; ++i) {
            devices_.push_back(startDevice(config));
            if (!devices_.back()) return {};
            const std::u16string label = u"Camera " + std::u16string(1, u'A' + i);
            indices.push_back(addDevice(*devices_.back(), label, avFlags).index());
        }
        return indices;
    }

    QPoint centreOf(const QWidget& widget) { return widget.rect().center(); }

    // A click on the picture area at logical point `at`, as the user taps.
    void tap(QPoint at) {
        const QPoint pixels = liveView_->geometry().toPixels(at);
        QWidget* target = liveView_->childAt(pixels);
        QVERIFY(target != nullptr);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(liveView_.get(), pixels));
    }

    void click(QAbstractButton& button) {
        QVERIFY2(button.isVisible(), qPrintable(button.accessibleName()));
        QTest::mouseClick(&button, Qt::LeftButton, {}, centreOf(button));
    }

    bool hasPictureAgain(PaneAccess pane) {
        pane.widget().clearPicture();
        return QTest::qWaitFor([&] { return pane.widget().hasPicture(); }, kPictureWaitMs);
    }

private slots:
    void init() { QVERIFY(setUpView()); }
    void cleanup() {
        tearDownView();
        devices_.clear();
        directory_.freeAll();
    }

    // Three members: three pictures and an empty fourth pane. A tap selects,
    // a second tap shows the pane alone with its sound, and 4Device brings
    // the quad back with the panes below the started count restarted.
    void quadOfThreeMembers() {
        const auto members = addDevices(3, configOf(6));
        QCOMPARE(members.size(), size_t{3});
        DeviceEntry& quad = addMultiDevice(kMultiTypeQuad, members);
        ControlPanel& panel = liveView_->controlPanel();
        showWhile(quad, [&] {
            QCOMPARE(session_->view(), kQuadView);
            QCOMPARE(session_->startedCount(), 3);
            for (int number = 0; number < 3; ++number) {
                PaneAccess pane = paneAt(number);
                QTRY_VERIFY_WITH_TIMEOUT(pane.widget().hasPicture(), kPictureWaitMs);
                QVERIFY(!pane.connection().audioToPlayer);
            }
            QCOMPARE(paneAt(3).widget().geometry(),
                     liveView_->geometry().toPixels(QRect(120, 82, 120, 82)));
            QVERIFY(!paneAt(3).widget().hasPicture());
            QVERIFY(panel.isShown(Control::SnapShot) && !panel.isShown(Control::FourDevice));

            tap({130, 10});
            QVERIFY(paneAt(1).renderState().selected);
            tap({10, 10});
            QVERIFY(paneAt(0).renderState().selected);
            QVERIFY(!paneAt(1).renderState().selected);
            // SnapShot saves the selected pane's next frame.
            click(panel.button(Control::SnapShot));
            QTRY_VERIFY_WITH_TIMEOUT(panel.snapshotViewerButton().isVisible(), 3000);
            tap({10, 10});
            QCOMPARE(session_->view(), 1);
            QCOMPARE(paneAt(0).widget().geometry(),
                     liveView_->geometry().toPixels(QRect(0, 0, 240, 165)));
            QVERIFY(paneAt(0).connection().audioToPlayer);
            QVERIFY(paneAt(1).widget().isHidden());
            QTRY_COMPARE(panel.layout(), ControlLayout::PresetTabs);
            QVERIFY(panel.isShown(Control::FourDevice));

            click(panel.button(Control::FourDevice));
            QCOMPARE(session_->view(), kQuadView);
            QVERIFY(panel.snapshotViewerButton().isHidden());
            QVERIFY(!paneAt(0).connection().audioToPlayer);
            QVERIFY(hasPictureAgain(paneAt(1)));
            QVERIFY(hasPictureAgain(paneAt(2)));
            QTest::qWait(300);
            QVERIFY(!paneAt(3).widget().hasPicture());
            QCOMPARE(paneAt(3).runtime().liveThreadCount(), 0);

            // The empty pane alone: no device, so nothing that sends.
            tap({200, 100});
            tap({200, 100});
            QCOMPARE(session_->view(), 4);
            QCOMPARE(panel.layout(), ControlLayout::Default);
            QVERIFY(!liveView_->takeSnapshot());
        });
        QVERIFY(messages_.messages().empty());
    }

    // A Switch shows one member at a time with its sound and label, and its
    // tour ends with the device on screen.
    void switchToursItsMembers() {
        const auto members = addDevices(2, configOf(6), kAvVideo | kAvAudio);
        QCOMPARE(members.size(), size_t{2});
        DeviceEntry& tour = addMultiDevice(kMultiTypeSwitch, members, 0);
        ControlPanel& panel = liveView_->controlPanel();
        showWhile(tour, [&] {
            QCOMPARE(session_->tourIntervalMs(), 5000);
            QVERIFY(session_->touring());
            QCOMPARE(session_->view(), 1);
            QCOMPARE(panel.labelBox().text(), QString("Camera A"));
            QVERIFY(panel.labelBox().isVisible() && panel.isShown(Control::SnapShot));
            PaneAccess first = paneAt(0);
            PaneAccess second = paneAt(1);
            QTRY_VERIFY_WITH_TIMEOUT(first.widget().hasPicture(), kPictureWaitMs);
            QVERIFY(first.connection().audioToPlayer && first.connection().audioWanted);
            QTRY_VERIFY_WITH_TIMEOUT(first.connection().controlLink.connected(), kPictureWaitMs);
            // The layouts change nothing in a Switch.
            QTRY_VERIFY(first.facts().deviceClass == 6);
            QTest::qWait(100);
            QVERIFY(panel.tabs().isHidden());

            session_->advanceTour();
            QCOMPARE(session_->view(), 2);
            QVERIFY(!first.connection().audioToPlayer && first.widget().isHidden());
            QVERIFY(second.connection().audioToPlayer && second.widget().isVisible());
            QCOMPARE(panel.labelBox().text(), QString("Camera B"));
            QTRY_VERIFY_WITH_TIMEOUT(second.widget().hasPicture(), kPictureWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(second.connection().controlLink.connected(), kPictureWaitMs);

            // Camera B goes away: the tour ends on its last picture.
            devices_[1]->stop();
            QTRY_VERIFY_WITH_TIMEOUT(!second.connection().controlLink.connected(), 5000);
            session_->advanceTour();
            QVERIFY(!session_->touring());
            QCOMPARE(session_->view(), 2);
            QVERIFY(second.widget().hasPicture());
        });
    }

    // The longest display time, and a Switch without any device: it starts
    // nothing and still closes.
    void switchOfFoldersStartsNothing() {
        DeviceEntry* folder = directory_.createEntry(EntryKind::folder, u"Folder", nullptr);
        DeviceEntry& tour = addMultiDevice(kMultiTypeSwitch, {folder->index()}, 14);
        const bool open = showWhile(tour, [&] {
            QCOMPARE(session_->tourIntervalMs(), 60000);
            QVERIFY(!session_->touring());
            QCOMPARE(session_->startedCount(), 0);
        });
        QVERIFY(open);
        QVERIFY(!liveView_->isVisible());
    }

    // A close in the same turn as a tour step: afterwards nothing streams and
    // the tour cannot start a pane.
    void closingDuringATourStep() {
        const auto members = addDevices(2, configOf(6));
        QCOMPARE(members.size(), size_t{2});
        DeviceEntry& tour = addMultiDevice(kMultiTypeSwitch, members, 11);
        showWhile(tour, [&] {
            QCOMPARE(session_->tourIntervalMs(), 60000);
            QTRY_VERIFY_WITH_TIMEOUT(paneAt(0).connection().controlLink.connected(),
                                     kPictureWaitMs);
            session_->advanceTour();
        });
        QVERIFY(!session_->touring());
        session_->advanceTour();
        for (int number = 0; number < LiveSession::kQuadPanes; ++number) {
            QTRY_COMPARE(paneAt(number).runtime().liveThreadCount(), 0);
        }
        QTRY_COMPARE(
            devices_[0]->state().activeVideoStreams + devices_[1]->state().activeVideoStreams, 0);
    }

    // The recorder's buttons and keys send their codes: Ch7 is key 61, Cut9
    // of a class 3 recorder key 25 with CH on screen.
    void recorderButtonsSendTheirKeys() {
        auto device = startDevice(configOf(3));
        QVERIFY(device);
        DeviceEntry& entry = addDevice(*device, u"Recorder");
        ControlPanel& panel = liveView_->controlPanel();
        showWhile(entry, [&] {
            QTRY_COMPARE_WITH_TIMEOUT(panel.layout(), ControlLayout::DvrTabs, kPictureWaitMs);
            click(panel.button(channelControl(7)));
            QTRY_COMPARE_WITH_TIMEOUT(device->state().lastKeyCode, 61, 5000);
            click(panel.button(Control::CH));  // to preset mode
            QVERIFY(panel.isShown(Control::PRESET));
            click(panel.button(Control::Cut9));
            QTRY_COMPARE_WITH_TIMEOUT(device->state().lastKeyCode, 25, 5000);
            QVERIFY(panel.isShown(Control::CH) && !panel.isShown(Control::PRESET));
            QCOMPARE(panel.channelMode(), 1);
            // The key 3 presses Ch3; no PTZ key on the DVR page.
            QTest::keyClick(liveView_.get(), Qt::Key_3);
            QTRY_COMPARE_WITH_TIMEOUT(device->state().lastKeyCode, 57, 5000);
            const size_t ptzBefore = device->state().ptzActions.size();
            QTest::keyClick(liveView_.get(), Qt::Key_Up);
            QTest::qWait(200);
            QCOMPARE(device->state().ptzActions.size(), ptzBefore);
            QTRY_COMPARE(paneAt(0).commandsInFlight(), 0);
        });
        QVERIFY(messages_.messages().empty());
    }

    void autoOnATypeSevenChannelIsARecorderKey() {
        DeviceConfig config = configOf(50);
        config.channels = {{.id = 1, .type = 7}, {.id = 2, .type = 7}};
        auto device = startDevice(config);
        QVERIFY(device);
        DeviceEntry& entry = addDevice(*device, u"Recorder");
        ControlPanel& panel = liveView_->controlPanel();
        showWhile(entry, [&] {
            QTRY_COMPARE_WITH_TIMEOUT(panel.layout(), ControlLayout::FourChannel, kPictureWaitMs);
            click(panel.button(Control::Auto));
            QTRY_COMPARE_WITH_TIMEOUT(device->state().lastKeyCode, 64, 5000);
        });
    }

    // The audio/video mode of a quad pane shown alone goes into that pane's
    // own device: 2, then 1, then 3; nothing else changes.
    void avCycleWritesTheModeOfThePanesOwnDevice() {
        const auto members = addDevices(2, configOf(6), kAvVideo | kAvAudio);
        QCOMPARE(members.size(), size_t{2});
        DeviceEntry& quad = addMultiDevice(kMultiTypeQuad, members);
        DeviceEntry& other = *directory_.entryAt(members[0]);
        DeviceEntry& shown = *directory_.entryAt(members[1]);
        const auto quadBefore = directory_.fileBytes();
        ControlPanel& panel = liveView_->controlPanel();
        showWhile(quad, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(paneAt(1).widget().hasPicture(), kPictureWaitMs);
            tap({200, 40});
            tap({200, 40});
            PaneAccess pane = paneAt(1);
            QTRY_COMPARE(panel.avButtonShown(), AvButton::AudioAndVideo);
            click(panel.avButton(AvButton::AudioAndVideo));
            QCOMPARE(shown.avFlags(), kAvAudio);
            QVERIFY(!pane.connection().videoWanted && pane.connection().audioWanted);
            click(panel.avButton(AvButton::AudioOnly));
            QCOMPARE(shown.avFlags(), kAvVideo);
            click(panel.avButton(AvButton::VideoOnly));
            QCOMPARE(shown.avFlags(), uint16_t(kAvVideo | kAvAudio));
            QCOMPARE(panel.avButtonShown(), AvButton::AudioAndVideo);
        });
        QCOMPARE(other.avFlags(), uint16_t(kAvVideo | kAvAudio));
        QCOMPARE(directory_.fileBytes(), quadBefore);
    }

    // A drag on a PTZ camera's picture shows the rectangle while it lasts;
    // the release aims the camera at the drag's centre and zooms it by the
    // drag's width, with lens model 1: from 16000/4000/32161, a drag from
    // (150, 40) to (210, 100) aims at (180, 70) and zooms in by 60 pixels.
    void dragOnACameraAimsIt() {
        auto device = startDevice(configOf(7));
        QVERIFY(device);
        DeviceEntry& entry = addDevice(*device, u"Camera");
        showWhile(entry, [&] {
            PaneAccess pane = paneAt(0);
            QTRY_VERIFY_WITH_TIMEOUT(pane.facts().deviceClass == 7, kPictureWaitMs);
            pane.runtime().queueCommand([](CommandContext& context) {
                CommandReply reply;
                const std::string head = request::setCameraLocation(
                    16000, 4000, 32161, 0, context.facts.sessionIdText(), context.localAddress);
                sendCgiRequest(context.link, context.facts.host, context.facts.devicePort, head, {},
                               reply);
                return CommandOutcome{};
            });
            QTRY_COMPARE_WITH_TIMEOUT(device->state().zoom, 32161, 5000);
            const LogicalGeometry& geometry = liveView_->geometry();
            PaneWidget& widget = pane.widget();
            QTest::mousePress(&widget, Qt::LeftButton, {}, geometry.toPixels(QPoint(150, 40)));
            QMouseEvent move(QEvent::MouseMove, geometry.toPixels(QPoint(210, 100)),
                             widget.mapToGlobal(geometry.toPixels(QPoint(210, 100))), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&widget, &move);
            QVERIFY(pane.renderState().dragRectangle.shown);
            const DragRectangle drawn = pane.renderState().dragRectangle.get();
            QCOMPARE(QRect(QPoint(drawn.x0, drawn.y0), QPoint(drawn.x1, drawn.y1)),
                     QRect(QPoint(150, 40), QPoint(210, 100)));
            QTest::mouseRelease(&widget, Qt::LeftButton, {}, geometry.toPixels(QPoint(210, 100)));
            QVERIFY(!pane.renderState().dragRectangle.shown);
            QTRY_COMPARE_WITH_TIMEOUT(device->state().zoom, 32932, 5000);
            QCOMPARE(device->state().pan, 17581);
            QCOMPARE(device->state().tilt, 3635);
            QTRY_COMPARE(pane.commandsInFlight(), 0);

            // On the PTZ page the arrow keys steer; Return on a focused
            // button presses nothing.
            ControlPanel& panel = liveView_->controlPanel();
            panel.tabs().setCurrentIndex(1);
            QVERIFY(panel.isShown(Control::Up));
            const size_t actions = device->state().ptzActions.size();
            panel.button(Control::Down).setFocus();
            QTest::keyClick(liveView_.get(), Qt::Key_Return);
            QTest::keyClick(liveView_.get(), Qt::Key_Up);
            QTRY_COMPARE_WITH_TIMEOUT(device->state().ptzActions.size(), actions + 1, 5000);
            QTRY_COMPARE(pane.commandsInFlight(), 0);
            QCOMPARE(device->state().lastPtzAction, std::string("Up"));
        });
        QVERIFY(messages_.messages().empty());
    }
};

QTEST_MAIN(MultiDeviceTest)
#include "MultiDeviceTest.moc"
