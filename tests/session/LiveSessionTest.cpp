// The live session against simulated devices, its timers in simulated time:
// the tour, the model-known deadline and the audio stop after an A/V change
// run when the test moves the clock, not after real seconds.
#include <gtest/gtest.h>

#include "ManualEventLoop.h"
#include "PaneTestSupport.h"
#include "SimulatedDevice.h"
#include "directory/DeviceDirectory.h"
#include "session/LiveSession.h"

namespace tess {
namespace {

using devsim::DeviceConfig;
using devsim::SimulatedDevice;
using Kind = SessionEvent::Kind;

// Stands in for the render side: gives every frame back at once.
class ReleasingRendering final : public PaneRendering {
public:
    explicit ReleasingRendering(PaneRuntime& runtime) : consumer_(runtime.frames()) {}
    PaneRenderState& renderState() override { return state_; }
    void requestSnapshot(std::string, const SnapshotHeader&) override {}
    uint64_t skippedPictures() const override { return 0; }
    void pause() override {}
    void resume() override {}
    void startConsumer() override { consumer_.startConsumer(); }
    void requestConsumerStop() override { consumer_.requestConsumerStop(); }
    void joinConsumer() override { consumer_.joinConsumer(); }

private:
    PaneRenderState state_;
    panetest::ReleasingConsumer consumer_;
};

class LiveSessionTest : public ::testing::Test, private SessionListener {
protected:
    void SetUp() override {
        auto loop = std::make_unique<ManualEventLoop>();
        loop_ = loop.get();
        PaneTimings timings;
        timings.retryDelayMs = 200;
        session_ = std::make_unique<LiveSession>(
            LiveSession::kQuadPanes, audioOut_, std::move(loop),
            [](int, PaneRuntime& runtime, SnapshotEvents&) {
                return std::make_unique<ReleasingRendering>(runtime);
            },
            timings);
        session_->setListener(this);
    }
    void TearDown() override {
        session_.reset();
        directory_.freeAll();
    }

    DeviceEntry& addDevice(const SimulatedDevice& device, uint16_t avFlags = kAvVideo) {
        DeviceEntry& entry = *directory_.createEntry(EntryKind::device, u"Camera", nullptr);
        panetest::describeDevice(entry, device, avFlags);
        return entry;
    }
    DeviceEntry& addSwitch(std::vector<uint16_t> members, uint8_t displayTimeIndex) {
        DeviceEntry& entry = *directory_.createEntry(EntryKind::multiDevice, u"Tour", nullptr);
        entry.setMultiType(kMultiTypeSwitch);
        entry.setDisplayTimeIndex(displayTimeIndex);
        entry.setMembers(members);
        return entry;
    }
    std::unique_ptr<SimulatedDevice> device(int deviceClass, std::string password = "velum") {
        DeviceConfig config;
        config.deviceClass = deviceClass;
        config.password = std::move(password);
        return panetest::startedDevice(config);
    }

    // Runs what the panes posted until `done` holds; the session's clock
    // stands still meanwhile.
    bool pumpUntil(const std::function<bool()>& done) {
        return panetest::eventually(
            [&] {
                loop_->runPosted();
                return done();
            },
            std::chrono::seconds(5));
    }
    int count(Kind kind) const {
        return static_cast<int>(std::count_if(events_.begin(), events_.end(),
                                              [kind](const auto& e) { return e.kind == kind; }));
    }
    bool connected(int pane) {
        return session_->runtime(pane).connection().controlLink.connected();
    }

