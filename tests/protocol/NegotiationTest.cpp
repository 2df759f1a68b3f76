#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ScriptedDevice.h"
#include "SimulatedDevice.h"
#include "platform/AutoResetEvent.h"
#include "platform/MessageSink.h"
#include "protocol/Login.h"
#include "protocol/ModelCodes.h"
#include "protocol/Negotiation.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

using Calls = std::vector<std::string>;

// Remembers every layout call in order.
class RecordingLayout : public LiveViewLayout {
public:
    explicit RecordingLayout(int view) : view_(view) {}
    int currentView() const override { return view_; }
    void ApplyDvrTabs() override { add("DvrTabs"); }
    void ApplyPlainLayout() override { add("Plain"); }
    void ShowAvButton(const SessionInfo&) override { add("AvButton"); }
    void ApplyPresetTabs() override { add("PresetTabs"); }
    void ApplyFourChannelLayout(int channelIndex) override {
        add("Four" + std::to_string(channelIndex));
    }
    void ApplyNineChannelLayout() override { add("Nine"); }
    void ApplySixteenChannelLayout() override { add("Sixteen"); }

    Calls calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void add(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    int view_;
    mutable std::mutex mutex_;
    Calls calls_;
};

constexpr char kId[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";

class NegotiationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.started());
        std::copy(std::begin(kId), std::end(kId), session().sessionId.begin());
        session().channel = 2;
    }
    SessionInfo& session() { return device_.pane.session; }
    void model(const char* code) {
        session().productId = {};
        std::copy(code, code + 4, session().productId.begin());
    }
    bool run(std::string reply, LiveViewLayout* view) {
        device_.answer(std::move(reply));
        return negotiate(device_.pane, view, modelKnown_);
    }

    testing::ScriptedDevice device_;
    RecordingMessageSink messages_;
    ScopedMessageSink scope_{messages_};
    AutoResetEvent modelKnown_;
    RecordingLayout single_{0};
    RecordingLayout quad_{-1};
};

TEST_F(NegotiationTest, SlaveCountsOutsideTheTable) {
    model("R5NS");
    session().userLevel = 99;
    ASSERT_TRUE(run("200 OK SLAVENUM=0;USERLEVEL=25;", &single_));
    EXPECT_TRUE(session().channelTable.empty());
    EXPECT_EQ(session().slaveCount, 0);
    EXPECT_EQ(session().userLevel, 99);  // 25 maps to no level

    ASSERT_TRUE(run("200 OK SLAVENUM=-3;", &single_));
    EXPECT_TRUE(session().channelTable.empty());

    // More slaves than the table holds: the records that fit are read.
    std::string many = "200 OK SLAVENUM=20;";
    for (int i = 1; i <= 20; ++i) {
        many += "SID=" + std::to_string(i) + ";STYPE=1;SPROTOCOL=2;";
    }
    ASSERT_TRUE(run(many, &single_));
    EXPECT_EQ(session().slaveCount, 16);
    ASSERT_EQ(session().channelTable.size(), ChannelTable::kMaxRecords);
    EXPECT_EQ(session().channelTable.at(15)->id, 16);
}

TEST_F(NegotiationTest, DeviceInfoTakesAUsableStreamPortAndZeroesTheSecondRecord) {
    model("Q8LC");
    ASSERT_TRUE(run("200 OK Device-ID0=12;Device-Type0=8;Stream-Port=4321;ExtraOperation-Mode=1;",
                    &single_));
    EXPECT_EQ(session().streamPort, 4321);
    EXPECT_EQ(session().channelCount, 2);
    ASSERT_EQ(session().channelTable.size(), 2u);
    EXPECT_EQ(session().channelTable.at(0)->id, 12);
    EXPECT_EQ(session().channelTable.at(1)->id, 0);
    EXPECT_EQ(session().channelTable.at(1)->type, 0);
    // Classes 6 to 8 choose no layout by the device type.
    EXPECT_EQ(single_.calls(), (Calls{"PresetTabs", "AvButton"}));

    model("Q8LA");
    for (const char* port : {"Stream-Port=0;", "Stream-Port=-5;", ""}) {
        SCOPED_TRACE(port);
        session().streamPort = device_.port();
        ASSERT_TRUE(run(std::string("200 OK ") + port + "ExtraOperation-Mode=2;", nullptr));
        EXPECT_EQ(session().streamPort, device_.port());
    }
}

TEST_F(NegotiationTest, MpegOnlyDeviceFailsAfterASuccessfulExchange) {
    model("Q8LB");
    for (const char* mode : {"ExtraOperation-Mode=0;", ""}) {  // a missing mode reads as 0
        SCOPED_TRACE(mode);
        messages_.clear();
        device_.repaints.count = 0;
        session().keepRetrying = true;
        session().streamPort = device_.port();
        EXPECT_FALSE(run(std::string("200 OK Stream-Port=4000;") + mode, &single_));
        EXPECT_EQ(messages_.messages(), Calls{"The Mpeg4 Only"});
        EXPECT_EQ(device_.repaints.count, 1);
        EXPECT_TRUE(session().keepRetrying);
        EXPECT_FALSE(device_.pane.controlLink.isOpen());
    }
}

