#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "DevsimOptions.h"
#include "DiscoveryResponder.h"
#include "SimulatedDevice.h"

namespace tess::devsim {
namespace {

using namespace std::chrono_literals;

// A UDP socket on 127.0.0.1 standing in for the searching viewer.
class Searcher {
public:
    Searcher() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t size = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
        port_ = ntohs(local.sin_port);
    }
    ~Searcher() { ::close(fd_); }
    uint16_t port() const { return port_; }
    void send(const std::string& bytes, uint16_t to) {
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(to);
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                 sizeof peer);
    }
    // The next datagram within `limit`, or empty.
    std::string receive(std::chrono::milliseconds limit) {
        pollfd waiting{fd_, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(limit.count())) <= 0) return {};
        char buffer[256];
        const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
        return count > 0 ? std::string(buffer, static_cast<size_t>(count)) : std::string();
    }

private:
    int fd_;
    uint16_t port_ = 0;
};

std::string searchRequest(std::initializer_list<int> requester) {
    std::string request(76, '\0');
    request.replace(0, 9, "QZ_SEARCH");
    request[16] = 1;
    size_t i = 56;
    for (int octet : requester) request[i++] = static_cast<char>(octet);
    request[72] = 0x05, request[73] = 0x0D;
    return request;
}

TEST(Discovery, AnswersEachDeviceWithTheReplyLayout) {
    Searcher searcher;
    EventLog log;
    SearchAnswer camera;
    camera.typeCode = 68;
    camera.mac = {0x02, 0x00, 0x00, 0x00, 0x1F, 0x46};
    camera.port = 8006;
    SearchAnswer recorder = camera;
    recorder.typeCode = 113;
    recorder.port = 80;
    DiscoveryResponder responder([&] { return std::vector<SearchAnswer>{camera, recorder}; }, log);
    ASSERT_TRUE(responder.start("127.0.0.1", 0, searcher.port()));

    searcher.send(searchRequest({127, 0, 0, 1}), responder.port());
    const std::string first = searcher.receive(1s), second = searcher.receive(1s);
    std::string expected(76, '\0');
    expected[17] = 68;
    const char mac[] = {0x02, 0x00, 0x00, 0x00, 0x1F, 0x46};
    expected.replace(18, 6, mac, 6);
    for (size_t field : {56, 60, 64, 68}) expected.replace(field, 4, "\x7f\x00\x00\x01", 4);
    expected[72] = 0x46, expected[73] = 0x1F;  // 8006 = 0x1F46
    EXPECT_EQ(first, expected);
    ASSERT_EQ(second.size(), 76u);
    EXPECT_EQ(static_cast<uint8_t>(second[17]), 113);
    EXPECT_EQ(second.substr(72, 4), std::string("\x50\x00\x00\x00", 4));
    EXPECT_EQ(log.datagrams().front(), searchRequest({127, 0, 0, 1}));
}

TEST(Discovery, IgnoresMalformedRequestsAndRequestersOffLoopback) {
    Searcher searcher;
    EventLog log;
    DiscoveryResponder responder([] { return std::vector<SearchAnswer>{SearchAnswer{}}; }, log);
    ASSERT_TRUE(responder.start("127.0.0.1", 0, searcher.port()));
    std::string wrongMagic = searchRequest({127, 0, 0, 1});
    wrongMagic[0] = 'X';
    std::string wrongPort = searchRequest({127, 0, 0, 1});
    wrongPort[72] = 0x04;
    searcher.send(wrongMagic, responder.port());
    searcher.send(wrongPort, responder.port());
    searcher.send(searchRequest({127, 0, 0, 1}).substr(0, 75), responder.port());
    searcher.send(searchRequest({10, 1, 2, 3}), responder.port());
    // A requester that found no address of its own is answered at the sender.
    searcher.send(searchRequest({0, 0, 0, 0}), responder.port());
    EXPECT_EQ(searcher.receive(1s).size(), 76u);
    EXPECT_TRUE(searcher.receive(200ms).empty());
    EXPECT_EQ(responder.requestsIgnored(), 4);
    EXPECT_EQ(responder.repliesSent(), 1);
}

