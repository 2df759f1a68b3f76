#include <QtTest>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTreeView>
#include <vector>

#include "directory/DeviceDirectory.h"
#include "directory/editors/MultiDeviceEditor.h"
#include "platform/MessageSink.h"
#include "resources/StringTable.h"

using namespace tess;

namespace {

using Indices = std::vector<uint16_t>;

// Device(1)[Site(2)[A(3) B(4) C(5) D(6) E(7)] G(8) Tour(9) Empty(10)] H(11)
// with Tour a multi-device, Empty a folder without entries and H a device at
// the top level.
struct Fixture {
    Fixture() {
        directory.loadFromBytes({});
        DeviceEntry* root = directory.entryAt(1);
        DeviceEntry* site = directory.createEntry(EntryKind::folder, u"Site", root);
        for (const char16_t* label : {u"A", u"B", u"C", u"D", u"E"}) {
            directory.createEntry(EntryKind::device, label, site);
        }
        directory.createEntry(EntryKind::device, u"G", root);
        directory.createEntry(EntryKind::multiDevice, u"Tour", root);
        directory.createEntry(EntryKind::folder, u"Empty", root);
        directory.createEntry(EntryKind::device, u"H", nullptr);
    }
    DeviceDirectory directory;
};

constexpr uint16_t kRoot = 1, kSite = 2, kA = 3, kB = 4, kC = 5, kD = 6, kE = 7, kG = 8, kTour = 9,
                   kEmpty = 10, kH = 11;

void open(MultiDeviceEditor& editor) {
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
}

// The entries whose picker items are ticked, by index.
Indices ticked(const MultiDeviceEditor& editor) {
    Indices out;
    for (uint16_t index = 1; index < DeviceDirectory::kSlotCount; ++index) {
        const QModelIndex item = editor.pickerIndexOf(index);
        if (item.isValid() && item.data(Qt::CheckStateRole).toInt() == Qt::Checked) {
            out.push_back(index);
        }
    }
    return out;
}

// The picker's texts in pre-order, with children in brackets.
QString pickerText(const QAbstractItemModel& model, const QModelIndex& parent = {}) {
    QStringList parts;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex child = model.index(row, 0, parent);
        const bool hasChildren = model.rowCount(child) > 0;
        parts << child.data().toString() +
                     (hasChildren ? "[" + pickerText(model, child) + "]" : "");
    }
    return parts.join(' ');
}

// The centre of the check box of the entry's picker item, in the viewport.
QPoint boxCentre(MultiDeviceEditor& editor, uint16_t index) {
    QTreeView& view = *editor.picker();
    const QModelIndex item = editor.pickerIndexOf(index);
    view.scrollTo(item);
    QStyleOptionViewItem option;
    option.initFrom(view.viewport());
    option.rect = view.visualRect(item);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                      QStyleOptionViewItem::HasDecoration;
    option.decorationSize = view.iconSize();
    option.text = item.data().toString();
    return view.style()
        ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &view)
        .center();
}

void clickBox(MultiDeviceEditor& editor, uint16_t index) {
    QTest::mouseClick(editor.picker()->viewport(), Qt::LeftButton, {}, boxCentre(editor, index));
}

// Space on the entry's picker item.
void pressSpace(MultiDeviceEditor& editor, uint16_t index) {
    editor.picker()->setCurrentIndex(editor.pickerIndexOf(index));
    QTest::keyClick(editor.picker(), Qt::Key_Space);
}

void chooseType(MultiDeviceEditor& editor, uint8_t type) {
    editor.typeList()->setCurrentIndex(type);  // as a pick from the list
}

void clickOk(MultiDeviceEditor& editor) {
    editor.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

std::vector<std::string> quadRefusal() {
    return {std::string(text::quadLimit)};
}

}  // namespace

class MultiDeviceEditorTest : public QObject {
    Q_OBJECT

private:
    RecordingMessageSink sink_;

private slots:
    void init() { sink_.clear(); }

