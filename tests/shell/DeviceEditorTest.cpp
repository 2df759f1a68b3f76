#include <QtTest>

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "directory/editors/DeviceEditor.h"
#include "platform/MessageSink.h"
#include "resources/StringTable.h"

using namespace tess;

namespace {

void clickOk(DeviceEditor& editor) {
    auto* buttons = editor.findChild<QDialogButtonBox*>();
    QVERIFY(buttons != nullptr);
    buttons->button(QDialogButtonBox::Ok)->click();
}

void openEditor(DeviceEditor& editor) {
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
}

}  // namespace

class DeviceEditorTest : public QObject {
    Q_OBJECT

private slots:
    void confirmingAtOnceGivesTheDefaults() {
        RecordingMessageSink messages;
        ScopedMessageSink scope(messages);
        DeviceEditor editor(1);
        openEditor(editor);
        QCOMPARE(editor.windowTitle(), QStringLiteral("Login"));
        QCOMPARE(editor.width(), 240);
        QCOMPARE(editor.passwordField()->echoMode(), QLineEdit::Password);
        QCOMPARE(editor.portField()->text(), QStringLiteral("80"));
        bool hasCaption = false;
        for (const QLabel* label : editor.findChildren<QLabel*>()) {
            hasCaption = hasCaption || label->text() == QStringLiteral("Label:");
        }
        QVERIFY(hasCaption);

        clickOk(editor);
        QCOMPARE(editor.result(), int(QDialog::Accepted));
        QVERIFY(!editor.isVisible());
        QVERIFY(messages.messages().empty());
        QCOMPARE(editor.label(), QStringLiteral("New Device"));
        QCOMPARE(editor.userName(), QStringLiteral("admin"));
        QCOMPARE(editor.password(), QStringLiteral("velum"));
        QCOMPARE(editor.address(), QString());
        QCOMPARE(editor.port(), uint16_t{80});
    }

    // The window is 240 x 230 logical pixels at the scale, with the font and
    // the row pictures scaled alike.
    void laidOutAtTheScale() {
        DeviceEditor editor(3);
        openEditor(editor);
        QCOMPARE(editor.size(), QSize(720, 690));
        QCOMPARE(editor.font().pixelSize(), 33);
        QCOMPARE(editor.labelField()->font().pixelSize(), 33);
        QCOMPARE(editor.portField()->geometry(), QRect(132, 477, 564, 66));
        int pictures = 0;
        for (const QLabel* label : editor.findChildren<QLabel*>()) {
            if (!label->pixmap().isNull()) {
                QCOMPARE(label->pixmap().deviceIndependentSize(), QSizeF(84, 84));
                ++pictures;
            }
        }
        QCOMPARE(pictures, 4);
    }

    void typingStopsAtTheLimit() {
        DeviceEditor editor(1);
        openEditor(editor);
        for (QLineEdit* field : {editor.userNameField(), editor.passwordField()}) {
            field->clear();
            QTest::keyClicks(field, QStringLiteral("abcdefghijklmnopqrst"));
            QCOMPARE(field->text().size(), 15);
        }
        editor.labelField()->clear();
        QTest::keyClicks(editor.labelField(), QString(40, u'x'));
        QCOMPARE(editor.labelField()->text().size(), 31);
    }

