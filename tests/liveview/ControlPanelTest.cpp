#include <QtTest>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "liveview/ControlPanel.h"

using namespace tess;

namespace {

constexpr int kScale = 2;

SessionFacts factsOf(int32_t deviceClass, int channelType) {
    SessionFacts facts;
    facts.deviceClass = deviceClass;
    facts.channel = 1;
    facts.channelTable.resize(1);
    facts.channelTable.at(0)->type = static_cast<uint8_t>(channelType);
    return facts;
}

}  // namespace

class ControlPanelTest : public QObject {
    Q_OBJECT

private:
    const LogicalGeometry geometry_{kScale};
    std::unique_ptr<QWidget> window_;
    ControlPanel* panel_ = nullptr;

    QRect logical(const QWidget& widget) const {
        const QRect r = widget.geometry();
        return {r.x() / kScale, r.y() / kScale, r.width() / kScale, r.height() / kScale};
    }

    // The controls on screen, the tab control aside, with their places.
    std::vector<const QWidget*> shownControls() const {
        std::vector<const QWidget*> shown;
        for (const QWidget* child : window_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->isHidden() && child != &panel_->tabs()) shown.push_back(child);
        }
        return shown;
    }

    QString overlaps() const {
        const auto shown = shownControls();
        for (size_t i = 0; i < shown.size(); ++i) {
            for (size_t j = i + 1; j < shown.size(); ++j) {
                if (shown[i]->geometry().intersects(shown[j]->geometry())) {
                    return shown[i]->accessibleName() + "/" + shown[i]->objectName() + " and " +
                           shown[j]->accessibleName();
                }
            }
        }
        return {};
    }

    QStringList tabCaptions() const {
        QStringList captions;
        for (int i = 0; i < panel_->tabs().count(); ++i) captions << panel_->tabs().tabText(i);
        return captions;
    }

    void layOut(int32_t deviceClass, int channelType, bool video = true, bool audio = false) {
        const SessionFacts facts = factsOf(deviceClass, channelType);
        panel_->layOut(chooseControls(LayoutOccasion::ShownAlone, deviceClass, facts.channelTable,
                                      facts.channel),
                       facts, video, audio);
    }

    std::vector<Control> shownButtons() {
        std::vector<Control> shown;
        for (int i = 0; i < kControlCount; ++i) {
            if (panel_->isShown(static_cast<Control>(i))) shown.push_back(static_cast<Control>(i));
        }
        return shown;
    }

