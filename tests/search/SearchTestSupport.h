#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <functional>
#include <vector>

#include "DiscoveryResponder.h"
#include "EventLog.h"
#include "NextModal.h"
#include "SearchRecorder.h"
#include "discovery/Searcher.h"

namespace tess::testing {

using test::onNextModal;

// The simulator's search responder on loopback, bound to 0.0.0.0 on a free
// port, and search settings that reach it through "lo" only, at a tenth of
// the product's times unless a case asks for more.
class LoopbackSearch {
public:
    LoopbackSearch() {
        settings.interfaces = "lo";
        settings.collection = std::chrono::milliseconds(1000);
        settings.replyWait = std::chrono::milliseconds(400);
        ReservedUdpPort replyPort;  // held until the responder has its own
        settings.replyPort = replyPort.port();
        responder_.start("0.0.0.0", 0, settings.replyPort);
        settings.requestPort = responder_.port();
    }

    devsim::SearchAnswer& answer(std::array<uint8_t, 4> address, uint16_t port, int delayMs,
                                 uint8_t typeCode = 68) {
        devsim::SearchAnswer made;
        made.address = address;
        made.port = port;
        made.delayMs = delayMs;
        made.typeCode = typeCode;
        answers.push_back(made);
        return answers.back();
    }
    size_t requestsSeen() { return log_.datagrams().size(); }

    SearchSettings settings;
    std::vector<devsim::SearchAnswer> answers;

private:
    devsim::EventLog log_;
    devsim::DiscoveryResponder responder_{[this] { return answers; }, log_};
};

// The texts of every row, top first, columns joined by "|".
inline QStringList rowTexts(const QTreeWidget& list) {
    QStringList rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list.topLevelItem(i);
        rows << item->text(0) + "|" + item->text(1) + "|" + item->text(2);
    }
    return rows;
}

inline void doubleClickRow(QTreeWidget& list, int row) {
    const QRect place = list.visualItemRect(list.topLevelItem(row));
    // A double-click as the window system delivers it: a click, then the
    // second press as a double-click.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, place.center());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, place.center());
}

}  // namespace tess::testing