TEST_F(NegotiationTest, ClassOneLayoutFollowsTheDeviceType) {
    model("R3P;");
    const std::pair<int, Calls> cases[] = {
        {0, {"AvButton", "Plain"}},   {1, {"AvButton", "Plain"}},
        {7, {"AvButton", "Four0"}},   {5, {"AvButton", "Nine"}},
        {6, {"AvButton", "Sixteen"}}, {18, {"AvButton", "PresetTabs"}},
        {26, {"AvButton", "PresetTabs"}}, {25, {"AvButton"}},
    };
    for (const auto& [type, calls] : cases) {
        SCOPED_TRACE(type);
        RecordingLayout view(1);
        ASSERT_TRUE(run("200 OK Device-ID0=1;Device-Type0=" + std::to_string(type) +
                            ";ExtraOperation-Mode=1;",
                        &view));
        EXPECT_EQ(view.calls(), calls);
    }
}

TEST_F(NegotiationTest, MasterListUsesChannelOneAndReadsUserLevelAfterTheRecords) {
    model("R3PT");
    channelMenuWanted = false;
    ASSERT_TRUE(run("200 OK USERLEVEL=30;MASTERNUM=2;MID=4;MTYPE=25;MID=5;MTYPE=6;USERLEVEL=10;",
                    &single_));
    EXPECT_EQ(session().deviceClass, 50);
    EXPECT_TRUE(channelMenuWanted);
    EXPECT_EQ(session().channel, 1);
    EXPECT_EQ(session().userLevel, 20);
    EXPECT_EQ(session().channelCount, 2);
    EXPECT_EQ(session().channelTable.at(0)->id, 4);
    EXPECT_EQ(session().channelTable.at(1)->type, 6);
    EXPECT_EQ(single_.calls(), Calls{"PresetTabs"});  // by channel 1's type, 25
    EXPECT_EQ(device_.log.requests(), Calls{request::streamLong(kId, 1, "127.0.0.1")});

    RecordingLayout view(0);
    ASSERT_TRUE(run("200 OK MASTERNUM=1;MID=1;MTYPE=3;", &view));
    EXPECT_EQ(view.calls(), Calls{"Four0"});
    RecordingLayout none(0);
    ASSERT_TRUE(run("200 OK MASTERNUM=0;", &none));  // no record for the channel
    EXPECT_TRUE(none.calls().empty());
}

TEST_F(NegotiationTest, TheQuadGetsNoLayoutCalls) {
    const std::pair<const char*, const char*> cases[] = {
        {"R5NP", "SLAVENUM=0;"},
        {"Q7KD", ""},
        {"R3P;", "Device-Type0=5;ExtraOperation-Mode=1;"},
        {"Q8LC", "ExtraOperation-Mode=1;"},
        {"R3PT", "MASTERNUM=1;MID=1;MTYPE=5;"},
    };
    for (const auto& [code, fields] : cases) {
        SCOPED_TRACE(code);
        model(code);
        ASSERT_TRUE(run(std::string("200 OK ") + fields, &quad_));
    }
    EXPECT_TRUE(quad_.calls().empty());
}

TEST_F(NegotiationTest, UnknownModelFailsSilentlyButIsStillSignalled) {
    for (const char* code : {"r3pt", "ZZZZ"}) {
        SCOPED_TRACE(code);
        model(code);
        session().deviceClass = 3;  // left from an earlier connection
        EXPECT_FALSE(run("200 OK SLAVENUM=0;", &single_));
        EXPECT_TRUE(modelKnown_.poll());
        EXPECT_EQ(session().deviceClass, 3);
    }
    EXPECT_TRUE(messages_.messages().empty());
    EXPECT_TRUE(device_.log.requests().empty());
    EXPECT_TRUE(single_.calls().empty());
}

// Login and negotiation against the simulated device of each class.
class SimulatedDeviceTest : public ::testing::Test {
protected:
    // Starts `config`'s device and points the pane at it; false when it cannot.
    bool start(devsim::DeviceConfig config) {
        device_ = std::make_unique<devsim::SimulatedDevice>(std::move(config));
        if (!device_->start()) return false;
        SessionInfo& s = pane_.session;
        s.host = u"127.0.0.1";
        s.devicePort = device_->port();
        s.streamPort = device_->port();
        s.localAddress = "127.0.0.1";
        s.userName = u"admin";
        s.password = u"velum";
        return true;
    }
    bool connect(LiveViewLayout* view) {
        return login(pane_) && negotiate(pane_, view, modelKnown_);
    }