    void opensWithTheListsAndACopyOfTheTree() {
        ScopedMessageSink scope(sink_);
        Fixture fixture;
        MultiDeviceEditor editor(fixture.directory, 2);
        open(editor);
        QCOMPARE(editor.windowTitle(), QStringLiteral("Multi-Device"));
        QCOMPARE(editor.size(), QSize(480, 536));
        QCOMPARE(editor.font().pixelSize(), 22);
        QCOMPARE(editor.labelField()->text(), QStringLiteral("New Multi-Device"));
        QCOMPARE(editor.typeList()->currentText(), QStringLiteral("Switch"));
        QCOMPARE(editor.typeList()->itemText(1), QStringLiteral("Quad"));
        QCOMPARE(editor.timeList()->count(), 12);
        QCOMPARE(editor.timeList()->currentText(), QStringLiteral("05   sec"));
        QCOMPARE(editor.timeList()->itemText(11), QStringLiteral("60   sec"));
        QVERIFY(editor.timeList()->isVisible());

        // Same texts, order and nesting; the multi-device is left out.
        const QAbstractItemModel& model = *editor.picker()->model();
        QCOMPARE(pickerText(model), QStringLiteral("Device[Site[A B C D E] G Empty] H"));
        QVERIFY(ticked(editor).empty());
        QVERIFY(
            !(model.flags(model.index(0, 0)) & (Qt::ItemIsAutoTristate | Qt::ItemIsUserTristate)));

        clickOk(editor);
        QCOMPARE(editor.label(), QStringLiteral("New Multi-Device"));
        QCOMPARE(editor.type(), kMultiTypeSwitch);
        QCOMPARE(editor.timeIndex(), uint8_t{0});
        QVERIFY(editor.members().empty());
    }

    // Members that can't be ticked are skipped: folders (they follow their
    // devices), multi-devices, indices without an entry; duplicates count once.
    void presetMembersTickDevicesAndTheirFolders() {
        ScopedMessageSink scope(sink_);
        Fixture fixture;
        MultiDeviceEditor editor(fixture.directory, 1);
        editor.setType(kMultiTypeQuad);
        editor.setTimeIndex(11);
        editor.setMembers({kEmpty, kSite, kB, kTour, 200, 0, kB, kH});
        open(editor);
        QCOMPARE(editor.typeList()->currentText(), QStringLiteral("Quad"));
        QVERIFY(!editor.timeList()->isVisible());
        QCOMPARE(editor.timeList()->currentIndex(), 11);
        QCOMPARE(ticked(editor), Indices({kRoot, kSite, kB, kH}));
        QCOMPARE(editor.picker()->currentIndex(), editor.pickerIndexOf(kH));

        // Two devices count, not three: C and D fit, E does not.
        clickBox(editor, kC);
        pressSpace(editor, kD);
        QVERIFY(sink_.messages().empty());
        clickBox(editor, kE);
        QCOMPARE(sink_.messages(), quadRefusal());
        QTest::keyClick(&editor, Qt::Key_Escape);
        QCOMPARE(editor.members(), Indices({kRoot, kSite, kB, kC, kD, kH}));
    }

    void quadRefusesAFolderOfFiveAndSwitchTakesIt() {
        ScopedMessageSink scope(sink_);
        Fixture fixture;
        MultiDeviceEditor editor(fixture.directory, 1);
        editor.setType(kMultiTypeQuad);
        editor.setMembers({kG});
        open(editor);
        clickBox(editor, kSite);
        QCOMPARE(sink_.messages(), quadRefusal());
        QCOMPARE(ticked(editor), Indices({kRoot, kG}));

        sink_.clear();
        chooseType(editor, kMultiTypeSwitch);
        QCOMPARE(editor.type(), kMultiTypeSwitch);
        QVERIFY(editor.timeList()->isVisible());
        clickBox(editor, kSite);
        QVERIFY(sink_.messages().empty());
        QCOMPARE(ticked(editor), Indices({kRoot, kSite, kA, kB, kC, kD, kE, kG}));
    }

    void quadKeepsMoreThanFourTickedAsSwitchButRefusesAnyNewTick() {
        ScopedMessageSink scope(sink_);
        Fixture fixture;
        MultiDeviceEditor editor(fixture.directory, 1);
        open(editor);
        clickBox(editor, kSite);
        clickBox(editor, kG);
        chooseType(editor, kMultiTypeQuad);
        QVERIFY(!editor.timeList()->isVisible());
        const Indices six{kRoot, kSite, kA, kB, kC, kD, kE, kG};
        QCOMPARE(ticked(editor), six);
        QVERIFY(sink_.messages().empty());

        clickBox(editor, kH);
        QCOMPARE(ticked(editor), six);
        clickBox(editor, kEmpty);  // even a folder without devices
        QCOMPARE(ticked(editor), six);
        QCOMPARE(sink_.messages().size(), size_t{2});

        // Unticking is always allowed; ticking back again is not.
        clickBox(editor, kA);
        QCOMPARE(ticked(editor), Indices({kRoot, kSite, kB, kC, kD, kE, kG}));
        sink_.clear();
        pressSpace(editor, kA);
        QCOMPARE(sink_.messages(), quadRefusal());
        QCOMPARE(ticked(editor), Indices({kRoot, kSite, kB, kC, kD, kE, kG}));
    }

