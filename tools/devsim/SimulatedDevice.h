#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DeviceServer.h"
#include "DiscoveryResponder.h"
#include "EventLog.h"
#include "FrameLoop.h"
#include "Rs485Record.h"

namespace tess::devsim {

// One channel record as the device announces it at stream negotiation.
struct ChannelInfo {
    uint8_t id = 0, type = 0, protocol = 0;
};

// How a status reply goes wrong, for the CGI requests it applies to.
enum class ReplyFault { None, Err201, Error202, Garbage, Silence };

// Misbehaviour on request. Frame counts are 1-based positions in a stream
// (every video stream counts its own frames); 0 switches a fault off.
struct Faults {
    ReplyFault reply = ReplyFault::None;
    std::string replyPath;     // only this CGI path (e.g. "/Login.cgi"); empty: every one
    bool refuseLogin = false;  // answer every login as if the credentials were wrong
    int stallAfterFrames = 0;  // stop sending for stallSeconds after this many frames
    double stallSeconds = 0;
    int closeAfterFrames = 0;      // close the stream after this many frames
    int badStartFrame = 0;         // this frame does not begin with the JPEG start marker
    int oversizedFrame = 0;        // this frame's picture is larger than the viewer's slot
    int badPacketLengthFrame = 0;  // one packet of this frame states a bad length L:
    int badPacketLength = 4;       //   packet stream below its header or above 1600,
                                   //   whole frame so small that L + h < 1600
    int flagB40Frame = 0;          // this frame's first packet header has flag B 0x40
    // Audio frame counts are 1-based per audio stream too.
    int badAudioLengthFrame = 0;   // this audio frame's second packet states L = 4
    int impossibleAudioFrame = 0;  // this audio frame's media header states S = 0x3FFFFF
    int downAfterFrames = 0;       // the device goes down after this many frames ...
    double downSeconds = 0;        //   ... refuses connections this long, then comes back
};

struct DeviceConfig {
    int deviceClass = 6;    // 1, 3, 4, 6, 7, 8 or 50
    std::string productId;  // empty: the class's first model code
    std::string userName = "admin", password = "velum";
    std::string loginRefusal = "201 ERR";  // status word of a refused login
    std::string address = "127.0.0.1";
    uint16_t port = 0;                  // 0: a free one (below 10000 where it goes into a reply)
    bool separateStreamPort = false;    // classes 1/6/7/8: streams on their own port
    int userLevel = 30;                 // the USERLEVEL reply value
    int deviceId = 1;                   // Device-ID0 (classes 1/6/7/8)
    int deviceType = 0;                 // Device-Type0 (classes 1/6/7/8)
    std::vector<ChannelInfo> channels;  // SLAVENUM (class 3) / MASTERNUM (class 50) records;
                                        // empty: the class's defaults
    int extraOperationMode = 1;         // 0 announces an MPEG-4-only device
    int width = 352, height = 240, framesPerSecond = 25;
    int jpegQuality = 0;           // 0: chosen per resolution to fit the viewer's slot
    int loopFrames = 25;           // pre-encoded frames streamed in a loop
    bool flatOut = false;          // stream as fast as the socket takes it
    bool longMediaHeader = false;  // packet stream: 104-byte video MediaHeader, else 32
    uint8_t headerFlagA = 0;       // flag byte A of every packet header we send
    uint8_t headerFlagB = 0;       // flag byte B (only the fixed-size bits 0x07)
    bool audio = true;             // serve audio after the audio start
    double toneHz = 440;           // audio tone; 0: a sweep from 200 to 2000 Hz
    // Network jitter on the audio stream: each frame is sent up to this many ms
    // after its due time (uniformly at random), the average rate unchanged.
    int audioJitterMs = 0;
    double audioJitterSeconds = 0;  // jitter only in a stream's first N seconds; 0: always
    // The device's audio clock runs this many parts per million fast (negative:
    // slow): its frames come that much more (less) often than 128 ms apart.
    int audioClockPpm = 0;
    int searchTypeCode = 0;  // discovery type code; 0: the class's default
    // One search reply per entry, each this many ms after the request.
    std::vector<int> searchDelaysMs{0};
    bool searchDelaysGiven = false;  // the options named delays of their own
    int searchReplySize = 76;        // bytes of each search reply (cut or zero-padded)
    std::string searchAddress;       // address the search reply names; empty: `address`
    bool numberMark = false;         // pictures carry their loop index as a colour block
    Faults faults;
};

// Checks a configuration; the text says what is wrong, empty when it is fine.
std::string validate(const DeviceConfig& config);
// The first model code of a class in the viewer's table ("Q8LC" for 6), or empty.
std::string defaultProductId(int deviceClass);
// The channel records a class announces when the configuration lists none.
std::vector<ChannelInfo> defaultChannels(int deviceClass);
// The discovery type code of a class when the configuration names none.
int defaultSearchTypeCode(int deviceClass);

// What the device shows and knows, as set by the viewer's commands.
struct DeviceState {
    int lastKeyCode = -1;                   // last remote-control key (RS-485 key record)
    std::optional<Rs485Record> lastRecord;  // last RS-485 record, decoded
    std::vector<Rs485Record> records;       // the last 64 RS-485 records, oldest first
    std::string lastPtzAction;              // name of the last PTZ action ("Up", "Preset 3", ...)
    std::vector<std::string> ptzActions;    // the last 64 of them, oldest first
    std::string lastSessionId;              // identifier of the latest login
    int channel = 0;                        // channel shown alone; 0: the split layout
    int split = 4;                          // 1, 4, 9 or 16 panes in the picture
    int pan = 0, tilt = 0, zoom = 0, focus = 0;  // camera location
    int sessions = 0;                            // logins granted so far
    int rejectedRequests = 0;  // requests refused (unknown session, wrong class, ...)
    int activeVideoStreams = 0, activeAudioStreams = 0;
};

// One networked video device on loopback: CGI service and streams on TCP,
// control datagrams on UDP, both on port(); optionally streams on their own
// port. Every server thread ends by itself when stop() is called.
class SimulatedDevice {
public:
    explicit SimulatedDevice(DeviceConfig config);
    ~SimulatedDevice();
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    // Validates the configuration, encodes the picture loop and listens.
    // False with lastError() set when it cannot.
    bool start();
    void stop();
    uint16_t port() const { return port_; }  // 0 until started
    // The port streams are served on: port() unless separateStreamPort.
    uint16_t streamPort() const { return separateStreamPort() ? fixedStreamPort_.load() : port(); }
    const std::string& lastError() const { return error_; }
    const DeviceConfig& config() const { return config_; }