private slots:
    void init() {
        window_ = std::make_unique<QWidget>();
        window_->resize(240 * kScale, 268 * kScale);
        panel_ = new ControlPanel(*window_, geometry_);
        for (QPushButton* av : window_->findChildren<QPushButton*>()) {
            av->setObjectName(av->text());
        }
    }
    void cleanup() { window_.reset(); }

    // Every class, channel type, occasion, audio/video mode, tab page and
    // channel mode, for a device shown alone and for a quad pane shown
    // alone: no two controls on screen overlap, and a quad pane shown alone
    // can always go back to the quad.
    void noLayoutOverlapsAndTheQuadIsAlwaysWithinReach() {
        const int32_t classes[] = {0, 1, 3, 4, 6, 7, 8, 50, 99};
        const int types[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 18, 25, 26, 77};
        const std::pair<bool, bool> avModes[] = {{true, false}, {false, true}, {true, true}};
        for (bool quad : {false, true}) {
            panel_->setMode({.quad = quad, .switching = false, .quadOnScreen = false});
            for (int32_t deviceClass : classes) {
                for (int type : types) {
                    for (LayoutOccasion occasion :
                         {LayoutOccasion::Negotiated, LayoutOccasion::ShownAlone}) {
                        for (const auto& [video, audio] : avModes) {
                            const SessionFacts facts = factsOf(deviceClass, type);
                            // A quad pane shown alone before its device has
                            // negotiated has the default layout.
                            if (occasion == LayoutOccasion::Negotiated) {
                                panel_->layOut(chooseControls(LayoutOccasion::ShownAlone, 0,
                                                              facts.channelTable, facts.channel),
                                               facts, video, audio);
                            }
                            panel_->layOut(chooseControls(occasion, deviceClass, facts.channelTable,
                                                          facts.channel),
                                           facts, video, audio);
                            const QString where = QString("class %1 type %2 quad %3")
                                                      .arg(deviceClass)
                                                      .arg(type)
                                                      .arg(quad);
                            QVERIFY2(overlaps().isEmpty(), qPrintable(where + ": " + overlaps()));
                            QVERIFY2(!quad || panel_->isShown(Control::FourDevice),
                                     qPrintable(where));
                            // CH and PRESET switch the mode where they are on screen.
                            const bool modeButton =
                                panel_->isShown(Control::CH) || panel_->isShown(Control::PRESET);
                            for (int mode : {0, 1}) {
                                if (!modeButton) break;
                                panel_->setChannelMode(mode);
                                panel_->showChannelModeButton();
                                QVERIFY2(overlaps().isEmpty(),
                                         qPrintable(where + " mode: " + overlaps()));
                            }
                            for (int page : {1, 0}) {
                                panel_->showPage(page, classTraits(deviceClass), video, audio);
                                QVERIFY2(overlaps().isEmpty(),
                                         qPrintable(where + " page: " + overlaps()));
                                QVERIFY2(!quad || panel_->isShown(Control::FourDevice),
                                         qPrintable(where + " page"));
                            }
                        }
                    }
                }
            }
        }
    }

    void eachKindOfDeviceGetsItsControls() {
        layOut(3, 0);
        QCOMPARE(tabCaptions(), QStringList({"DVR", "PTZ"}));
        QVERIFY(panel_->isShown(Control::CH) && panel_->isShown(Control::Cut16));
        QVERIFY(panel_->isShown(Control::Ch16));

        layOut(6, 0, true, true);
        QCOMPARE(tabCaptions(), QStringList({"Preset", "PTZ"}));
        QCOMPARE(panel_->channelMode(), 0);
        QCOMPARE(panel_->button(channelControl(3)).accessibleName(), QString("Preset 3"));
        QCOMPARE(panel_->avButtonShown(), AvButton::AudioAndVideo);

        layOut(4, 0);
        QCOMPARE(shownButtons(), std::vector<Control>{Control::SnapShot});
        QVERIFY(panel_->tabs().isHidden());
        QCOMPARE(panel_->avButtonShown(), AvButton::None);

        // Nine channels: Ch9 ends the first row; the audio/video button,
        // whose place that is, moves below it.
        layOut(1, 5);
        QVERIFY(panel_->isShown(channelControl(9)) && !panel_->isShown(channelControl(10)));
        QCOMPARE(logical(panel_->button(channelControl(9))), QRect(165, 200, 18, 18));
        QCOMPARE(logical(panel_->avButton(AvButton::VideoOnly)), ControlPanel::kAvButtonSparePlace);
        QCOMPARE(panel_->channelMode(), 1);

        // Four channels: Ch1 ... Ch4 and Cut4; a type 7 channel has Auto.
        layOut(1, 2);
        QVERIFY(panel_->isShown(channelControl(4)) && !panel_->isShown(channelControl(5)));
        QVERIFY(panel_->isShown(Control::Cut4) && !panel_->isShown(Control::Cut9));
        QVERIFY(panel_->isShown(Control::Button2) && !panel_->isShown(Control::Auto));
        QCOMPARE(logical(panel_->avButton(AvButton::VideoOnly)), ControlPanel::kAvButtonPlace);
        layOut(50, 7);
        QVERIFY(panel_->isShown(Control::Auto) && !panel_->isShown(Control::Button2));
    }

    // A channel type that names no layout changes nothing: the controls of
    // the layout before stay, the audio/video button of a class 1 device
    // shows, and 4Device goes to its own place.
    void aTypeWithoutALayoutKeepsThePanel() {
        panel_->setMode({.quad = true, .switching = false, .quadOnScreen = false});
        layOut(50, 2);
        layOut(50, 77);
        QCOMPARE(panel_->layout(), ControlLayout::FourChannel);
        QVERIFY(panel_->isShown(Control::SnapShot) && panel_->isShown(channelControl(4)));
        QCOMPARE(logical(panel_->button(Control::FourDevice)), ControlPanel::kQuadReturnPlace);

        layOut(0, 0);  // the default layout, 4Device at (50, 175)
        layOut(1, 77);
        QVERIFY(panel_->isShown(Control::SnapShot));
        QCOMPARE(panel_->avButtonShown(), AvButton::VideoOnly);
        QCOMPARE(logical(panel_->button(Control::FourDevice)), ControlPanel::kQuadReturnPlace);
    }

    // A later layout leaves nothing of an earlier one behind.
    void aLayoutStartsFromNoControls() {
        layOut(6, 0);
        layOut(50, 2);
        QVERIFY(panel_->tabs().isHidden());
        QVERIFY(!panel_->isShown(channelControl(12)));
        QCOMPARE(panel_->channelMode(), 1);
    }

    void rebuildingTheTabsIsNoPageChange() {
        layOut(6, 0);
        QSignalSpy pages(panel_, &ControlPanel::pageChanged);
        panel_->tabs().setCurrentIndex(1);
        QCOMPARE(pages.size(), 1);
        layOut(7, 0);
        QCOMPARE(panel_->tabs().currentIndex(), 0);
        QCOMPARE(pages.size(), 1);
    }

    void aSwitchKeepsItsControls() {
        panel_->setMode({.quad = false, .switching = true, .quadOnScreen = false});
        panel_->showSnapShotOnly();
        for (int32_t deviceClass : {1, 3, 6, 50}) {
            layOut(deviceClass, 5);
            panel_->showPage(1, classTraits(deviceClass), true, false);
            QCOMPARE(shownButtons(), std::vector<Control>{Control::SnapShot});
            QVERIFY(panel_->tabs().isHidden());
        }
    }
};

QTEST_MAIN(ControlPanelTest)
#include "ControlPanelTest.moc"
