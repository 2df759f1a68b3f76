#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QDialog>
#include <QObject>
#include <QString>

#include "discovery/Searcher.h"

class QAction;
class QCloseEvent;
class QShowEvent;
class QTreeWidget;
class QTreeWidgetItem;

namespace tess {

// Carries what a search thread tells to the GUI thread as queued signals,
// rows by value. The search thread holds this relay, never the window.
class SearchRelay final : public QObject, public SearchListener {
    Q_OBJECT

public:
    using QObject::QObject;
    void sendFailed() override { emit requestNotSent(); }
    void rowsFound(std::vector<SearchRow> rows) override { emit found(rows); }
    void searchEnded(SearchEnd end) override { emit ended(end); }

signals:
    void requestNotSent();
    void found(std::vector<tess::SearchRow> rows);
    void ended(tess::SearchEnd end);
};

// The modal "Search" window: a LAN search starts as it opens, every device
// that answers is listed in the "Device List" (newest on top, with its
// address, port and type name), the menu's "Search" searches again, and a
// double-click on a row chooses that device and closes the window.
//
// While a search runs the list is disabled and the window cannot be closed
// by the user (OK, Escape and the close button are ignored); "running" and
// "list enabled" change together, on the search's end notification. A close
// from the program itself (every window closing as the program ends) cancels
// the search and waits for its thread, which the cancellable wait keeps
// short. After a failed bind of the reply port the window refuses further
// searches: the user closes it and opens it again.
//
// GUI thread only.
class SearchWindow final : public QDialog {
    Q_OBJECT

public:
    // The window in logical pixels (LogicalGeometry): the 137 x 156
    // dialog-unit layout scaled to the 240-wide screen, under a menu bar.
    static constexpr int kLogicalWidth = 240;
    static constexpr int kLogicalHeight = 273;
    static constexpr int kMenuBarHeight = 26;

    // `scale`: widget pixels per logical pixel.
    SearchWindow(int scale, SearchSettings settings, QWidget* parent = nullptr);
    // Cancels a running search and joins its thread.
    ~SearchWindow() override;

    // The result, read after the window has closed.
    bool chosen() const { return chosen_; }
    QString chosenAddress() const { return chosenAddress_; }
    uint16_t chosenPort() const { return chosenPort_; }

    bool searching() const { return searching_; }
    // True after a failed bind: the Search command does nothing any more.
    bool searchRefused() const { return searchRefused_; }
    QTreeWidget* list() const { return list_; }
    QAction* searchAction() const { return searchAction_; }

public slots:
    // The Search command: nothing while a search runs or after a failed
    // bind; otherwise the list is cleared and a new search starts.
    void search();
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void startSearch();
    void addRows(const std::vector<SearchRow>& rows);
    void searchEnded(SearchEnd end);
    void chooseRow(QTreeWidgetItem* item);
    void setSearching(bool searching);
    // Ends a running search now and joins its thread.
    void cancelSearch();

    const SearchSettings settings_;
    // Before the searchers: their threads use it until they are joined.
    SearchRelay relay_;
    std::unique_ptr<Searcher> searcher_;
    // Searchers that told their end but whose thread had not yet returned
    // when the next search started; joined when the window goes.
    std::vector<std::unique_ptr<Searcher>> finished_;
    // The rows of the current list, oldest first; an item holds its index.
    std::vector<SearchRow> rows_;

    bool opened_ = false;
    bool searching_ = false;
    bool searchRefused_ = false;
    bool waitCursorShown_ = false;
    bool chosen_ = false;
    QString chosenAddress_;
    uint16_t chosenPort_ = 0;

    QTreeWidget* list_ = nullptr;
    QAction* searchAction_ = nullptr;
};

}  // namespace tess
