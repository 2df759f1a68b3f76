#include <gtest/gtest.h>

#include <string>

#include "LoopbackClient.h"
#include "SimulatedDevice.h"

namespace tess::devsim {
namespace {

using testing::LoopbackClient;

const std::string kHeaderLines =
    "HTTP/1.1\r\nAccept: */* \r\nAccept-Language: zh-tw\r\nAccept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322)\r\n"
    "Host: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n";

std::string loginRequest(const std::string& user, const std::string& password) {
    return "Get /Login.cgi?Username=" + user + "&Password=" + password + " " + kHeaderLines;
}

std::string get(const std::string& target) {
    return "GET " + target + " " + kHeaderLines;
}

// The body of a reply: what follows its empty line.
std::string bodyOf(const std::string& reply) {
    const size_t at = reply.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : reply.substr(at + 4);
}

std::string exchange(uint16_t port, const std::string& request) {
    LoopbackClient client(port);
    if (!client.connected() || !client.send(request)) return {};
    return client.readReply();
}

// Logs in and returns the 30-character session identifier.
std::string login(SimulatedDevice& device) {
    const std::string reply = exchange(device.port(), loginRequest("admin", "velum"));
    const size_t at = reply.find("Session-ID=");
    return at == std::string::npos ? std::string() : reply.substr(at + 11, 30);
}

TEST(DeviceLogin, GrantsAFreshSessionAndNamesTheModelOfEachClass) {
    const std::pair<int, const char*> models[] = {
        {1, "R3P;"}, {3, "R5NS"}, {4, "Q7KF"}, {6, "Q8LC"}, {7, "Q8LB"}, {8, "Q8LA"}, {50, "R3PT"}};
    for (const auto& [deviceClass, model] : models) {
        DeviceConfig config;
        config.deviceClass = deviceClass;
        config.loopFrames = 1;
        SimulatedDevice device(config);
        ASSERT_TRUE(device.start()) << device.lastError();
        const std::string first = exchange(device.port(), loginRequest("admin", "velum"));
        const std::string second = exchange(device.port(), loginRequest("admin", "velum"));
        EXPECT_NE(first.find("200 OK"), std::string::npos) << first;
        EXPECT_NE(first.find(std::string("Product-ID=") + model), std::string::npos) << first;
        const size_t at = first.find("Session-ID=");
        ASSERT_NE(at, std::string::npos);
        const std::string id = first.substr(at + 11, 30);
        EXPECT_EQ(
            id.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            std::string::npos);
        EXPECT_EQ(first[at + 41], ';');
        EXPECT_EQ(second.find(id), std::string::npos) << "every login gets its own session";
        EXPECT_EQ(device.state().sessions, 2);
        if (deviceClass == 6 || deviceClass == 1) {
            EXPECT_LT(device.port(), 10000);
        }
    }
}

TEST(DeviceLogin, RequestsArrivingInOneSegmentAreEachAnswered) {
    DeviceConfig config;
    config.loopFrames = 1;
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start());
    LoopbackClient client(device.port());
    ASSERT_TRUE(client.send(loginRequest("admin", "velum") + loginRequest("admin", "velum")));
    EXPECT_NE(client.readReply().find("Session-ID="), std::string::npos);
    EXPECT_NE(client.readReply().find("Session-ID="), std::string::npos);
    EXPECT_EQ(device.log().requests().size(), 2u);
    EXPECT_EQ(device.log().requests()[1], loginRequest("admin", "velum"));
}

TEST(DeviceLogin, RefusesWrongCredentialsWithTheConfiguredStatus) {
    DeviceConfig config;
    config.loopFrames = 1;
    config.userName = "a b&c";  // sent unescaped: blanks and "&" stay in the name
    config.loginRefusal = "202 ERROR";
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start());
    EXPECT_NE(exchange(device.port(), loginRequest("a b&c", "velum")).find("200 OK"),
              std::string::npos);
    const std::string refused = exchange(device.port(), loginRequest("a b&c", "wrong"));
    EXPECT_EQ(refused.rfind("HTTP/1.1 202 ERROR\r\n", 0), 0u) << refused;
    EXPECT_EQ(refused.find("Session-ID="), std::string::npos);
    EXPECT_EQ(exchange(device.port(), loginRequest("admin", "velum")).find("200 OK"),
              std::string::npos);
}

