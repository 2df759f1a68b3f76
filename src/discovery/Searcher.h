#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/SearchDatagrams.h"
#include "discovery/SearchInterfaces.h"
#include "platform/WorkerThread.h"

namespace tess {

// What a search is made of. The defaults are the product's; tests shorten
// the times and move the ports.
struct SearchSettings {
    // The environment variable that names the interfaces to search instead of
    // choosing them (see chooseSearchTargets), e.g. "lo".
    static constexpr const char* kInterfacesVariable = "TESSARINE_SEARCH_INTERFACES";

    uint16_t requestPort = 7777;  // where the request goes
    uint16_t replyPort = 3332;    // where replies are collected
    // Replies are collected while less than `collection` has passed since the
    // start; each wait for a reply lasts at most `replyWait`.
    std::chrono::milliseconds collection{7000};
    std::chrono::milliseconds replyWait{3000};
    // Comma-separated interface names; empty: every suitable interface.
    std::string interfaces;
    // Rows past this many are not listed (their replies still count as
    // replies), so that a flood cannot grow the list without bound.
    size_t rowLimit = 1024;
    // Rows are handed over in batches of at most this many.
    size_t batchLimit = 64;

    // The product's settings with `interfaces` from kInterfacesVariable.
    static SearchSettings forProgram();
};

// How a search ended.
enum class SearchEnd {
    Completed,   // the collection ran its course
    Cancelled,   // stopped from outside
    NoSocket,    // the listening socket could not be created
    BindFailed,  // the reply port could not be bound (another viewer holds it?)
    WaitFailed,  // waiting for replies failed
};

// Hears what a running search finds. Called on the search thread, in this
// order: sendFailed at most once, rowsFound any number of times, searchEnded
// exactly once as the run's last act. Rows arrive by value, oldest first.
class SearchListener {
public:
    virtual ~SearchListener() = default;
    // No copy of the request could be sent on any interface (or there was no
    // interface to send on); the search goes on and collects replies.
    virtual void sendFailed() = 0;
    virtual void rowsFound(std::vector<SearchRow> rows) = 0;
    virtual void searchEnded(SearchEnd end) = 0;
};

// One LAN search on a thread of its own ("search"): binds the reply port,
// sends the request once on every target interface, then collects replies
// until 3 s after the last one, or right after the first one handled 7 s or
// more after the start (the times of the settings). A reply that arrives
// while the search runs is a row; nothing is merged, so a device that answers
// twice gives two rows.
//
// The listening socket has no SO_REUSEADDR: a second viewer that searches at
// the same time gets BindFailed instead of half the replies.
//
// start(), cancel() and the destructor are for the owner's thread. cancel()
// returns at once and ends the run's wait within microseconds; the destructor
// cancels and joins, so the thread never outlives its listener.
class Searcher {
public:
    Searcher(SearchSettings settings, SearchListener& listener);
    ~Searcher();
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    // Starts the one run of this searcher; false when its thread could not
    // start (or it ran already).
    bool start();
    void cancel();
    // True from start() until the run has returned (after searchEnded).
    bool running() const { return thread_.running(); }

    // The targets of a search with `settings`, as the run chooses them.
    static std::vector<SearchTarget> targets(const SearchSettings& settings);

private:
    void run(const WorkerThread::StopRequest& stop);
    SearchEnd collect(int listening, const WorkerThread::StopRequest& stop);
    bool sendRequests();

    const SearchSettings settings_;
    SearchListener& listener_;
    int wakeFd_ = -1;  // eventfd: readable once a cancel was asked for
    bool started_ = false;
    WorkerThread thread_;  // last: joined before the rest goes
};

}  // namespace tess