    std::unique_ptr<devsim::SimulatedDevice> device_;
    PaneConnection pane_;
    AutoResetEvent modelKnown_;
    RecordingMessageSink messages_;
    ScopedMessageSink scope_{messages_};
};

TEST_F(SimulatedDeviceTest, EveryClassLogsInAndNegotiates) {
    const std::pair<int, Calls> cases[] = {
        {1, {"AvButton", "Plain"}}, {3, {"DvrTabs"}},
        {4, {"Plain"}},             {6, {"PresetTabs", "AvButton"}},
        {7, {"PresetTabs", "AvButton"}}, {8, {"PresetTabs", "AvButton"}},
        {50, {}},
    };
    for (const auto& [deviceClass, calls] : cases) {
        SCOPED_TRACE(deviceClass);
        devsim::DeviceConfig config;
        config.deviceClass = deviceClass;
        ASSERT_TRUE(start(config)) << device_->lastError();
        RecordingLayout view(0);
        ASSERT_TRUE(connect(&view));
        EXPECT_TRUE(modelKnown_.poll());
        EXPECT_EQ(pane_.session.productIdText(), device_->productId());
        EXPECT_EQ(pane_.session.sessionIdText().size(), 30u);
        EXPECT_EQ(pane_.session.deviceClass, deviceClass);
        if (deviceClass != 50) {  // class 50 follows its channel type, tested below
            EXPECT_EQ(view.calls(), calls);
        }
        EXPECT_EQ(pane_.session.streamPort, device_->port());
        EXPECT_TRUE(messages_.messages().empty());
        device_->stop();
    }
}

TEST_F(SimulatedDeviceTest, RecordersAnnounceTheirChannelsAndUserLevel) {
    for (int deviceClass : {3, 50}) {
        SCOPED_TRACE(deviceClass);
        devsim::DeviceConfig config;
        config.deviceClass = deviceClass;
        config.userLevel = 10;
        config.channels = {{1, 5, 2}, {2, 9, 3}, {3, 0, 4}};
        ASSERT_TRUE(start(config)) << device_->lastError();
        RecordingLayout view(0);
        ASSERT_TRUE(connect(&view));
        const SessionInfo& s = pane_.session;
        EXPECT_EQ(s.userLevel, 20);
        ASSERT_EQ(s.channelTable.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(s.channelTable.at(i)->id, config.channels[i].id);
            EXPECT_EQ(s.channelTable.at(i)->type, config.channels[i].type);
            EXPECT_EQ(s.channelTable.at(i)->protocol,
                      deviceClass == 3 ? config.channels[i].protocol : 0);
        }
        EXPECT_EQ(deviceClass == 3 ? s.slaveCount : s.channelCount, 3);
        // Class 50 shows channel 1, whose type 5 asks for the nine-channel layout.
        EXPECT_EQ(view.calls(), deviceClass == 3 ? Calls{"DvrTabs"} : Calls{"Nine"});
        device_->stop();
    }
}

TEST_F(SimulatedDeviceTest, PacketStreamDeviceNamesItsStreamPortAndType) {
    devsim::DeviceConfig config;
    config.deviceClass = 1;
    config.separateStreamPort = true;
    config.deviceType = 9;
    config.deviceId = 4;
    ASSERT_TRUE(start(config)) << device_->lastError();
    RecordingLayout view(0);
    ASSERT_TRUE(connect(&view));
    EXPECT_NE(device_->streamPort(), device_->port());
    EXPECT_EQ(pane_.session.streamPort, device_->streamPort());
    EXPECT_EQ(pane_.session.channelTable.at(0)->id, 4);
    EXPECT_EQ(view.calls(), (Calls{"AvButton", "Four0"}));
}

TEST_F(SimulatedDeviceTest, RefusalsAndMpegOnlyDevices) {
    struct Case {
        const char* what;
        devsim::DeviceConfig config;
        std::string message;
    };
    devsim::DeviceConfig refused;
    refused.faults.refuseLogin = true;
    devsim::DeviceConfig wrongUser;
    wrongUser.userName = "someone";
    wrongUser.loginRefusal = "202 ERROR";
    devsim::DeviceConfig garbage;
    garbage.faults.reply = devsim::ReplyFault::Garbage;
    garbage.faults.replyPath = "/Login.cgi";
    devsim::DeviceConfig mpeg;
    mpeg.deviceClass = 7;
    mpeg.extraOperationMode = 0;
    const Case cases[] = {{"refused", refused, "Too many users login"},
                          {"wrong user", wrongUser, "There are too many users"},
                          {"garbage", garbage, "No support the device !!"},
                          {"MPEG-4 only", mpeg, "The Mpeg4 Only"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        messages_.clear();
        ASSERT_TRUE(start(c.config)) << device_->lastError();
        EXPECT_FALSE(connect(nullptr));
        EXPECT_EQ(messages_.messages(), Calls{c.message});
        device_->stop();
    }
}

}  // namespace
}  // namespace tess