TEST(DeviceLogin, RefuseLoginFaultRefusesEvenTheRightCredentials) {
    DeviceConfig config;
    config.loopFrames = 1;
    config.faults.refuseLogin = true;
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start());
    const std::string reply = exchange(device.port(), loginRequest("admin", "velum"));
    EXPECT_NE(reply.find("201 ERR"), std::string::npos);
    EXPECT_EQ(reply.find("200 OK"), std::string::npos);
}

TEST(DeviceRequestStream, AnswersTheFieldsOfEachVariant) {
    struct Case {
        int deviceClass;
        std::vector<ChannelInfo> channels;
        std::string expected;
    };
    const Case cases[] = {
        {3,
         {{1, 1, 0}, {7, 2, 1}},
         "USERLEVEL=30;\r\nSLAVENUM=2;\r\nSID=1;\r\nSTYPE=1;\r\nSPROTOCOL=0;\r\n"
         "SID=7;\r\nSTYPE=2;\r\nSPROTOCOL=1;\r\n"},
        {50,
         {{1, 8, 0}, {2, 25, 0}},
         "MASTERNUM=2;\r\nMID=1;\r\nMTYPE=8;\r\nMID=2;\r\nMTYPE=25;\r\nUSERLEVEL=30;\r\n"},
        {4, {}, ""},
    };
    for (const Case& c : cases) {
        DeviceConfig config;
        config.deviceClass = c.deviceClass;
        config.channels = c.channels;
        config.loopFrames = 1;
        SimulatedDevice device(config);
        ASSERT_TRUE(device.start());
        const std::string reply = exchange(
            device.port(),
            get("/RequestStream.cgi?SessionID=" + login(device) + "&RES=1&QUA=1&CH=0&NEWHR=1"));
        EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
        EXPECT_EQ(bodyOf(reply), c.expected) << "class " << c.deviceClass;
    }
}

TEST(DeviceRequestStream, PacketStreamClassesAnnounceTheirStreamPort) {
    for (bool separate : {false, true}) {
        DeviceConfig config;
        config.deviceClass = 7;
        config.deviceId = 3;
        config.deviceType = 8;
        config.extraOperationMode = 0;
        config.separateStreamPort = separate;
        config.loopFrames = 1;
        SimulatedDevice device(config);
        ASSERT_TRUE(device.start());
        const std::string reply =
            exchange(device.port(), get("/RequestStream.cgi?SessionID=" + login(device)));
        ASSERT_LT(device.streamPort(), 10000);
        EXPECT_EQ(separate, device.streamPort() != device.port());
        EXPECT_EQ(bodyOf(reply), "Device-ID0=3;\r\nDevice-Type0=8;\r\nStream-Port=" +
                                     std::to_string(device.streamPort()) +
                                     ";\r\nExtraOperation-Mode=0;\r\n");
    }
}

TEST(DeviceRequestStream, UnknownSessionIsRefused) {
    DeviceConfig config;
    config.loopFrames = 1;
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start());
    const std::string reply =
        exchange(device.port(), get("/RequestStream.cgi?SessionID=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"));
    EXPECT_EQ(reply.find("200 OK"), std::string::npos);
    EXPECT_EQ(device.state().rejectedRequests, 1);
}

TEST(DeviceReplyFaults, EachFaultSpoilsOnlyItsPath) {
    const std::pair<ReplyFault, std::string> faults[] = {
        {ReplyFault::Err201, "HTTP/1.1 201 ERR\r\n"},
        {ReplyFault::Error202, "HTTP/1.1 202 ERROR\r\n"},
        {ReplyFault::Garbage, ""},
        {ReplyFault::Silence, ""}};
    for (const auto& [fault, start] : faults) {
        DeviceConfig config;
        config.loopFrames = 1;
        config.faults.reply = fault;
        config.faults.replyPath = "/RequestStream.cgi";
        SimulatedDevice device(config);
        ASSERT_TRUE(device.start());
        const std::string session = login(device);
        ASSERT_EQ(session.size(), 30u) << "login is not on the faulty path";
        LoopbackClient client(device.port());
        ASSERT_TRUE(client.send(get("/RequestStream.cgi?SessionID=" + session)));
        const std::string reply = client.read(512, std::chrono::milliseconds(300));
        EXPECT_EQ(reply.find("200 OK"), std::string::npos);
        if (!start.empty()) {
            EXPECT_EQ(reply.rfind(start, 0), 0u) << reply;
        }
        if (fault == ReplyFault::Silence) {
            EXPECT_TRUE(reply.empty());
        }
        if (fault == ReplyFault::Garbage) {
            EXPECT_FALSE(reply.empty());
            EXPECT_EQ(reply.find("201 ERR"), std::string::npos);
            EXPECT_EQ(reply.find("202 ERROR"), std::string::npos);
        }
    }
}

