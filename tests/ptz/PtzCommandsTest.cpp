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
#include "ptz/Optics.h"
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
    // The RS-485 records the device took, as hexadecimal text, oldest first.
    std::vector<std::string> recordsSent() {
        std::vector<std::string> sent;
        for (const Rs485Record& record : device_->state().records) {
            static constexpr char kDigits[] = "0123456789abcdef";
            std::string text;
            for (uint8_t byte : record.bytes) text += {kDigits[byte >> 4], kDigits[byte & 15]};
            sent.push_back(text);
        }
        return sent;
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

    std::unique_ptr<SimulatedDevice> device_;
    SocketLink link_;
    SessionFacts facts_;
    CommandMemory memory_;
};

using Records = std::vector<std::string>;
using Lines = std::vector<std::string>;

// Every template record as camera 3 at user level 60 gets it in the Command
// form: 07, D0 address level op data1 data2 sum(D0..data2), or FF address
// cmd1 cmd2 data1 data2 sum(address..data2), then trailer 1 (14 for the Max
// zooms) and trailer 2 (23, but 32 for the D0 Max zooms). "": nothing is sent.
struct TemplateBytes {
    const char* d0;
    const char* pelco;
};
constexpr TemplateBytes kCommandForm[kActionCount] = {
    {"07d0033c5000005f0123", "07ff03000701000b0123"},  // presets 1 ... 16
    {"07d0033c500100600123", "07ff03000702000c0123"},
    {"07d0033c500200610123", "07ff03000703000d0123"},
    {"07d0033c500300620123", "07ff03000704000e0123"},
    {"07d0033c500400630123", "07ff03000705000f0123"},
    {"07d0033c500500640123", "07ff0300070600100123"},
    {"07d0033c500600650123", "07ff0300070700110123"},
    {"07d0033c500700660123", "07ff0300070800120123"},
    {"07d0033c500800670123", "07ff0300070900130123"},
    {"07d0033c500900680123", "07ff0300070a00140123"},
    {"07d0033c500a00690123", "07ff0300070b00150123"},
    {"07d0033c500b006a0123", "07ff0300070c00160123"},
    {"07d0033c500c006b0123", "07ff0300070d00170123"},
    {"07d0033c500d006c0123", "07ff0300070e00180123"},
    {"07d0033c500e006d0123", "07ff0300070f00190123"},
    {"07d0033c500f006e0123", "07ff03000710001a0123"},
    {"07d0033c4befff480123", "07ff03000820204b0123"},  // Up
    {"07d0033c4bdfff380123", "07ff0300102020530123"},  // Down
    {"07d0033c4bbfff180123", "07ff0300042020470123"},  // Left
    {"07d0033c4b7fffd80123", "07ff0300022020450123"},  // Right
    {"", "07ff0300000000030123"},                      // stop
    {"07d0033c4bffef480123", ""},                      // Auto
    {"07d0033c4bfeff570123", "07ff0300200000230123"},  // ZoomIn
    {"07d0033c4bfdff560123", "07ff0300400000430123"},  // ZoomOut
    {"07d0033c4bfeff571432", "07ff0300202020631423"},  // ZoomInMax
    {"07d0033c4bfdff561432", "07ff0300402020831423"},  // ZoomOutMax
    {"07d0033c4bf7ff500123", "07ff0301000000040123"},  // FocusIn
    {"07d0033c4bfbff540123", "07ff0300800000830123"},  // FocusOut
};

// The channel forms keep trailer 2 at 32.
std::string inChannelForm(std::string record) {
    return record.replace(record.size() - 2, 2, "32");
}

