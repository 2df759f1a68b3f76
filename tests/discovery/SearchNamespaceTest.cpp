// Real broadcasts between network namespaces that each case makes for
// itself: a viewer namespace joined to one or two device namespaces by veth
// pairs on private test subnets (198.18.N.0/24). Nothing leaves them. Needs
// root; as root, any failure to build the lab fails the case.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "DiscoveryResponder.h"
#include "EventLog.h"
#include "NetworkLab.h"
#include "SearchRecorder.h"

namespace tess {
namespace {

using namespace std::chrono_literals;
using testing::InNamespace;
using testing::NetworkNamespace;
using testing::SearchRecorder;

// A simulated device's search responder inside a device namespace, bound to
// 0.0.0.0:7777 and answering on 3332.
struct LabDevice {
    std::vector<devsim::SearchAnswer> answers;
    devsim::EventLog log;
    devsim::DiscoveryResponder responder{[this] { return answers; }, log};
};

class SearchNamespaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "network namespaces need root (CI runs these as root)";
        viewer_ = makeNamespace();
    }

    std::unique_ptr<NetworkNamespace> makeNamespace() {
        std::string error;
        auto made = NetworkNamespace::create(error);
        EXPECT_TRUE(made) << error;
        return made;
    }
    void run(const NetworkNamespace& where, const std::string& command) {
        std::string error;
        ASSERT_TRUE(where.run(command, error)) << error;
    }
    static std::string subnet(int n) { return "198.18." + std::to_string(n) + "."; }

    // A veth pair "vN" (viewer, .1) to "dN" (device, .2) on 198.18.N.0/24.
    void join(const NetworkNamespace& device, int n) {
        const std::string v = "v" + std::to_string(n), d = "d" + std::to_string(n);
        run(*viewer_, "ip link add " + v + " type veth peer name " + d + " netns " +
                          std::to_string(device.holder()));
        run(*viewer_,
            "ip addr add " + subnet(n) + "1/24 dev " + v + " && ip link set " + v + " up");
        run(device, "ip addr add " + subnet(n) + "2/24 dev " + d + " && ip link set " + d + " up");
    }

    // Starts `device`'s responder inside `where`.
    void startResponder(const NetworkNamespace& where, LabDevice& device) {
        bool started = false;
        std::thread([&] {
            InNamespace inside(where);
            started = inside.entered() && device.responder.start("0.0.0.0", 7777, 3332, true);
        }).join();
        ASSERT_TRUE(started) << "no responder on 0.0.0.0:7777 in the device namespace";
    }

    static devsim::SearchAnswer answer(int n, int delayMs, uint8_t typeCode = 68) {
        devsim::SearchAnswer made;
        made.address = {198, 18, static_cast<uint8_t>(n), 2};
        made.port = 80;
        made.delayMs = delayMs;
        made.typeCode = typeCode;
        return made;
    }

    // Runs one search in the viewer namespace to its end.
    void search(const SearchSettings& settings, SearchRecorder& recorder,
                std::chrono::milliseconds limit) {
        InNamespace inside(*viewer_);
        ASSERT_TRUE(inside.entered());
        // A search that chooses its own interfaces never runs outside the lab.
        ASSERT_NE(testing::currentNetworkNamespace(), testing::startingNetworkNamespace());
        Searcher searcher(settings, recorder);
        ASSERT_TRUE(searcher.start());
        ASSERT_TRUE(recorder.waitForEnd(limit)) << "the search did not end";
    }

    static std::string request(int n) {
        const SearchDatagram made = buildSearchRequest({198, 18, static_cast<uint8_t>(n), 1});
        return {made.begin(), made.end()};
    }

    std::unique_ptr<NetworkNamespace> viewer_;
};

// The product's times, one interface with a default route: replies at 2, 4,
// 6, 8 and 10 s give four rows, and the search ends with the one at 8 s.
TEST_F(SearchNamespaceTest, RepliesEveryTwoSecondsGiveFourRows) {
    auto device = makeNamespace();
    ASSERT_TRUE(viewer_ && device);
    join(*device, 1);
    run(*viewer_, "ip route add default dev v1");
    LabDevice camera;
    for (int second = 2; second <= 10; second += 2)
        camera.answers.push_back(answer(1, second * 1000));
    startResponder(*device, camera);

    SearchRecorder recorder;
    search(SearchSettings{}, recorder, 15s);
    EXPECT_EQ(recorder.waitForEnd(0s), SearchEnd::Completed);
    EXPECT_EQ(recorder.rows().size(), 4u);
    EXPECT_GE(recorder.endedAfter(), 7900ms);
    EXPECT_LT(recorder.endedAfter(), 9000ms);
    EXPECT_EQ(recorder.sendFailures(), 0);
    ASSERT_EQ(camera.log.datagrams().size(), 1u);
    EXPECT_EQ(camera.log.datagrams().front(), request(1));
}