// Sends an RS485Cmd.cgi request with `record` as binary body after `target`.
std::string sendRecord(SimulatedDevice& device, const std::string& target,
                       const std::string& record) {
    return exchange(device.port(),
                    "GET " + target +
                        " HTTP/1.1\r\nAccept: */* \r\nAccept-Language: zh-tw\r\nContent-Length: " +
                        std::to_string(record.size()) +
                        "\r\nAccept-Encoding: gzip, deflate\r\nHost: 127.0.0.1\r\n"
                        "Connection: Keep-Alive\r\n\r\n" +
                        record);
}

TEST(DeviceRs485, DecodesKeysFromEachRequestForm) {
    DeviceConfig config;
    config.deviceClass = 3;
    config.loopFrames = 2;
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start());
    const std::string session = login(device);
    const auto firstLoop = device.frameLoop();

    // Class 3 master key: 01 key 01 32, key 57 is channel 3.
    EXPECT_NE(sendRecord(device, "/RS485Cmd.cgi?Control=R5NS&MASTER=1&SessionID=" + session,
                         std::string("\x01\x39\x01\x32", 4))
                  .find("200 OK"),
              std::string::npos);
    EXPECT_EQ(device.state().lastKeyCode, 57);
    EXPECT_EQ(device.state().channel, 3);
    EXPECT_NE(device.frameLoop(), firstLoop) << "a channel key re-encodes the pictures";

    // Class 1 command form, hex text: 05 ff c0 01 41 7f 01 23 is key 64 ("A").
    const std::string hex = "05ffc001417f0123";
    EXPECT_NE(sendRecord(device, "/RS485Cmd.cgi?Command=" + hex + "&SessionID=" + session,
                         std::string("\x05\xff\xc0\x01\x41\x7f\x01\x23", 8))
                  .find("200 OK"),
              std::string::npos);
    EXPECT_EQ(device.state().lastKeyCode, 64);

    // Cut9 (key 25) returns to a split layout.
    sendRecord(device, "/RS485Cmd.cgi?Control=R5NS&MASTER=1&SessionID=" + session,
               std::string("\x01\x19\x01\x32", 4));
    EXPECT_EQ(device.state().channel, 0);
    EXPECT_EQ(device.state().split, 9);

    // Text and body that disagree, or a count byte that does not match, are refused.
    EXPECT_EQ(sendRecord(device, "/RS485Cmd.cgi?Command=05ffc001417f0123&SessionID=" + session,
                         std::string("\x05\xff\xc0\x01\x42\x7f\x01\x23", 8))
                  .find("200 OK"),
              std::string::npos);
    EXPECT_EQ(sendRecord(device, "/RS485Cmd.cgi?Control=R5NS&MASTER=1&SessionID=" + session,
                         std::string("\x02\x39\x01\x32", 4))
                  .find("200 OK"),
              std::string::npos);
    EXPECT_EQ(device.state().rejectedRequests, 2);
}

