#include <QtTest>

#include <QtTest/qtestspontaneevent.h>
#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QMenuBar>
#include <QTreeWidget>
#include <memory>

#include "SearchTestSupport.h"
#include "platform/MessageSink.h"
#include "resources/StringTable.h"
#include "search/SearchWindow.h"

using namespace tess;
using namespace tess::testing;

namespace {

constexpr int kScale = 2;

// A close from the window system (the title bar's close button).
bool closeFromTitleBar(QWidget& window) {
    QCloseEvent event;
    QSpontaneKeyEvent::setSpontaneous(&event);
    static_cast<QObject&>(window).event(&event);
    return event.isAccepted();
}

}  // namespace

class SearchWindowTest : public QObject {
    Q_OBJECT

private:
    RecordingMessageSink sink_;
    std::unique_ptr<ScopedMessageSink> installed_;

    static std::unique_ptr<SearchWindow> open(const SearchSettings& settings) {
        auto window = std::make_unique<SearchWindow>(kScale, settings);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) qWarning("search window not exposed");
        return window;
    }
    static bool waitForIdle(const SearchWindow& window, int ms = 5000) {
        return QTest::qWaitFor([&] { return !window.searching(); }, ms);
    }

private slots:
    void init() {
        sink_.clear();
        installed_ = std::make_unique<ScopedMessageSink>(sink_);
    }
    void cleanup() {
        installed_.reset();
        QVERIFY(!QApplication::overrideCursor());
    }

    void layoutInTheLogicalScreen() {
        SearchWindow window(kScale, SearchSettings{});  // never shown: no search
        QCOMPARE(window.windowTitle(), QStringLiteral("Search"));
        QCOMPARE(window.size(), QSize(240 * kScale, (26 + 273) * kScale));
        auto* group = window.findChild<QGroupBox*>();
        QVERIFY(group);
        QCOMPARE(group->title(), QStringLiteral("Device List"));
        // (3, 1, 132, 105) and (7, 11, 124, 91) in dialog units, 137 across 240.
        QCOMPARE(group->geometry(), QRect(5 * kScale, 2 * kScale, 231 * kScale, 184 * kScale));
        QCOMPARE(window.list()->geometry(),
                 QRect(12 * kScale, 19 * kScale, 217 * kScale, 159 * kScale));
        QTreeWidget& list = *window.list();
        QCOMPARE(list.columnCount(), 3);
        const int widths[] = {110, 40, 150};
        const char* titles[] = {"IP", "PORT", "DEVICE"};
        for (int column = 0; column < 3; ++column) {
            QCOMPARE(list.headerItem()->text(column), QString(titles[column]));
            QCOMPARE(list.columnWidth(column), widths[column] * kScale);
            QCOMPARE(list.headerItem()->textAlignment(column) & Qt::AlignHorizontal_Mask,
                     int(Qt::AlignLeft));
        }
        QCOMPARE(list.selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(list.allColumnsShowFocus());
        const QList<QAction*> menu = window.findChild<QMenuBar*>()->actions();
        QCOMPARE(menu.size(), 1);
        QCOMPARE(menu.front()->text(), QStringLiteral("Search"));
        QVERIFY(!window.searching());
    }

    // Newest on top, nothing merged, type names from the table.
    void listsEveryAnswerNewestOnTop() {
        LoopbackSearch lan;
        lan.answer({192, 168, 0, 5}, 80, 100, 200);
        lan.answer({10, 0, 0, 7}, 8006, 200, 87);
        lan.answer({10, 0, 0, 7}, 8006, 250, 87);
        lan.answer({10, 0, 0, 8}, 81, 300, 86);
        auto window = open(lan.settings);
        QVERIFY(window->searching());
        QVERIFY(waitForIdle(*window));
        QCOMPARE(rowTexts(*window->list()),
                 QStringList({"10.0.0.8|81|JPEG Video Server", "10.0.0.7|8006|16CH MPEG4 DVR",
                              "10.0.0.7|8006|16CH MPEG4 DVR", "192.168.0.5|80|JPEG Video Server"}));
        QVERIFY(sink_.messages().empty());
    }

    // While a search runs: the list is disabled, Search does nothing, and
    // the user cannot close the window; afterwards Search starts over.
    void aRunningSearchHoldsTheWindow() {
        LoopbackSearch lan;
        lan.answer({192, 168, 0, 5}, 80, 100);
        auto window = open(lan.settings);
        QTRY_COMPARE(window->list()->topLevelItemCount(), 1);
        QVERIFY(window->searching());
        QVERIFY(!window->list()->isEnabled());
        QVERIFY(QApplication::overrideCursor());
        window->searchAction()->trigger();
        QCOMPARE(window->list()->topLevelItemCount(), 1);
        QTest::keyClick(window.get(), Qt::Key_Escape);
        window->accept();
        QVERIFY(!closeFromTitleBar(*window));
        QVERIFY(window->isVisible());

        QVERIFY(waitForIdle(*window));
        QVERIFY(window->list()->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(lan.requestsSeen(), size_t{1});

        lan.answers.front().address = {192, 168, 0, 6};
        window->searchAction()->trigger();
        QVERIFY(window->searching());
        QCOMPARE(window->list()->topLevelItemCount(), 0);
        QVERIFY(waitForIdle(*window));
        QCOMPARE(rowTexts(*window->list()), QStringList{"192.168.0.6|80|IP Camera"});
        QCOMPARE(lan.requestsSeen(), size_t{2});
        QVERIFY(closeFromTitleBar(*window));
        QVERIFY(!window->chosen());
    }

    void aDoubleClickChoosesTheRow() {
        LoopbackSearch lan;
        lan.answer({192, 168, 0, 5}, 80, 100);
        lan.answer({10, 0, 0, 7}, 8006, 150);
        lan.answer({0, 0, 0, 0}, 0, 200).size = 0;  // an empty datagram
        auto window = open(lan.settings);
        QVERIFY(waitForIdle(*window));
        QCOMPARE(window->list()->topLevelItemCount(), 3);
        // The empty datagram's row names no device and cannot be opened.
        QCOMPARE(window->list()->topLevelItem(0)->text(0), QStringLiteral("0.0.0.0"));
        doubleClickRow(*window->list(), 0);
        QVERIFY(window->isVisible());
        QVERIFY(!window->chosen());

        doubleClickRow(*window->list(), 2);
        QVERIFY(!window->isVisible());
        QCOMPARE(window->result(), int(QDialog::Accepted));
        QVERIFY(window->chosen());
        QCOMPARE(window->chosenAddress(), QStringLiteral("192.168.0.5"));
        QCOMPARE(window->chosenPort(), uint16_t{80});
    }

    // The keyboard's way: the list has the focus once the search ended, and
    // Return chooses the current row.
    void returnChoosesTheCurrentRow() {
        LoopbackSearch lan;
        lan.answer({192, 168, 0, 5}, 80, 100);
        lan.answer({10, 0, 0, 7}, 8006, 150);
        auto window = open(lan.settings);
        QVERIFY(waitForIdle(*window));
        QVERIFY(window->list()->hasFocus());
        QTest::keyClick(window->list(), Qt::Key_Return);
        QVERIFY(!window->isVisible());
        QVERIFY(window->chosen());
        QCOMPARE(window->chosenAddress(), QStringLiteral("10.0.0.7"));
        QCOMPARE(window->chosenPort(), uint16_t{8006});
    }

    void aRowWithoutItsRecordIsRefused() {
        LoopbackSearch lan;
        auto window = open(lan.settings);
        QVERIFY(waitForIdle(*window));
        new QTreeWidgetItem(window->list(), QStringList{"10.0.0.9", "80", "IP Camera"});
        doubleClickRow(*window->list(), 0);
        QVERIFY(window->isVisible());
        QVERIFY(!window->chosen());
        QCOMPARE(sink_.messages(), std::vector<std::string>{std::string(text::indexItemFailed)});
    }

    // Another viewer holds the reply port: the message, and no search more
    // in this window; the window can be closed.
    void aTakenReplyPortRefusesFurtherSearches() {
        LoopbackSearch lan;
        lan.answer({192, 168, 0, 5}, 80, 0);
        const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(lan.settings.replyPort);
        QCOMPARE(::bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        auto window = open(lan.settings);
        QVERIFY(waitForIdle(*window, 2000));
        QCOMPARE(sink_.messages(), std::vector<std::string>{std::string(text::bindFailed)});
        QVERIFY(window->searchRefused());
        QVERIFY(window->list()->isEnabled());
        ::close(holder);
        window->searchAction()->trigger();
        QVERIFY(!window->searching());
        QTest::qWait(100);
        QCOMPARE(lan.requestsSeen(), size_t{0});
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QVERIFY(!window->isVisible());
    }

    void aSendFailureIsToldAndTheSearchGoesOn() {
        LoopbackSearch lan;
        lan.settings.interfaces = "tess-none0";
        auto window = open(lan.settings);
        QTRY_COMPARE(sink_.messages(),
                     std::vector<std::string>{std::string(text::broadcastFailed)});
        QVERIFY(window->searching());
        QVERIFY(waitForIdle(*window));
    }

    // The program ending closes every window: a running search is cancelled
    // and its thread joined long before the search would have ended.
    void theProgramsCloseEndsTheSearchAtOnce() {
        LoopbackSearch lan;
        lan.settings.collection = std::chrono::milliseconds(7000);
        lan.settings.replyWait = std::chrono::milliseconds(3000);
        lan.answer({192, 168, 0, 5}, 80, 100);
        auto window = open(lan.settings);
        QTRY_COMPARE(window->list()->topLevelItemCount(), 1);
        QElapsedTimer closing;
        closing.start();
        QVERIFY(window->close());
        QVERIFY(closing.elapsed() < 1000);
        QVERIFY(!window->isVisible());
        QVERIFY(!window->searching());
        QVERIFY(!window->chosen());

        // Destroyed while searching: the same.
        window = open(lan.settings);
        QVERIFY(window->searching());
        closing.restart();
        window.reset();
        QVERIFY(closing.elapsed() < 1000);
    }
};

QTEST_MAIN(SearchWindowTest)
#include "SearchWindowTest.moc"
