#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ScriptedDevice.h"
#include "SimulatedDevice.h"
#include "protocol/Login.h"
#include "protocol/ModelCodes.h"
#include "protocol/Negotiation.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

using Calls = std::vector<std::string>;

constexpr char kId[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";

class NegotiationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.started());
        std::copy(std::begin(kId), std::end(kId), facts().sessionId.begin());
        facts().channel = 2;
    }
    SessionFacts& facts() { return device_.facts; }
    // Sets the product identifier and looks it up; true for a known model.
    bool model(const char* code) {
        facts().productId = {};
        std::copy(code, code + 4, facts().productId.begin());
        return identifyModel(facts());
    }
    RequestResult run(std::string reply) {
        device_.answer(std::move(reply));
        return negotiate(device_.link, testing::ScriptedDevice::kLocalAddress, facts());
    }

    testing::ScriptedDevice device_;
};

TEST_F(NegotiationTest, SlaveCountsOutsideTheTable) {
    ASSERT_TRUE(model("R5NS"));
    facts().userLevel = 99;
    ASSERT_EQ(run("200 OK SLAVENUM=0;USERLEVEL=25;"), RequestResult::Ok);
    EXPECT_TRUE(facts().channelTable.empty());
    EXPECT_EQ(facts().slaveCount, 0);
    EXPECT_EQ(facts().userLevel, 99);  // 25 maps to no level
    EXPECT_EQ(device_.log.requests(), Calls{request::streamLong(kId, 2, "127.0.0.1")});

    ASSERT_EQ(run("200 OK SLAVENUM=-3;"), RequestResult::Ok);
    EXPECT_TRUE(facts().channelTable.empty());

    // More slaves than the table holds: the records that fit are read.
    std::string many = "200 OK SLAVENUM=20;";
    for (int i = 1; i <= 20; ++i) {
        many += "SID=" + std::to_string(i) + ";STYPE=1;SPROTOCOL=2;";
    }
    ASSERT_EQ(run(many), RequestResult::Ok);
    EXPECT_EQ(facts().slaveCount, 16);
    ASSERT_EQ(facts().channelTable.size(), ChannelTable::kMaxRecords);
    EXPECT_EQ(facts().channelTable.at(15)->id, 16);
}

TEST_F(NegotiationTest, DeviceInfoTakesAUsableStreamPortAndZeroesTheSecondRecord) {
    ASSERT_TRUE(model("Q8LC"));
    ASSERT_EQ(run("200 OK Device-ID0=12;Device-Type0=8;Stream-Port=4321;ExtraOperation-Mode=1;"),
              RequestResult::Ok);
    EXPECT_EQ(facts().streamPort, 4321);
    EXPECT_EQ(facts().channelCount, 2);
    ASSERT_EQ(facts().channelTable.size(), 2u);
    EXPECT_EQ(facts().channelTable.at(0)->id, 12);
    EXPECT_EQ(facts().channelTable.at(0)->type, 8);
    EXPECT_EQ(facts().channelTable.at(1)->id, 0);
    EXPECT_EQ(facts().channelTable.at(1)->type, 0);

    ASSERT_TRUE(model("Q8LA"));
    for (const char* port : {"Stream-Port=0;", "Stream-Port=-5;", ""}) {
        SCOPED_TRACE(port);
        facts().streamPort = device_.port();
        ASSERT_EQ(run(std::string("200 OK ") + port + "ExtraOperation-Mode=2;"), RequestResult::Ok);
        EXPECT_EQ(facts().streamPort, device_.port());
    }
}

TEST_F(NegotiationTest, MpegOnlyDeviceFailsAfterASuccessfulExchange) {
    ASSERT_TRUE(model("Q8LB"));
    for (const char* mode : {"ExtraOperation-Mode=0;", ""}) {  // a missing mode reads as 0
        SCOPED_TRACE(mode);
        facts().streamPort = device_.port();
        EXPECT_EQ(run(std::string("200 OK Stream-Port=4000;") + mode), RequestResult::Mpeg4Only);
        EXPECT_FALSE(isRefusal(RequestResult::Mpeg4Only));
        EXPECT_FALSE(device_.link.isOpen());
    }
}

TEST_F(NegotiationTest, MasterListUsesChannelOneAndReadsUserLevelAfterTheRecords) {
    ASSERT_TRUE(model("R3PT"));
    EXPECT_EQ(facts().deviceClass, 50);
    ASSERT_EQ(run("200 OK USERLEVEL=30;MASTERNUM=2;MID=4;MTYPE=25;MID=5;MTYPE=6;USERLEVEL=10;"),
              RequestResult::Ok);
    EXPECT_EQ(facts().channel, 1);
    EXPECT_EQ(facts().userLevel, 20);
    EXPECT_EQ(facts().channelCount, 2);
    EXPECT_EQ(facts().channelTable.at(0)->id, 4);
    EXPECT_EQ(facts().channelTable.at(0)->type, 25);
    EXPECT_EQ(facts().channelTable.at(1)->type, 6);
    EXPECT_EQ(device_.log.requests(), Calls{request::streamLong(kId, 1, "127.0.0.1")});
}

