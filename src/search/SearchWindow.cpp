#include "search/SearchWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QShowEvent>
#include <QTreeWidget>

#include "geometry/LogicalGeometry.h"
#include "platform/MessageSink.h"
#include "resources/StringTable.h"

namespace tess {
namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The layout was drawn in dialog units, 137 across the 240-pixel screen; the
// same factor serves both directions.
constexpr int fromDialogUnits(int units) {
    return static_cast<int>(units * SearchWindow::kLogicalWidth / 137.0 + 0.5);
}
constexpr QRect dialogRect(int x, int y, int width, int height) {
    return QRect(fromDialogUnits(x), fromDialogUnits(y), fromDialogUnits(width),
                 fromDialogUnits(height));
}

// Below the menu bar.
constexpr QRect kGroupRect = dialogRect(3, 1, 132, 105);
constexpr QRect kListRect = dialogRect(7, 11, 124, 91);
// Column widths in logical pixels: IP, PORT, DEVICE.
constexpr int kColumnWidths[3] = {110, 40, 150};

// Which row of rows_ an item shows.
constexpr int kRowRole = Qt::UserRole;

// The report list: Return chooses the current row as a double-click does,
// as in the main window's tree.
class DeviceList final : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool choose = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (choose && currentItem()) {
            emit itemDoubleClicked(currentItem(), currentColumn());
            return;
        }
        QTreeWidget::keyPressEvent(event);
    }
};

}  // namespace

SearchWindow::SearchWindow(int scale, SearchSettings settings, QWidget* parent)
    : QDialog(parent), settings_(std::move(settings)) {
    const LogicalGeometry geometry(scale);
    setWindowTitle(qs(text::searchCaption));
    geometry.fitWindow(*this, QSize(kLogicalWidth, kMenuBarHeight + kLogicalHeight));

    // The menu's one item is there whatever the other windows' menus show.
    auto* menuBar = new QMenuBar(this);
    geometry.place(*menuBar, 0, 0, kLogicalWidth, kMenuBarHeight);
    searchAction_ = menuBar->addAction(qs(text::searchCommand));
    connect(searchAction_, &QAction::triggered, this, &SearchWindow::search);

    auto* client = new QWidget(this);
    geometry.place(*client, 0, kMenuBarHeight, kLogicalWidth, kLogicalHeight);
    geometry.place(*new QGroupBox(qs(text::deviceListCaption), client), kGroupRect);

    list_ = new DeviceList(client);
    geometry.place(*list_, kListRect);
    list_->setColumnCount(3);
    QStringList titles;
    for (const std::string_view title : text::searchColumns) titles << qs(title);
    list_->setHeaderLabels(titles);
    for (int column = 0; column < 3; ++column) {
        list_->headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
        list_->setColumnWidth(column, kColumnWidths[column] * scale);
    }
    list_->header()->setStretchLastSection(false);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(list_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { chooseRow(item); });

    connect(&relay_, &SearchRelay::found, this, &SearchWindow::addRows, Qt::QueuedConnection);
    connect(&relay_, &SearchRelay::ended, this, &SearchWindow::searchEnded, Qt::QueuedConnection);
    connect(
        &relay_, &SearchRelay::requestNotSent, this,
        [] { messageSink().show(text::broadcastFailed); }, Qt::QueuedConnection);
}

SearchWindow::~SearchWindow() {
    cancelSearch();
    finished_.clear();  // their bodies have returned or are returning: joined at once
}

void SearchWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!opened_) {
        opened_ = true;
        startSearch();
    }
}

void SearchWindow::search() {
    if (searching_ || searchRefused_) return;
    startSearch();
}

void SearchWindow::startSearch() {
    // A finished searcher's thread returns right after telling its end;
    // those still returning are kept and joined when the window goes.
    if (searcher_) finished_.push_back(std::move(searcher_));
    std::erase_if(finished_, [](const std::unique_ptr<Searcher>& old) { return !old->running(); });

    list_->clear();
    rows_.clear();
    searcher_ = std::make_unique<Searcher>(settings_, relay_);
    if (!searcher_->start()) {
        searcher_.reset();  // no thread: the window stays idle, Search may try again
        return;
    }
    setSearching(true);
}

void SearchWindow::setSearching(bool searching) {
    searching_ = searching;
    list_->setEnabled(!searching);
    if (searching != waitCursorShown_) {
        if (searching)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
        waitCursorShown_ = searching;
    }
}

void SearchWindow::addRows(const std::vector<SearchRow>& rows) {
    // Newest on top: the batch comes oldest first.
    const size_t first = rows_.size();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (size_t i = rows.size(); i-- > 0;) {
        const SearchRow& row = rows[i];
        auto* item = new QTreeWidgetItem(
            {QString::fromStdString(row.address), QString::number(row.port), qs(row.typeName)});
        item->setData(0, kRowRole, static_cast<qulonglong>(first + i));
        // A reply that names no address cannot be opened.
        if (!row.opensDevice()) item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
        items << item;
    }
    rows_.insert(rows_.end(), rows.begin(), rows.end());
    list_->insertTopLevelItems(0, items);
}

void SearchWindow::searchEnded(SearchEnd end) {
    setSearching(false);
    list_->setFocus();
    if (end == SearchEnd::BindFailed) {
        searchRefused_ = true;
        messageSink().show(text::bindFailed);
    }
}

void SearchWindow::chooseRow(QTreeWidgetItem* item) {
    if (!item || searching_) return;
    bool valid = false;
    const qulonglong index = item->data(0, kRowRole).toULongLong(&valid);
    if (!valid || index >= rows_.size()) {
        messageSink().show(text::indexItemFailed);
        return;
    }
    const SearchRow& row = rows_[index];
    if (!row.opensDevice()) return;
    chosen_ = true;
    chosenAddress_ = QString::fromStdString(row.address);
    chosenPort_ = row.port;
    accept();
}

void SearchWindow::accept() {
    if (!searching_) QDialog::accept();
}

void SearchWindow::reject() {
    if (!searching_) QDialog::reject();
}

void SearchWindow::closeEvent(QCloseEvent* event) {
    // The close button is the user's and waits for the search like OK; a
    // close the program makes (every window closing as it ends) goes through.
    if (searching_ && !event->spontaneous()) cancelSearch();
    QDialog::closeEvent(event);
}

void SearchWindow::cancelSearch() {
    if (searcher_) {
        searcher_->cancel();
        searcher_.reset();  // joins: the wait ends as soon as it is cancelled
    }
    if (searching_) setSearching(false);
}

}  // namespace tess
