#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ScriptedDevice.h"
#include "SimulatedDevice.h"
#include "protocol/CgiExchange.h"
#include "protocol/Login.h"
#include "protocol/Negotiation.h"
#include "protocol/Requests.h"
#include "ptz/PtzCommands.h"
#include "ptz/PtzRecord.h"

namespace tess::ptz {
namespace {

using devsim::ChannelInfo;
using devsim::DeviceConfig;
using devsim::Rs485Record;
using devsim::SimulatedDevice;

constexpr std::string_view kLocalAddress = "127.0.0.1";

// Commands run as the pane's command worker runs them, against a simulated
// device that the test logged in to and negotiated with.
class PtzCommandsTest : public ::testing::Test {
protected:
    void connect(DeviceConfig config) {
        device_ = std::make_unique<SimulatedDevice>(std::move(config));
        ASSERT_TRUE(device_->start()) << device_->lastError();
        const LoginData account{u"127.0.0.1", u"admin", u"velum", device_->port(), u"Camera"};
        facts_ = {};
        facts_.host = account.host;
        facts_.devicePort = facts_.streamPort = account.devicePort;
        LoginIdentity identity;
        ASSERT_EQ(login(link_, account, kLocalAddress, identity), RequestResult::Ok);
        facts_.sessionId = identity.sessionId;
        facts_.productId = identity.productId;
        ASSERT_TRUE(identifyModel(facts_));
        ASSERT_EQ(negotiate(link_, kLocalAddress, facts_), RequestResult::Ok);
    }
    CommandOutcome run(const DeviceCommand& command) {
        CommandContext context{facts_, kLocalAddress, link_, memory_};
        return command(context);
    }
    std::vector<std::vector<uint8_t>> recordsSent() {
        std::vector<std::vector<uint8_t>> bytes;
        for (const Rs485Record& record : device_->state().records) bytes.push_back(record.bytes);
        return bytes;
    }
    // The request lines of the RS485Cmd.cgi requests, oldest first.
    std::vector<std::string> commandLines() {
        std::vector<std::string> lines;
        for (const std::string& request : device_->log().requests()) {
            if (request.find("/RS485Cmd.cgi") != std::string::npos) {
                lines.push_back(request.substr(0, request.find(" HTTP/1.1")));
            }
        }
        return lines;
    }
    std::string session() const { return std::string(facts_.sessionIdText()); }
    static std::vector<uint8_t> bytesOf(const std::optional<PtzRecord>& record) {
        return {record->view().begin(), record->view().end()};
    }