TEST(DeviceRs485, DecodesCameraMessagesAndMovesTheCamera) {
    DeviceConfig config;
    config.loopFrames = 1;
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start());
    const std::string session = login(device);
    const DeviceState before = device.state();
    // D0 Up at address 1, level 60: 07 d0 01 3c 4b ef ff 46 01 23.
    sendRecord(device, "/RS485Cmd.cgi?Command=07d0013c4befff460123&SessionID=" + session, "");
    DeviceState after = device.state();
    EXPECT_EQ(after.lastPtzAction, "Up");
    ASSERT_TRUE(after.lastRecord);
    EXPECT_EQ(after.lastRecord->kind, Rs485Record::Kind::D0);
    EXPECT_EQ(after.lastRecord->userLevel, 0x3C);
    EXPECT_LT(after.tilt, before.tilt);

    // Pelco-D ZoomInMax: ff 01 00 20 20 20 checksum 0x61, trailer 14 23.
    sendRecord(device, "/RS485Cmd.cgi?Command=07ff0100202020611423&SessionID=" + session, "");
    after = device.state();
    EXPECT_EQ(after.lastPtzAction, "ZoomInMax");
    EXPECT_EQ(after.zoom, 65535);
    // Pelco-D stop (all zero, checksum 01) goes into the history too.
    sendRecord(device, "/RS485Cmd.cgi?Command=07ff0100000000010123&SessionID=" + session, "");
    EXPECT_EQ(device.state().ptzActions, (std::vector<std::string>{"Up", "ZoomInMax", "Stop"}));

    // D0 preset 3 (P, data 2) with a wrong checksum is not acted on.
    sendRecord(device, "/RS485Cmd.cgi?Command=07d0013c500200000123&SessionID=" + session, "");
    after = device.state();
    EXPECT_FALSE(after.lastRecord->checksumOk);
    EXPECT_EQ(after.lastPtzAction, "Stop");

    // Aim cell 0x16 (row 1, column 6): the checksum is d0+01+3c+52+16+00 = 0x175.
    sendRecord(device, "/RS485Cmd.cgi?Command=07d0013c521600750132&SessionID=" + session, "");
    after = device.state();
    EXPECT_EQ(after.lastPtzAction, "AimCell 22");
    EXPECT_EQ(after.lastRecord->cell, 0x16);
}

TEST(DeviceCameraInfo, LocationReadsBackWhatWasWritten) {
    DeviceConfig config;
    config.deviceClass = 8;
    config.loopFrames = 1;
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start());
    const std::string session = login(device);
    EXPECT_NE(exchange(device.port(),
                       get("/SetCameraInfo.cgi?LocationP=17655&LocationT=-3864&LocationZ=32161"
                           "&LocationF=0&MOD=1&SessionID=" +
                           session))
                  .find("200 OK"),
              std::string::npos);
    const std::string reply = exchange(
        device.port(), get("/GetCameraInfo.cgi?Information=Location&SessionID=" + session));
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(bodyOf(reply),
              "LOCATION-PAN=17655;LOCATION-TILT=-3864;LOCATION-ZOOM=32161;LOCATION-FOCUS=0;\r\n");
    EXPECT_EQ(exchange(device.port(), get("/SetCameraInfo.cgi?LocationP=1x&LocationT=0"
                                          "&LocationZ=0&LocationF=0&MOD=1&SessionID=" +
                                          session))
                  .find("200 OK"),
              std::string::npos);
    EXPECT_EQ(device.state().pan, 17655);
}

TEST(DeviceCameraInfo, ConfiguredFailureOfTheLocationWrite) {
    DeviceConfig config;
    config.loopFrames = 1;
    config.faults.reply = ReplyFault::Err201;
    config.faults.replyPath = "/SetCameraInfo.cgi";
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start());
    const std::string session = login(device);
    EXPECT_EQ(exchange(device.port(), get("/SetCameraInfo.cgi?LocationP=1&LocationT=2"
                                          "&LocationZ=3&LocationF=4&MOD=1&SessionID=" +
                                          session))
                  .find("200 OK"),
              std::string::npos);
    EXPECT_NE(device.state().pan, 1);
}

TEST(DeviceSetChannel, ChoosesTheChannelShown) {
    DeviceConfig config;
    config.deviceClass = 50;
    config.loopFrames = 1;
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start());
    EXPECT_NE(exchange(device.port(), get("/SetChannel.cgi?SessionID=" + login(device) + "&CH=2"))
                  .find("200 OK"),
              std::string::npos);
    EXPECT_EQ(device.state().channel, 2);
    EXPECT_EQ(device.frameLoop()->scene().channel, 2);
}

TEST(DeviceConfigCheck, RefusesWhatTheRepliesCannotCarry) {
    DeviceConfig config;
    config.port = 12000;  // class 6 announces its port in a 4-character field
    SimulatedDevice device(config);
    EXPECT_FALSE(device.start());
    EXPECT_NE(device.lastError().find("below 10000"), std::string::npos);
    config.port = 0;
    config.userLevel = 12345;
    EXPECT_FALSE(validate(config).empty());
    config.userLevel = 30;
    config.deviceClass = 5;
    EXPECT_FALSE(validate(config).empty());
}

}  // namespace
}  // namespace tess::devsim
