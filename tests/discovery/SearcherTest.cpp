// Searches on loopback: the request goes to 127.255.255.255 with the
// broadcast option and the simulator's responder, bound to 0.0.0.0, answers.
// Times are a tenth of the product's (collection 700 ms, reply wait 300 ms);
// the ports are free ones, so these cases may run beside any other test.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "DiscoveryResponder.h"
#include "EventLog.h"
#include "SearchRecorder.h"

namespace tess {
namespace {

using namespace std::chrono_literals;
using testing::SearchRecorder;

class SearcherTest : public ::testing::Test {
protected:
    // The responder answers every request with `answers_`.
    void startResponder() {
        ASSERT_TRUE(responder_.start("0.0.0.0", 0, settings_.replyPort));
        settings_.requestPort = responder_.port();
        replyPort_.release();
    }
    devsim::SearchAnswer answer(uint8_t lastOctet, uint16_t port, int delayMs,
                                uint8_t typeCode = 68) {
        devsim::SearchAnswer made;
        made.address = {10, 1, 1, lastOctet};
        made.port = port;
        made.delayMs = delayMs;
        made.typeCode = typeCode;
        return made;
    }
    std::vector<std::string> addressesOf(const std::vector<SearchRow>& rows) {
        std::vector<std::string> addresses;
        for (const SearchRow& row : rows) addresses.push_back(row.address);
        return addresses;
    }

    // Held until the responder has its own port; the search binds it then.
    testing::ReservedUdpPort replyPort_;
    testing::ReservedUdpPort requestPort_;  // stays held: nobody listens there
    SearchSettings settings_ = [this] {
        SearchSettings settings;
        settings.interfaces = "lo";
        settings.collection = 700ms;
        settings.replyWait = 300ms;
        settings.replyPort = replyPort_.port();
        settings.requestPort = requestPort_.port();
        return settings;
    }();
    std::vector<devsim::SearchAnswer> answers_;
    devsim::EventLog log_;
    devsim::DiscoveryResponder responder_{[this] { return answers_; }, log_};
    SearchRecorder recorder_;
};

TEST_F(SearcherTest, NoDeviceEndsOneReplyWaitAfterTheRequest) {
    startResponder();
    Searcher searcher(settings_, recorder_);
    ASSERT_TRUE(searcher.start());
    ASSERT_EQ(recorder_.waitForEnd(3s), SearchEnd::Completed);
    EXPECT_TRUE(recorder_.rows().empty());
    EXPECT_GE(recorder_.endedAfter(), 300ms);
    EXPECT_LT(recorder_.endedAfter(), 600ms);
    EXPECT_EQ(recorder_.sendFailures(), 0);
    // The broadcast on loopback, byte for byte, with the loopback address.
    ASSERT_EQ(log_.datagrams().size(), 1u);
    const SearchDatagram expected = buildSearchRequest({127, 0, 0, 1});
    EXPECT_EQ(log_.datagrams().front(), std::string(expected.begin(), expected.end()));
}

// Replies at 2, 4, 6, 8 and 10 tenths of the collection: the one at 8 is
// handled after the collection time and ends the search; the last is never
// listed. The same device twice is two rows.
TEST_F(SearcherTest, CollectsUntilTheFirstReplyAfterTheCollectionTime) {
    for (int i = 1; i <= 5; ++i) answers_.push_back(answer(i, 80, i * 200));
    answers_.push_back(answer(1, 80, 200));
    startResponder();
    Searcher searcher(settings_, recorder_);
    ASSERT_TRUE(searcher.start());
    ASSERT_EQ(recorder_.waitForEnd(3s), SearchEnd::Completed);
    EXPECT_GE(recorder_.endedAfter(), 800ms);
    EXPECT_LT(recorder_.endedAfter(), 950ms);
    EXPECT_EQ(
        addressesOf(recorder_.rows()),
        (std::vector<std::string>{"10.1.1.1", "10.1.1.1", "10.1.1.2", "10.1.1.3", "10.1.1.4"}));
    EXPECT_EQ(recorder_.rows()[0], recorder_.rows()[1]);
}

TEST_F(SearcherTest, EndsOneReplyWaitAfterTheLastReply) {
    answers_ = {answer(1, 80, 100, 200), answer(2, 8006, 250, 87)};
    startResponder();
    Searcher searcher(settings_, recorder_);
    ASSERT_TRUE(searcher.start());
    ASSERT_EQ(recorder_.waitForEnd(3s), SearchEnd::Completed);
    EXPECT_GE(recorder_.endedAfter(), 550ms);
    EXPECT_LT(recorder_.endedAfter(), 700ms);
    const std::vector<SearchRow> rows = recorder_.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].typeName, "JPEG Video Server");
    EXPECT_EQ(rows[0].typeCode, 50);
    EXPECT_EQ(rows[1].typeName, "16CH MPEG4 DVR");
    EXPECT_EQ(rows[1].port, 8006);
}