TEST_F(SearchNamespaceTest, NoDeviceEndsAfterThreeSeconds) {
    auto device = makeNamespace();
    ASSERT_TRUE(viewer_ && device);
    join(*device, 1);
    run(*viewer_, "ip route add default dev v1");
    SearchRecorder recorder;
    search(SearchSettings{}, recorder, 10s);
    EXPECT_EQ(recorder.waitForEnd(0s), SearchEnd::Completed);
    EXPECT_TRUE(recorder.rows().empty());
    EXPECT_GE(recorder.endedAfter(), 2900ms);
    EXPECT_LT(recorder.endedAfter(), 3500ms);
    EXPECT_EQ(recorder.sendFailures(), 0);
}

// Without a default route a plain broadcast has nowhere to go; one copy
// leaves on each interface with that interface's own address, and the
// devices behind both are listed.
TEST_F(SearchNamespaceTest, OneCopyOnEveryInterfaceWithoutADefaultRoute) {
    auto first = makeNamespace();
    auto second = makeNamespace();
    ASSERT_TRUE(viewer_ && first && second);
    join(*first, 1);
    join(*second, 2);
    LabDevice camera, recorderDevice;
    camera.answers = {answer(1, 100, 68)};
    recorderDevice.answers = {answer(2, 200, 87)};
    startResponder(*first, camera);
    startResponder(*second, recorderDevice);

    SearchSettings settings;
    settings.collection = 700ms;
    settings.replyWait = 300ms;
    SearchRecorder recorder;
    search(settings, recorder, 5s);
    EXPECT_EQ(recorder.waitForEnd(0s), SearchEnd::Completed);
    EXPECT_EQ(recorder.sendFailures(), 0);
    EXPECT_EQ(camera.log.datagrams(), std::vector<std::string>{request(1)});
    EXPECT_EQ(recorderDevice.log.datagrams(), std::vector<std::string>{request(2)});
    const std::vector<SearchRow> rows = recorder.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].address, "198.18.1.2");
    EXPECT_EQ(rows[0].typeName, "IP Camera");
    EXPECT_EQ(rows[1].address, "198.18.2.2");
    EXPECT_EQ(rows[1].typeName, "16CH MPEG4 DVR");
}

// The one interface named is down: no copy leaves, which is told, and the
// search still collects for its time.
TEST_F(SearchNamespaceTest, ASendThatFailsEverywhere) {
    auto device = makeNamespace();
    ASSERT_TRUE(viewer_ && device);
    join(*device, 1);
    run(*viewer_, "ip link set v1 down");
    SearchSettings settings;
    settings.interfaces = "v1";
    settings.collection = 700ms;
    settings.replyWait = 300ms;
    SearchRecorder recorder;
    search(settings, recorder, 5s);
    EXPECT_EQ(recorder.waitForEnd(0s), SearchEnd::Completed);
    EXPECT_EQ(recorder.sendFailures(), 1);
    EXPECT_GE(recorder.endedAfter(), 300ms);
}

// Two viewers cannot share port 3332: the second is told, the first is not
// robbed of its replies.
TEST_F(SearchNamespaceTest, ASecondViewerGetsTheBindFailure) {
    auto device = makeNamespace();
    ASSERT_TRUE(viewer_ && device);
    join(*device, 1);
    LabDevice camera;
    camera.answers = {answer(1, 200)};
    startResponder(*device, camera);

    SearchSettings settings;
    settings.collection = 700ms;
    settings.replyWait = 300ms;
    SearchRecorder first, second;
    {
        InNamespace inside(*viewer_);
        ASSERT_TRUE(inside.entered());
        ASSERT_NE(testing::currentNetworkNamespace(), testing::startingNetworkNamespace());
        Searcher running(settings, first);
        ASSERT_TRUE(running.start());
        std::this_thread::sleep_for(50ms);
        Searcher another(settings, second);
        ASSERT_TRUE(another.start());
        EXPECT_EQ(second.waitForEnd(2s), SearchEnd::BindFailed);
        EXPECT_EQ(first.waitForEnd(2s), SearchEnd::Completed);
    }
    EXPECT_EQ(first.rows().size(), 1u);
    EXPECT_TRUE(second.rows().empty());
}

}  // namespace
}  // namespace tess