    std::unique_ptr<SimulatedDevice> device_;
    SocketLink link_;
    SessionFacts facts_;
    CommandMemory memory_;
};

using Records = std::vector<std::vector<uint8_t>>;
using Lines = std::vector<std::string>;

// The device keeps its last 64 records.
Records lastKept(const Records& sent) {
    return {sent.end() - std::min<std::ptrdiff_t>(64, std::ssize(sent)), sent.end()};
}

// Every template record, D0 and Pelco, in the Command form (class 1 cameras of
// both kinds) and in the channel forms (a class 50 recorder's two channels).
TEST_F(PtzCommandsTest, EveryTemplateRecordReachesTheDeviceByteForByte) {
    DeviceConfig recorder;
    recorder.deviceClass = 50;
    recorder.channels = {ChannelInfo{5, 8, 0}, ChannelInfo{9, 25, 0}};
    connect(recorder);
    const uint8_t level = static_cast<uint8_t>(facts_.userLevel);
    Records expected;
    for (int code = 0; code < kActionCount; ++code) {
        facts_.channel = 1;
        EXPECT_EQ(run(ptzCommand(code)).result, RequestResult::Ok) << code;
        if (auto record = actionRecord(code, Protocol::D0, Form::Channel, 5, level)) {
            expected.push_back(bytesOf(record));
        }
        facts_.channel = 2;  // Pelco channel form: the address of record 1
        EXPECT_EQ(run(ptzCommand(code)).result, RequestResult::Ok) << code;
        if (auto record = actionRecord(code, Protocol::Pelco, Form::PelcoChannel, 9, level)) {
            expected.push_back(bytesOf(record));
        }
    }
    EXPECT_EQ(recordsSent(), lastKept(expected));
    const Lines lines = commandLines();
    EXPECT_EQ(lines.front(), "GET /RS485Cmd.cgi?Control=R5NS&CH=0&MASTER=1&SessionID=" + session());
    EXPECT_EQ(lines[1],
              "GET /RS485Cmd.cgi?Control=R5NS&CH=1&PELOCO=1&PROTOCAL=PELCO&MASTER=1"
              "&SessionID=" +
                  session());
    EXPECT_EQ(device_->state().rejectedRequests, 0);

    for (uint8_t type : {8, 18}) {
        SCOPED_TRACE(int(type));
        DeviceConfig camera;
        camera.deviceClass = 1;
        camera.deviceType = type;
        camera.deviceId = 3;
        connect(camera);
        const Protocol protocol = type == 8 ? Protocol::D0 : Protocol::Pelco;
        Records sent;
        for (int code = 0; code < kActionCount; ++code) {
            run(ptzCommand(code));
            if (auto record = actionRecord(code, protocol, Form::Command, 3, 0)) {
                sent.push_back(bytesOf(record));
                if (protocol == Protocol::Pelco && code != kActionStop) {
                    sent.push_back(
                        bytesOf(actionRecord(kActionStop, protocol, Form::Command, 3, 0)));
                }
            }
        }
        EXPECT_EQ(recordsSent(), lastKept(sent));
        const auto up = actionRecord(16, protocol, Form::Command, 3, 0);
        const Lines lines = commandLines();
        EXPECT_NE(
            std::find(lines.begin(), lines.end(),
                      "GET /RS485Cmd.cgi?Command=" + up->hexText() + "&SessionID=" + session()),
            lines.end());
        EXPECT_EQ(device_->state().rejectedRequests, 0);
    }
}

// Classes 6 to 8 send the D0 command and then follow the class 1 rule for
// the camera type of record 0; the Pelco stop follows only a command the
// device took, never a stop, and an empty record sends nothing at all.
TEST_F(PtzCommandsTest, CameraTypesDecideTheRequestsOfAButton) {
    struct Case {
        int deviceClass;
        int type;
        int code;
        size_t records;
    };
    const Case cases[] = {
        {6, 0, 16, 1},  {6, 8, 16, 2},  {7, 18, 16, 3}, {8, 18, kActionStop, 1}, {1, 18, 21, 0},
        {1, 18, 16, 2}, {1, 26, 16, 0}, {1, 8, 22, 1},  {4, 8, 16, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.deviceClass) + "/" + std::to_string(c.type) + "/" +
                     std::to_string(c.code));
        DeviceConfig config;
        config.deviceClass = c.deviceClass;
        config.deviceType = c.type;
        connect(config);
        EXPECT_EQ(run(ptzCommand(c.code)).result, RequestResult::Ok);
        EXPECT_EQ(recordsSent().size(), c.records);
    }
}

// A reply without "200 OK" is a failure of the command, yet the next request
// of the command still goes; a refused Pelco command gets no stop.
TEST_F(PtzCommandsTest, RefusedRequestsKeepTheRestOfTheCommandButNotTheStop) {
    DeviceConfig config;
    config.deviceClass = 6;
    config.deviceType = 18;
    config.faults.reply = devsim::ReplyFault::Garbage;
    config.faults.replyPath = "/RS485Cmd.cgi";
    connect(config);
    EXPECT_EQ(run(ptzCommand(16)).result, RequestResult::ReplyError);
    EXPECT_EQ(commandLines().size(), 2u);  // D0, then Pelco; no stop

    facts_.devicePort = 1;  // nothing listens there
    EXPECT_EQ(run(ptzCommand(16)).result, RequestResult::NetworkFailed);
    EXPECT_EQ(commandLines().size(), 2u);
}

TEST_F(PtzCommandsTest, RecorderChannelsChooseTheFormAndTheAddress) {
    DeviceConfig recorder;
    recorder.deviceClass = 3;
    recorder.channels = {ChannelInfo{11, 1, 0}, ChannelInfo{12, 1, 1}, ChannelInfo{13, 0, 0},
                         ChannelInfo{14, 1, 2}, ChannelInfo{15, 1, 0}};
    connect(recorder);
    const uint8_t level = static_cast<uint8_t>(facts_.userLevel);

    // No channel chosen yet, a channel without a camera, an unknown protocol,
    // a channel past the table: nothing.
    for (int32_t channel : {0, 3, 4, 6, -38}) {
        facts_.channel = channel;
        run(ptzCommand(16));
    }
    EXPECT_TRUE(recordsSent().empty());

    facts_.channel = 5;  // D0 in the Channel form, the address of record 0
    run(ptzCommand(16));
    facts_.channel = 2;  // Pelco in its channel form, the address of record 1
    run(ptzCommand(17));
    EXPECT_EQ(recordsSent(),
              (Records{bytesOf(actionRecord(16, Protocol::D0, Form::Channel, 11, level)),
                       bytesOf(actionRecord(17, Protocol::Pelco, Form::PelcoChannel, 12, level))}));
    EXPECT_EQ(commandLines(),
              (Lines{"GET /RS485Cmd.cgi?Control=R5NS&CH=4&MASTER=0&SessionID=" + session(),
                     "GET /RS485Cmd.cgi?Control=R5NS&CH=1&PELOCO=1&PROTOCAL=PELCO&MASTER=0"
                     "&SessionID=" +
                         session()}));
}

// Class 3 takes the key code itself and makes key - 54 its channel once the
// device took it; classes 1 and 50 take the key character.
TEST_F(PtzCommandsTest, KeysByClass) {
    DeviceConfig recorder;
    recorder.deviceClass = 3;
    connect(recorder);
    EXPECT_EQ(run(keyCommand(64)).channel, 10);
    EXPECT_EQ(run(keyCommand(16)).channel, -38);  // a split key: no channel
    EXPECT_EQ(recordsSent(), (Records{{1, 0x40, 1, 0x32}, {1, 16, 1, 0x32}}));
    EXPECT_EQ(commandLines().front(),
              "GET /RS485Cmd.cgi?Control=R5NS&MASTER=1&SessionID=" + session());

    DeviceConfig master;
    master.deviceClass = 50;
    master.channels = {ChannelInfo{5, 8, 0}, ChannelInfo{9, 25, 0}};
    connect(master);
    facts_.channel = 0;
    run(keyCommand(64));  // no channel: no record to address
    facts_.channel = 2;
    EXPECT_FALSE(run(keyCommand(64)).channel);
    EXPECT_EQ(recordsSent(), (Records{{5, 0xFF, 0xC0, 9, 'A', 0x7F, 1, 0x32}}));
    EXPECT_EQ(commandLines(),
              Lines{"GET /RS485Cmd.cgi?Control=R5NS&CH=1&MASTER=1&SessionID=" + session()});

    DeviceConfig camera;
    camera.deviceClass = 1;
    camera.deviceId = 1;
    connect(camera);
    run(keyCommand(57));
    EXPECT_EQ(commandLines(),
              Lines{"GET /RS485Cmd.cgi?Command=05ffc001337f0123&SessionID=" + session()});
}

TEST_F(PtzCommandsTest, TapsOnGridCamerasSendTheirCell) {
    DeviceConfig camera;
    camera.deviceClass = 1;
    camera.deviceType = 8;
    camera.deviceId = 4;
    connect(camera);
    run(aimCommand({100, 50, false, 0, 0, 240, 180}));
    run(aimCommand({240, 165, false, 0, 0, 240, 165}));  // the far corner, clamped
    EXPECT_EQ(recordsSent(),
              (Records{bytesOf(aimCellRecord(4, 0, 0x16)), bytesOf(aimCellRecord(4, 0, 0x5F))}));
    EXPECT_EQ(device_->state().records.back().cell, 0x5F);

    DeviceConfig recorder;
    recorder.deviceClass = 3;
    recorder.channels = {ChannelInfo{11, 1, 0}, ChannelInfo{12, 1, 1}, ChannelInfo{13, 0, 0}};
    connect(recorder);
    const uint8_t level = static_cast<uint8_t>(facts_.userLevel);
    facts_.channel = 3;  // no camera on it
    run(aimCommand({0, 0, false, 0, 0, 240, 165}));
    facts_.channel = 2;  // the Pelco channel form carries the same D0 record
    run(aimCommand({0, 0, false, 0, 0, 240, 165}));
    EXPECT_EQ(recordsSent(), Records{bytesOf(aimCellRecord(12, level, 0))});
    EXPECT_EQ(commandLines(),
              Lines{"GET /RS485Cmd.cgi?Control=R5NS&CH=1&PELOCO=1&PROTOCAL=PELCO&MASTER=0"
                    "&SessionID=" +
                    session()});
}

// Read the location, aim with the lens model, write the new location.
TEST_F(PtzCommandsTest, PositionReportingCameraIsReadAimedAndWritten) {
    DeviceConfig camera;
    camera.deviceClass = 7;
    connect(camera);
    CommandReply reply;
    ASSERT_EQ(sendCgiRequest(link_, facts_.host, facts_.devicePort,
                             request::setCameraLocation(16000, 4000, 32161, 0,
                                                        facts_.sessionIdText(), kLocalAddress),
                             {}, reply),
              RequestResult::Ok);
    EXPECT_EQ(run(aimCommand({180, 90, false, 0, 0, 240, 180})).result, RequestResult::Ok);
    const std::vector<std::string> requests = device_->log().requests();
    const std::string written = requests.back().substr(0, requests.back().find(" HTTP/1.1"));
    EXPECT_EQ(written,
              "GET /SetCameraInfo.cgi?LocationP=17655&LocationT=3864&LocationZ=32161"
              "&LocationF=0&MOD=1&SessionID=" +
                  session());
    EXPECT_EQ(device_->state().pan, 17655);
    EXPECT_EQ(device_->state().tilt, 3864);
}

// A location is written only once every field of it was read in this
// session; a field a later reply lacks keeps what was read before.
TEST(PtzLocationAim, WritesOnlyWhatWasReadInThisSession) {
    testing::ScriptedDevice device;
    ASSERT_TRUE(device.started());
    device.facts.deviceClass = 8;
    std::copy_n("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", 30, device.facts.sessionId.begin());
    CommandMemory memory;
    auto aimOnce = [&] {
        CommandContext context{device.facts, kLocalAddress, device.link, memory};
        return aimCommand({120, 90, false, 0, 0, 240, 180})(context);
    };
    auto writes = [&] {
        int count = 0;
        for (const std::string& request : device.log.requests())
            if (request.find("SetCameraInfo.cgi") != std::string::npos) ++count;
        return count;
    };

    device.answer("HTTP/1.1 200 OK\r\nLOCATION-PAN=17000;LOCATION-TILT=9000;\r\n");
    aimOnce();
    EXPECT_EQ(writes(), 0);  // zoom and focus never read
    device.answer("HTTP/1.1 200 OK\r\nno location here\r\n");
    aimOnce();
    EXPECT_EQ(writes(), 0);
    device.answer("HTTP/1.1 200 OK\r\nLOCATION-ZOOM=0;LOCATION-FOCUS=-1;\r\n");
    aimOnce();
    ASSERT_EQ(writes(), 1);
    EXPECT_NE(device.log.requests().back().find("LocationZ=0&LocationF=65535&MOD=1"),
              std::string::npos);

    device.answer("HTTP/1.1 404 Not Found\r\n");  // the read fails: no write
    aimOnce();
    EXPECT_EQ(writes(), 1);
}

}  // namespace
}  // namespace tess::ptz