    void checksInOrderAndFocusesTheFirstFailure() {
        RecordingMessageSink messages;
        ScopedMessageSink scope(messages);
        DeviceEditor editor(1);
        // Presets longer than the fields take are shown whole, so the check
        // can name them rather than cut them unseen.
        editor.setLabel(QString(40, u'L'));
        editor.setAddress(QString(32, u'A'));
        editor.setPassword(QString(16, u'P'));
        editor.setUserName(QString(16, u'U'));
        openEditor(editor);
        QCOMPARE(editor.labelField()->text().size(), 40);

        auto expectRefusal = [&](QLineEdit* field, std::string_view prompt) {
            messages.clear();
            clickOk(editor);
            QVERIFY(editor.isVisible());
            QCOMPARE(messages.messages().size(), size_t{1});
            QCOMPARE(messages.messages().front(), std::string(prompt));
            QCOMPARE(editor.focusWidget(), field);
        };
        expectRefusal(editor.labelField(), text::textTooLong31);
        // An over-long text can be shortened though not lengthened.
        QTest::keyClick(editor.labelField(), Qt::Key_End);
        QTest::keyClick(editor.labelField(), Qt::Key_Backspace);
        QCOMPARE(editor.labelField()->text().size(), 39);
        editor.labelField()->setText(QStringLiteral("Gate"));
        expectRefusal(editor.addressField(), text::textTooLong31);
        editor.addressField()->setText(QStringLiteral("127.0.0.1"));
        expectRefusal(editor.passwordField(), text::textTooLong15);
        editor.passwordField()->setText(QStringLiteral("secret"));
        expectRefusal(editor.userNameField(), text::textTooLong15);
        editor.userNameField()->setText(QStringLiteral("guard"));
        for (const char* bad : {"65536", "abc", "", "-1", "8 0", "99999999999"}) {
            editor.portField()->setText(QString::fromLatin1(bad));
            expectRefusal(editor.portField(), text::portOutOfRange);
        }
        // Nothing is taken until every check passes.
        QCOMPARE(editor.label().size(), 40);

        editor.portField()->setText(QStringLiteral(" 0 "));
        messages.clear();
        clickOk(editor);
        QCOMPARE(editor.result(), int(QDialog::Accepted));
        QVERIFY(messages.messages().empty());
        QCOMPARE(editor.label(), QStringLiteral("Gate"));
        QCOMPARE(editor.address(), QStringLiteral("127.0.0.1"));
        QCOMPARE(editor.password(), QStringLiteral("secret"));
        QCOMPARE(editor.userName(), QStringLiteral("guard"));
        QCOMPARE(editor.port(), uint16_t{0});
    }

    void portReadsTheWholeRange() {
        uint16_t port = 1;
        QVERIFY(DeviceEditor::parsePort(QStringLiteral("65535"), port));
        QCOMPARE(port, uint16_t{65535});
        QVERIFY(DeviceEditor::parsePort(QStringLiteral("00080"), port));
        QCOMPARE(port, uint16_t{80});
        QVERIFY(!DeviceEditor::parsePort(QStringLiteral("4294967376"), port));  // 2^32 + 80
        QVERIFY(!DeviceEditor::parsePort(QStringLiteral("+80"), port));
        QCOMPARE(port, uint16_t{80});
    }

    void closingWithoutConfirmingKeepsThePresets() {
        RecordingMessageSink messages;
        ScopedMessageSink scope(messages);
        DeviceEditor editor(1);
        editor.setLabel(QStringLiteral("192.168.0.9"));
        editor.setAddress(QStringLiteral("192.168.0.9"));
        editor.setPort(8080);
        openEditor(editor);
        QCOMPARE(editor.addressField()->text(), QStringLiteral("192.168.0.9"));
        QCOMPARE(editor.portField()->text(), QStringLiteral("8080"));
        editor.labelField()->setText(QStringLiteral("changed"));
        editor.portField()->setText(QStringLiteral("x"));
        clickOk(editor);  // refused: the dialog stays open
        QVERIFY(editor.isVisible());
        QTest::keyClick(&editor, Qt::Key_Escape);
        QVERIFY(!editor.isVisible());
        QCOMPARE(editor.result(), int(QDialog::Rejected));
        QCOMPARE(editor.label(), QStringLiteral("192.168.0.9"));
        QCOMPARE(editor.address(), QStringLiteral("192.168.0.9"));
        QCOMPARE(editor.userName(), QStringLiteral("admin"));
        QCOMPARE(editor.password(), QStringLiteral("velum"));
        QCOMPARE(editor.port(), uint16_t{8080});

        // Opened again, the fields start from the values, not the old edits.
        openEditor(editor);
        QCOMPARE(editor.labelField()->text(), QStringLiteral("192.168.0.9"));
        QCOMPARE(editor.portField()->text(), QStringLiteral("8080"));
    }
};

QTEST_MAIN(DeviceEditorTest)
#include "DeviceEditorTest.moc"