// Every code to class 1 cameras of both kinds (the Command form, a Pelco
// command followed by the stop) and to a class 50 recorder's two channels
// (D0 in the Channel form, Pelco in its channel form).
TEST_F(PtzCommandsTest, EveryTemplateRecordReachesTheDeviceByteForByte) {
    for (uint8_t type : {8, 18}) {
        SCOPED_TRACE(int(type));
        DeviceConfig camera;
        camera.deviceClass = 1;
        camera.deviceType = type;
        camera.deviceId = 3;
        connect(camera);
        facts_.userLevel = 60;
        Records expected;
        for (int code = 0; code < kActionCount; ++code) {
            run(ptzCommand(code));
            const std::string record = type == 8 ? kCommandForm[code].d0 : kCommandForm[code].pelco;
            if (record.empty()) continue;
            expected.push_back(record);
            if (type == 18 && code != kActionStop)
                expected.push_back(kCommandForm[kActionStop].pelco);
        }
        EXPECT_EQ(recordsSent(), expected);
        EXPECT_EQ(commandLines().front(),
                  "GET /RS485Cmd.cgi?Command=" + expected.front() + "&SessionID=" + session());
        EXPECT_EQ(device_->state().rejectedRequests, 0);
    }

    DeviceConfig recorder;
    recorder.deviceClass = 50;  // user level 60
    recorder.channels = {ChannelInfo{3, 8, 0}, ChannelInfo{3, 25, 0}};
    connect(recorder);
    Records expected;
    for (int code = 0; code < kActionCount; ++code) {
        for (int32_t channel : {1, 2}) {
            facts_.channel = channel;
            EXPECT_EQ(run(ptzCommand(code)).result, RequestResult::Ok) << code;
            const std::string record =
                channel == 1 ? kCommandForm[code].d0 : kCommandForm[code].pelco;
            if (!record.empty()) expected.push_back(inChannelForm(record));
        }
    }
    EXPECT_EQ(recordsSent(), expected);
    const Lines lines = commandLines();
    EXPECT_EQ(lines.front(), "GET /RS485Cmd.cgi?Control=R5NS&CH=0&MASTER=1&SessionID=" + session());
    EXPECT_EQ(lines[1],
              "GET /RS485Cmd.cgi?Control=R5NS&CH=1&PELOCO=1&PROTOCAL=PELCO&MASTER=1"
              "&SessionID=" +
                  session());
    EXPECT_EQ(device_->state().rejectedRequests, 0);
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
    EXPECT_EQ(recordsSent(), (Records{"07d00b3c4befff500132", "07ff0c001020205c0132"}));
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
    EXPECT_EQ(recordsSent(), (Records{"01400132", "01100132"}));
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
    EXPECT_EQ(recordsSent(), Records{"05ffc009417f0132"});
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
    EXPECT_EQ(recordsSent(), (Records{"07d004005216003c0132", "07d00400525f00850132"}));
    EXPECT_EQ(device_->state().records.back().cell, 0x5F);

    DeviceConfig recorder;
    recorder.deviceClass = 3;
    recorder.channels = {ChannelInfo{11, 1, 0}, ChannelInfo{12, 1, 1}, ChannelInfo{13, 0, 0}};
    connect(recorder);
    facts_.channel = 3;  // no camera on it
    run(aimCommand({0, 0, false, 0, 0, 240, 165}));
    facts_.channel = 2;  // the Pelco channel form carries the same D0 record
    run(aimCommand({0, 0, false, 0, 0, 240, 165}));
    EXPECT_EQ(recordsSent(), Records{"07d00c3c5200006a0132"});
    EXPECT_EQ(commandLines(),
              Lines{"GET /RS485Cmd.cgi?Control=R5NS&CH=1&PELOCO=1&PROTOCAL=PELCO&MASTER=0"
                    "&SessionID=" +
                    session()});
}

// Read the location, aim with the lens model (and zoom by a drag), write the
// new location; values worked from the lens formulas.
TEST_F(PtzCommandsTest, PositionReportingCamerasAreReadAimedAndWritten) {
    struct Case {
        int deviceClass;
        CameraLocation location;
        AimGesture gesture;
        int pan, tilt, zoom;  // written
    };
    const Case cases[] = {
        {7, {16000, 4000, 32161, 0}, {180, 90, false, 0, 0, 240, 180}, 17655, 3864, 32161},
        // (150, 40) to (210, 100): R = 120 / tan(4509.8 pi / 32000) = 253.09; u, v = 60, -12;
        // X, Y, Z = -187.45, -60.00, 170.48; P = 32000 (pi + atan2(60, 187)) / 2pi = 17581.26;
        // T = 32000 atan2(170.48, 196.81) / 2pi = 3635.40; Z = G1(60 * 4509.8 / 240) = 32932
        {7, {16000, 4000, 32161, 0}, {180, 70, true, 150, 210, 240, 165}, 17581, 3635, 32932},
        // (200, 40) to (80, 80): R = 120 / tan(1585.51 pi / 32000) = 764.69; u, v = 20, -22;
        // X, Y, Z = -379.20, -407.49, 525.16; P = 32000 (pi + atan2(407, 379)) / 2pi = 20181.35;
        // T = 32000 atan2(525.16, 556.63) / 2pi = 3851.87; Z = G2(240 * 1585.51 / 120) = 3047
        {8, {20000, 4000, 8000, 7}, {140, 60, true, 200, 80, 240, 165}, 20181, 3851, 3047},
        // (90, 80) to (210, 120): pan, tilt 1616, 232 into the travel; R = 226.53; u, v = 30, 18;
        // X, Y, Z = -201.91, 68.82, 83.87; P = 16384 + 3800 (pi - atan2(68, 201)) / 2pi =
        // 18086.70; T = 32768 + 4880 atan2(83.87, 213.32) / 2pi = 33058.93; Z = G0(294.5) = 33313
        {6, {18000, 33000, 32768, 0}, {150, 100, true, 90, 210, 240, 165}, 18086, 33058, 33313},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pan);
        DeviceConfig camera;
        camera.deviceClass = c.deviceClass;
        connect(camera);
        const CameraLocation& at = c.location;
        CommandReply reply;
        ASSERT_EQ(sendCgiRequest(link_, facts_.host, facts_.devicePort,
                                 request::setCameraLocation(at.pan, at.tilt, at.zoom, at.focus,
                                                            facts_.sessionIdText(), kLocalAddress),
                                 {}, reply),
                  RequestResult::Ok);
        memory_ = {};
        EXPECT_EQ(run(aimCommand(c.gesture)).result, RequestResult::Ok);
        const std::string written = device_->log().requests().back();
        EXPECT_EQ(written.substr(0, written.find(" HTTP/1.1")),
                  "GET /SetCameraInfo.cgi?LocationP=" + std::to_string(c.pan) + "&LocationT=" +
                      std::to_string(c.tilt) + "&LocationZ=" + std::to_string(c.zoom) +
                      "&LocationF=" + std::to_string(at.focus) + "&MOD=1&SessionID=" + session());
    }
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