// Each answer leaves after its own delay, cut or padded to its own size.
TEST(Discovery, DelayedAndOddSizedAnswers) {
    Searcher searcher;
    EventLog log;
    SearchAnswer late;
    late.delayMs = 300;
    SearchAnswer early;
    early.size = 20;
    early.typeCode = 87;
    DiscoveryResponder responder([&] { return std::vector<SearchAnswer>{late, early}; }, log);
    ASSERT_TRUE(responder.start("127.0.0.1", 0, searcher.port()));
    const auto sent = std::chrono::steady_clock::now();
    searcher.send(searchRequest({127, 0, 0, 1}), responder.port());
    const std::string first = searcher.receive(1s);
    ASSERT_EQ(first.size(), 20u);
    EXPECT_EQ(static_cast<uint8_t>(first[17]), 87);
    EXPECT_TRUE(searcher.receive(200ms).empty());
    EXPECT_EQ(searcher.receive(1s).size(), 76u);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 300ms);
}

TEST(Options, SearchAnswersOfADevice) {
    DeviceConfig config;
    std::string error;
    ASSERT_TRUE(parseDeviceOptions(
        {"--address", "0.0.0.0", "--search-address", "10.0.0.5", "--search-after", "2000",
         "--search-after", "4000", "--search-size", "100", "--search-type", "200"},
        config, error))
        << error;
    EXPECT_EQ(validate(config), "");
    const std::vector<SearchAnswer> answers = SimulatedDevice(config).searchAnswers();
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].delayMs, 2000);
    EXPECT_EQ(answers[1].delayMs, 4000);
    EXPECT_EQ(answers[1].address, (std::array<uint8_t, 4>{10, 0, 0, 5}));
    EXPECT_EQ(answers[1].size, 100);
    EXPECT_EQ(answers[1].typeCode, 200);
    EXPECT_EQ(SimulatedDevice(DeviceConfig{}).searchAnswers().size(), 1u);
    config.searchReplySize = 513;
    EXPECT_NE(validate(config), "");

    ProgramOptions options;
    ASSERT_TRUE(
        parseProgramOptions({"--discovery-address", "0.0.0.0", "--class", "6"}, options, error));
    EXPECT_EQ(options.discoveryAddress, "0.0.0.0");
}