// Datagrams of 0, 20 and 100 bytes are rows like any other and do not end
// the search.
TEST_F(SearcherTest, OddDatagramSizes) {
    for (const int size : {0, 20, 100}) {
        answers_.push_back(answer(static_cast<uint8_t>(size), 80, 100 + size));
        answers_.back().size = size;
    }
    startResponder();
    Searcher searcher(settings_, recorder_);
    ASSERT_TRUE(searcher.start());
    ASSERT_EQ(recorder_.waitForEnd(3s), SearchEnd::Completed);
    const std::vector<SearchRow> rows = recorder_.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].address, "0.0.0.0");
    EXPECT_FALSE(rows[0].opensDevice());
    EXPECT_EQ(rows[1].typeCode, 68);
    EXPECT_EQ(rows[1].address, "0.0.0.0");
    EXPECT_EQ(rows[2].address, "10.1.1.100");
    EXPECT_EQ(rows[2].port, 80);
    EXPECT_GE(recorder_.endedAfter(), 500ms);  // 300 ms after the last one at 200
}

// A flood is listed up to the row limit, in batches, and still ends when
// the collection time is over.
TEST_F(SearcherTest, AFloodIsCappedAndBatched) {
    settings_.rowLimit = 40;
    settings_.batchLimit = 8;
    replyPort_.release();
    Searcher searcher(settings_, recorder_);
    ASSERT_TRUE(searcher.start());
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const SearchDatagram reply = buildSearchRequest({10, 9, 9, 9});
        while (flooding) {
            for (int i = 0; i < 20; ++i)
                testing::sendDatagram(settings_.replyPort, reply.data(), reply.size());
            std::this_thread::sleep_for(1ms);
        }
    });
    const auto end = recorder_.waitForEnd(3s);
    flooding = false;
    flood.join();
    ASSERT_EQ(end, SearchEnd::Completed);
    EXPECT_LT(recorder_.endedAfter(), 900ms);
    EXPECT_EQ(recorder_.rows().size(), 40u);
    for (const size_t batch : recorder_.batches()) EXPECT_LE(batch, 8u);
    EXPECT_LT(recorder_.batches().size(), 40u);
}

TEST_F(SearcherTest, CancelEndsAWaitAtOnce) {
    settings_.collection = 7000ms;
    settings_.replyWait = 3000ms;
    answers_ = {answer(1, 80, 50)};
    startResponder();
    const auto started = std::chrono::steady_clock::now();
    {
        Searcher searcher(settings_, recorder_);
        ASSERT_TRUE(searcher.start());
        std::this_thread::sleep_for(200ms);
        EXPECT_TRUE(searcher.running());
        searcher.cancel();
        EXPECT_EQ(recorder_.waitForEnd(1s), SearchEnd::Cancelled);
    }  // joined here
    EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
    EXPECT_EQ(recorder_.rows().size(), 1u);
}

// Signals that interrupt the wait neither end nor shorten it.
TEST_F(SearcherTest, SignalsDuringTheWaitAreNoFailure) {
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    sigemptyset(&quiet.sa_mask);
    quiet.sa_flags = 0;  // no restart: the wait returns EINTR
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &quiet, &previous), 0);
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    // Only the search thread takes SIGUSR1: it inherits an open mask from a
    // starter thread, every other thread keeps it blocked.
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    answers_ = {answer(1, 80, 200)};
    startResponder();
    Searcher searcher(settings_, recorder_);
    std::thread starter([&] {
        pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
        ASSERT_TRUE(searcher.start());
        pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    });
    starter.join();
    while (!recorder_.waitForEnd(10ms)) ::kill(::getpid(), SIGUSR1);
    EXPECT_EQ(recorder_.waitForEnd(0ms), SearchEnd::Completed);
    EXPECT_EQ(recorder_.rows().size(), 1u);
    EXPECT_GE(recorder_.endedAfter(), 500ms);
    pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
    ::sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
}  // namespace tess