TEST_F(NegotiationTest, UnknownModelKeepsTheClassAndSendsNothing) {
    for (const char* code : {"r3pt", "ZZZZ"}) {
        SCOPED_TRACE(code);
        facts().deviceClass = 3;  // left from an earlier connection
        EXPECT_FALSE(model(code));
        EXPECT_EQ(facts().deviceClass, 3);
    }
    facts().deviceClass = 0;
    EXPECT_EQ(run("200 OK SLAVENUM=0;"), RequestResult::UnknownModel);
    EXPECT_TRUE(device_.log.requests().empty());
}

// Login and negotiation against the simulated device of each class.
class SimulatedDeviceTest : public ::testing::Test {
protected:
    static constexpr std::string_view kLocalAddress = "127.0.0.1";

    // Starts `config`'s device; false when it cannot.
    bool start(devsim::DeviceConfig config) {
        device_ = std::make_unique<devsim::SimulatedDevice>(std::move(config));
        if (!device_->start()) return false;
        login_ = {u"127.0.0.1", u"admin", u"velum", device_->port(), u"Camera"};
        facts_ = {};
        facts_.host = login_.host;
        facts_.devicePort = device_->port();
        facts_.streamPort = device_->port();
        return true;
    }
    // Login, model and negotiation, as the connect thread runs them.
    RequestResult connect() {
        LoginIdentity identity;
        const RequestResult loggedIn = login(link_, login_, kLocalAddress, identity);
        if (loggedIn != RequestResult::Ok) return loggedIn;
        facts_.sessionId = identity.sessionId;
        facts_.productId = identity.productId;
        if (!identifyModel(facts_)) return RequestResult::UnknownModel;
        return negotiate(link_, kLocalAddress, facts_);
    }

    std::unique_ptr<devsim::SimulatedDevice> device_;
    SocketLink link_;
    LoginData login_;
    SessionFacts facts_;
};

TEST_F(SimulatedDeviceTest, EveryClassLogsInAndNegotiates) {
    for (int deviceClass : {1, 3, 4, 6, 7, 8, 50}) {
        SCOPED_TRACE(deviceClass);
        devsim::DeviceConfig config;
        config.deviceClass = deviceClass;
        ASSERT_TRUE(start(config)) << device_->lastError();
        ASSERT_EQ(connect(), RequestResult::Ok);
        EXPECT_EQ(facts_.productIdText(), device_->productId());
        EXPECT_EQ(facts_.sessionIdText().size(), 30u);
        EXPECT_EQ(facts_.deviceClass, deviceClass);
        EXPECT_EQ(facts_.streamPort, device_->port());
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
        ASSERT_EQ(connect(), RequestResult::Ok);
        EXPECT_EQ(facts_.userLevel, 20);
        ASSERT_EQ(facts_.channelTable.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(facts_.channelTable.at(i)->id, config.channels[i].id);
            EXPECT_EQ(facts_.channelTable.at(i)->type, config.channels[i].type);
            EXPECT_EQ(facts_.channelTable.at(i)->protocol,
                      deviceClass == 3 ? config.channels[i].protocol : 0);
        }
        EXPECT_EQ(deviceClass == 3 ? facts_.slaveCount : facts_.channelCount, 3);
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
    ASSERT_EQ(connect(), RequestResult::Ok);
    EXPECT_NE(device_->streamPort(), device_->port());
    EXPECT_EQ(facts_.streamPort, device_->streamPort());
    EXPECT_EQ(facts_.channelTable.at(0)->id, 4);
    EXPECT_EQ(facts_.channelTable.at(0)->type, 9);
}

TEST_F(SimulatedDeviceTest, RefusalsAndMpegOnlyDevices) {
    struct Case {
        const char* what;
        devsim::DeviceConfig config;
        RequestResult result;
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
    const Case cases[] = {{"refused", refused, RequestResult::TooManyLogins},
                          {"wrong user", wrongUser, RequestResult::TooManyUsers},
                          {"garbage", garbage, RequestResult::NotSupported},
                          {"MPEG-4 only", mpeg, RequestResult::Mpeg4Only}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(start(c.config)) << device_->lastError();
        EXPECT_EQ(connect(), c.result);
        device_->stop();
    }
}

}  // namespace
}  // namespace tess