TEST(Options, DeviceOptionsFillTheConfiguration) {
    DeviceConfig config;
    std::string error;
    ASSERT_TRUE(parseDeviceOptions(
        {"--class", "3", "--port", "8003", "--channel", "1:1:0", "--channel", "9:25:1", "--size",
         "704x480", "--stall", "10:2.5", "--reply-fault", "garbage", "--reply-fault-path",
         "/Login.cgi", "--flat-out", "--bad-packet-length", "3:1700"},
        config, error))
        << error;
    EXPECT_EQ(config.deviceClass, 3);
    EXPECT_EQ(config.port, 8003);
    ASSERT_EQ(config.channels.size(), 2u);
    EXPECT_EQ(config.channels[1].id, 9);
    EXPECT_EQ(config.channels[1].type, 25);
    EXPECT_EQ(config.channels[1].protocol, 1);
    EXPECT_EQ(config.width, 704);
    EXPECT_EQ(config.height, 480);
    EXPECT_EQ(config.faults.stallAfterFrames, 10);
    EXPECT_DOUBLE_EQ(config.faults.stallSeconds, 2.5);
    EXPECT_EQ(config.faults.reply, ReplyFault::Garbage);
    EXPECT_EQ(config.faults.replyPath, "/Login.cgi");
    EXPECT_TRUE(config.flatOut);
    EXPECT_EQ(config.faults.badPacketLengthFrame, 3);
    EXPECT_EQ(config.faults.badPacketLength, 1700);

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--class"},
                                                {"--class", "six"},
                                                {"--port", "70000"},
                                                {"--channel", "1:1"},
                                                {"--reply-fault", "203"},
                                                {"--colour", "red"}}) {
        DeviceConfig ignored;
        error.clear();
        EXPECT_FALSE(parseDeviceOptions(bad, ignored, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, AudioJitterAndClockOptions) {
    DeviceConfig config;
    std::string error;
    ASSERT_TRUE(parseDeviceOptions(
        {"--audio-jitter", "100", "--audio-jitter-seconds", "2.5", "--audio-clock-ppm", "-3000"},
        config, error))
        << error;
    EXPECT_EQ(config.audioJitterMs, 100);
    EXPECT_DOUBLE_EQ(config.audioJitterSeconds, 2.5);
    EXPECT_EQ(config.audioClockPpm, -3000);
    EXPECT_EQ(validate(config), "");
    EXPECT_EQ(DeviceConfig{}.audioJitterMs, 0);
    EXPECT_EQ(DeviceConfig{}.audioClockPpm, 0);

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--audio-jitter"},
                                                {"--audio-jitter", "-5x"},
                                                {"--audio-jitter-seconds", "soon"},
                                                {"--audio-clock-ppm", "3.5"}}) {
        DeviceConfig ignored;
        error.clear();
        EXPECT_FALSE(parseDeviceOptions(bad, ignored, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
    config.audioJitterMs = -1;
    EXPECT_NE(validate(config), "");
    config.audioJitterMs = 0;
    config.audioClockPpm = 200000;
    EXPECT_NE(validate(config), "");

    const std::string help = helpText();
    for (const char* name :
         {"--audio-jitter MS", "--audio-jitter-seconds N", "--audio-clock-ppm N"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
}

TEST(Options, ConfigFileHasOneDevicePerLine) {
    const std::string path = ::testing::TempDir() + "devsim-options.conf";
    {
        std::ofstream file(path);
        file << "# a quad and a recorder\n"
                "--class 6 --port 8006\n"
                "\n"
                "--class 3 --user \"front desk\" --password p#1   # trailing comment\n";
    }
    ProgramOptions options;
    std::string error;
    ASSERT_TRUE(parseProgramOptions({"--config", path, "--log", "events.json", "--no-discovery"},
                                    options, error))
        << error;
    ASSERT_EQ(options.devices.size(), 2u);
    EXPECT_EQ(options.devices[0].port, 8006);
    EXPECT_EQ(options.devices[1].userName, "front desk");
    EXPECT_EQ(options.devices[1].password, "p");  // "#" starts the comment
    EXPECT_EQ(options.logPath, "events.json");
    EXPECT_FALSE(options.discovery);

    {
        std::ofstream file(path);
        file << "--class 6\n--class 3 --fps\n";
    }
    EXPECT_FALSE(parseProgramOptions({"--config", path}, options, error));
    EXPECT_NE(error.find(":2:"), std::string::npos) << error;
    std::remove(path.c_str());

    ProgramOptions mixed;
    EXPECT_FALSE(parseProgramOptions({"--config", path, "--class", "6"}, mixed, error));
}

TEST(EventLogFile, LinesOfSeveralLogsShareOneFile) {
    const std::string path = ::testing::TempDir() + "devsim-events.json";
    std::remove(path.c_str());
    {
        EventLog first, second;
        ASSERT_TRUE(first.writeTo(path));
        ASSERT_TRUE(second.writeTo(path));
        first.setSource("127.0.0.1:8006");
        first.record(Event::Kind::Request, "GET /\r\n\"x\"");
        second.record(Event::Kind::Datagram, std::string("\x01\xff", 2));
    }
    std::ifstream file(path);
    std::string line1, line2;
    std::getline(file, line1);
    std::getline(file, line2);
    EXPECT_NE(
        line1.find(R"(,"device":"127.0.0.1:8006","kind":"request","bytes":"GET /\r\n\"x\""})"),
        std::string::npos)
        << line1;
    EXPECT_NE(line2.find(R"("kind":"datagram","bytes":"\u0001\u00ff"})"), std::string::npos)
        << line2;
    std::remove(path.c_str());
}

}  // namespace
}  // namespace tess::devsim