    void untickingTheLastChildUnticksItsFolders() {
        ScopedMessageSink scope(sink_);
        Fixture fixture;
        MultiDeviceEditor editor(fixture.directory, 1);
        open(editor);
        clickBox(editor, kA);
        clickBox(editor, kB);
        QCOMPARE(ticked(editor), Indices({kRoot, kSite, kA, kB}));
        clickBox(editor, kA);
        QCOMPARE(ticked(editor), Indices({kRoot, kSite, kB}));
        clickBox(editor, kB);
        QVERIFY(ticked(editor).empty());
    }

    void spaceAndDoubleClickGoThroughTheSameRules() {
        ScopedMessageSink scope(sink_);
        Fixture fixture;
        MultiDeviceEditor byMouse(fixture.directory, 1);
        MultiDeviceEditor byKey(fixture.directory, 1);
        open(byMouse);
        clickBox(byMouse, kSite);
        clickBox(byMouse, kB);
        open(byKey);
        pressSpace(byKey, kSite);
        pressSpace(byKey, kB);
        QCOMPARE(ticked(byKey), ticked(byMouse));
        QCOMPARE(ticked(byKey), Indices({kRoot, kSite, kA, kC, kD, kE}));

        // A double-click on a box toggles it twice, each time with the cascade.
        clickBox(byKey, kSite);
        QTest::mouseDClick(byKey.picker()->viewport(), Qt::LeftButton, {}, boxCentre(byKey, kH));
        QVERIFY(ticked(byKey).empty());
    }

    void membersInTreeOrderWithFoldersAndLabelOnlyOnOk() {
        ScopedMessageSink scope(sink_);
        Fixture fixture;
        MultiDeviceEditor editor(fixture.directory, 1);
        editor.setLabel(QStringLiteral("Lobby"));
        open(editor);
        clickBox(editor, kH);
        clickBox(editor, kE);
        clickBox(editor, kA);
        editor.labelField()->setText(QStringLiteral("Yard"));
        editor.timeList()->setCurrentIndex(3);
        QTest::keyClick(&editor, Qt::Key_Escape);
        QCOMPARE(editor.result(), int(QDialog::Rejected));
        QCOMPARE(editor.label(), QStringLiteral("Lobby"));
        QCOMPARE(editor.timeIndex(), uint8_t{3});
        QCOMPARE(editor.members(), Indices({kRoot, kSite, kA, kE, kH}));

        // Opened again, the picker starts from the members, and OK takes
        // the label, cut to 31 characters when typed.
        open(editor);
        QCOMPARE(editor.labelField()->text(), QStringLiteral("Lobby"));
        QCOMPARE(ticked(editor), Indices({kRoot, kSite, kA, kE, kH}));
        editor.labelField()->clear();
        QTest::keyClicks(editor.labelField(), QString(40, u'x'));
        clickBox(editor, kSite);
        clickOk(editor);
        QCOMPARE(editor.result(), int(QDialog::Accepted));
        QCOMPARE(editor.label(), QString(31, u'x'));
        QCOMPARE(editor.members(), Indices({kH}));
    }

    // Type and time bytes outside the lists come from damaged files; they
    // select nothing and survive unless the user picks.
    void outOfRangeBytesSurviveUnchanged() {
        ScopedMessageSink scope(sink_);
        Fixture fixture;
        MultiDeviceEditor editor(fixture.directory, 1);
        editor.setType(7);
        editor.setTimeIndex(12);
        open(editor);
        QCOMPARE(editor.typeList()->currentIndex(), -1);
        QCOMPARE(editor.timeList()->currentIndex(), -1);
        QVERIFY(editor.timeList()->isVisible());
        clickBox(editor, kSite);  // not a Quad: no limit
        clickBox(editor, kH);
        QVERIFY(sink_.messages().empty());
        clickOk(editor);
        QCOMPARE(editor.type(), uint8_t{7});
        QCOMPARE(editor.timeIndex(), uint8_t{12});
        QCOMPARE(editor.members().size(), size_t{8});

        open(editor);
        editor.timeList()->setCurrentIndex(0);
        chooseType(editor, kMultiTypeQuad);
        clickOk(editor);
        QCOMPARE(editor.type(), kMultiTypeQuad);
        QCOMPARE(editor.timeIndex(), uint8_t{0});
    }
};

QTEST_MAIN(MultiDeviceEditorTest)
#include "MultiDeviceEditorTest.moc"