    panetest::InstantAudioOut audioOut_;
    DeviceDirectory directory_;
    ManualEventLoop* loop_ = nullptr;
    std::unique_ptr<LiveSession> session_;
    std::vector<SessionEvent> events_;

private:
    void sessionEvent(const SessionEvent& event) override { events_.push_back(event); }
};

// Each step of a Switch after its display time, on the other pane with its
// sound; a member that went away ends the tour on its last picture.
TEST_F(LiveSessionTest, SwitchStepsInItsDisplayTimeAndEndsWithAGoneDevice) {
    auto first = device(6);
    auto second = device(6);
    ASSERT_TRUE(first && second);
    DeviceEntry& tour = addSwitch({addDevice(*first).index(), addDevice(*second).index()}, 1);
    session_->open(tour, directory_);
    EXPECT_EQ(session_->tourIntervalMs(), 10000);
    EXPECT_EQ(session_->view(), 1);
    ASSERT_TRUE(pumpUntil([&] { return connected(0); }));

    loop_->advance(9999);
    EXPECT_EQ(session_->view(), 1);
    loop_->advance(1);
    EXPECT_EQ(session_->view(), 2);
    EXPECT_EQ(count(Kind::ViewChanged), 2);
    EXPECT_FALSE(session_->runtime(0).connection().audioToPlayer);
    EXPECT_TRUE(session_->runtime(1).connection().audioToPlayer);
    EXPECT_EQ(session_->startedCount(), 2);
    ASSERT_TRUE(pumpUntil([&] { return connected(1); }));

    second->stop();
    ASSERT_TRUE(pumpUntil([&] { return !connected(1); }));
    loop_->advance(10000);
    EXPECT_FALSE(session_->touring());
    EXPECT_EQ(session_->view(), 2);
    EXPECT_EQ(session_->currentPane(), 1);
}

TEST_F(LiveSessionTest, DisplayTimesRunFromFiveToSixtySecondsAndFoldersAreSkipped) {
    DeviceEntry* folder = directory_.createEntry(EntryKind::folder, u"Folder", nullptr);
    DeviceEntry& folders = addSwitch({folder->index()}, 14);
    session_->open(folders, directory_);
    EXPECT_EQ(session_->tourIntervalMs(), 60000);
    EXPECT_FALSE(session_->touring());
    EXPECT_EQ(session_->startedCount(), 0);

    auto camera = device(6);
    ASSERT_TRUE(camera);
    DeviceEntry& tour = addSwitch({folder->index(), addDevice(*camera).index()}, 0);
    session_->open(tour, directory_);
    EXPECT_EQ(session_->tourIntervalMs(), 5000);
    EXPECT_TRUE(session_->touring());
    EXPECT_EQ(session_->startedCount(), 1);
    session_->close();
    EXPECT_FALSE(session_->touring());
    EXPECT_EQ(loop_->pendingTimers(), 0);
}

// The channel menu comes only for a model known within the deadline after
// opening, and has commands only for a recorder with a channel menu.
TEST_F(LiveSessionTest, ChannelMenuOnlyForAModelKnownInTime) {
    auto recorder = device(50);
    ASSERT_TRUE(recorder);
    session_->open(addDevice(*recorder), directory_);
    ASSERT_TRUE(pumpUntil([&] { return count(Kind::ChannelMenu) == 1; }));
    EXPECT_EQ(events_.back().deviceClass, 50);
    EXPECT_EQ(loop_->pendingTimers(), 0);

    events_.clear();
    auto camera = device(6);
    ASSERT_TRUE(camera);
    session_->open(addDevice(*camera), directory_);
    // The deadline passes before anything the pane posted is looked at.
    loop_->advance(session_->timings().modelKnownWaitMs);
    ASSERT_TRUE(pumpUntil([&] { return count(Kind::LayOut) == 1; }));
    EXPECT_EQ(count(Kind::ChannelMenu), 0);
    EXPECT_EQ(count(Kind::CloseRequested), 0);
}

TEST_F(LiveSessionTest, AFailedFirstLoginClosesTheSession) {
    auto camera = device(6, "other");
    ASSERT_TRUE(camera);
    session_->open(addDevice(*camera), directory_);
    ASSERT_TRUE(pumpUntil([&] { return count(Kind::CloseRequested) == 1; }));
    EXPECT_EQ(events_.back().stamp.pane, 0);
}

// Audio only to video only: the sound goes on until the picture is back,
// that is for the A/V delay of the session's clock, then its stream stops.
TEST_F(LiveSessionTest, AudioStopsOnlyAfterTheDelayOfTheVideoOnlyMode) {
    auto camera = device(6);
    ASSERT_TRUE(camera);
    DeviceEntry& entry = addDevice(*camera, kAvVideo | kAvAudio);
    session_->open(entry, directory_);
    ASSERT_TRUE(pumpUntil([&] { return camera->state().activeAudioStreams == 1; }));
    PaneConnection& connection = session_->runtime(0).connection();

    ASSERT_TRUE(session_->cycleAvMode());  // to audio only
    EXPECT_EQ(entry.avFlags(), kAvAudio);
    EXPECT_FALSE(connection.videoWanted);
    ASSERT_TRUE(session_->cycleAvMode());  // to video only
    EXPECT_EQ(entry.avFlags(), kAvVideo);
    EXPECT_TRUE(connection.videoWanted && !connection.audioWanted);
    loop_->advance(session_->timings().audioStopDelayMs - 1);
    EXPECT_EQ(camera->state().activeAudioStreams, 1);
    loop_->advance(1);
    ASSERT_TRUE(pumpUntil([&] { return camera->state().activeAudioStreams == 0; }));
    ASSERT_TRUE(session_->cycleAvMode());  // to audio and video
    EXPECT_EQ(entry.avFlags(), kAvVideo | kAvAudio);
}

}  // namespace
}  // namespace tess