    EventLog& log() { return log_; }
    DeviceState state() const;
    // The product identifier the device logs in with.
    std::string productId() const;
    // What the device answers to a LAN search (MAC 02:00:00:00 + its port):
    // one answer per configured delay.
    std::vector<SearchAnswer> searchAnswers() const;
    // Picture loop now streamed (re-encoded after every command that changes it).
    std::shared_ptr<const FrameLoop> frameLoop() const;
    // When a frame's bytes were handed to the socket, in steady-clock
    // nanoseconds; 0 when not (yet) sent. Audio frames by their 1-based number
    // in the latest audio stream (the first kSentStamps of it), video frames by
    // their index in the picture loop (the latest one of that index).
    static constexpr size_t kSentStamps = 4096;
    int64_t audioSentAt(int number) const;
    int64_t videoSentAt(size_t loopIndex) const;

    // Refuses connections for `duration`, then listens again on the same ports.
    void goDown(std::chrono::milliseconds duration);
    bool isDown() const { return down_; }

private:
    struct Session;
    struct Reply;

    bool separateStreamPort() const;
    bool packetStreamClass() const;
    void onRequest(const Request& request, Connection& connection, bool streamPortServer);
    void onDatagram(std::string_view bytes);
    void answer(Connection& connection, const std::string& status, const std::string& fields);
    bool replyFaultHits(const Request& request, Connection& connection);
    void handleLogin(const Request& request, Connection& connection);
    void handleRequestStream(Connection& connection);
    void handleRs485(const Request& request, Connection& connection);
    void handleSetChannel(const Request& request, Connection& connection);
    void handleGetCameraInfo(const Request& request, Connection& connection);
    void handleSetCameraInfo(const Request& request, Connection& connection);
    void streamVideo(const std::shared_ptr<Session>& session, Connection& connection);
    void streamAudio(const std::shared_ptr<Session>& session, Connection& connection);
    std::shared_ptr<Session> findSession(std::string_view id);
    void applyRecord(const Rs485Record& record);
    void rebuildLoop();
    bool listen();
    void outageLoop();
    // Waits like Connection::sleepFor but also ends when the session closes.
    bool pause(const Session& session, const Connection& connection,
               std::chrono::steady_clock::duration duration) const;

    DeviceConfig config_;
    EventLog log_;
    std::string error_;
    // Written by start() and again (same values) when an outage ends.
    std::atomic<uint16_t> port_{0};
    std::atomic<uint16_t> fixedStreamPort_{0};
    std::unique_ptr<DeviceServer> server_;
    std::unique_ptr<DeviceServer> streamServer_;

    mutable std::mutex stateMutex_;
    DeviceState state_;
    std::vector<std::shared_ptr<Session>> sessions_;
    std::shared_ptr<const FrameLoop> loop_;
    std::mutex rebuildMutex_;  // one re-encode at a time; held without stateMutex_

    // Outages: a stream thread asks, the outage thread stops and restarts the
    // servers (a connection thread cannot stop the server it runs on).
    std::thread outageThread_;
    std::mutex outageMutex_;
    std::condition_variable outageWake_;
    std::chrono::milliseconds outageWanted_{0};
    bool outagePending_ = false;
    std::atomic<bool> down_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> downFaultUsed_{false};

    std::array<std::atomic<int64_t>, kSentStamps> audioSent_{};
    std::array<std::atomic<int64_t>, kSentStamps> videoSent_{};
};

}  // namespace tess::devsim
