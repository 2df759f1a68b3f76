#include "SimulatedDevice.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <random>

#include "AdpcmEncoder.h"
#include "StreamWire.h"

namespace tess::devsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxSessions = 64;  // the oldest login is forgotten beyond this
constexpr size_t kSessionIdLength = 30;
constexpr int kAudioSamples = 1024;  // per frame: 512 ADPCM bytes, 128 ms at 8000/s
constexpr auto kPauseSlice = std::chrono::milliseconds(20);
constexpr size_t kPtzHistory = 64;

int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Camera location ranges: pan in hundredths of a degree around, tilt over a
// quarter turn; zoom and focus over the 16-bit range the viewer reads.
constexpr int kPanRange = 36000, kTiltMax = 9000, kLensMax = 65535;

bool isOneOf(int value, std::initializer_list<int> set) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

bool fitsField(int value) {
    return value >= -999 && value <= 9999;
}

std::string freshSessionId() {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
    std::string id(kSessionIdLength, ' ');
    for (char& c : id) c = kAlphabet[pick(random)];
    return id;
}

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string field(std::string_view key, int value) {
    return std::string(key) + "=" + std::to_string(value) + ";\r\n";
}

// A scene for the current state: the channel or split the last key chose and
// the marker where pan and tilt point.
PictureScene sceneOf(const DeviceConfig& config, const DeviceState& state) {
    PictureScene scene;
    scene.width = config.width;
    scene.height = config.height;
    scene.channel = state.channel;
    scene.split = state.split;
    const int pan = ((state.pan % kPanRange) + kPanRange) % kPanRange;
    scene.markerX = static_cast<double>(pan) / kPanRange;
    scene.markerY = std::clamp(static_cast<double>(state.tilt) / kTiltMax, 0.0, 1.0);
    scene.markerScale = 1 + std::clamp(state.zoom, 0, kLensMax) / 16384.0;
    scene.numberMark = config.numberMark;
    return scene;
}

Framing framingOf(const DeviceConfig& config) {
    Framing framing;
    framing.packetStream = isOneOf(config.deviceClass, {1, 6, 7, 8});
    framing.lengthCountsHeader = config.deviceClass == 4;
    framing.mediaHeaderLength =
        config.longMediaHeader ? wire::kLongMediaHeader : wire::kShortMediaHeader;
    framing.flags = {config.headerFlagA, config.headerFlagB};
    return framing;
}

// Counts a running stream in the state for as long as it lives.
class StreamCount {
public:
    StreamCount(std::mutex& mutex, int& count) : mutex_(mutex), count_(count) {
        std::lock_guard lock(mutex_);
        ++count_;
    }
    ~StreamCount() {
        std::lock_guard lock(mutex_);
        --count_;
    }
    StreamCount(const StreamCount&) = delete;
    StreamCount& operator=(const StreamCount&) = delete;

private:
    std::mutex& mutex_;
    int& count_;
};

}  // namespace

struct SimulatedDevice::Session {
    std::string id;
    std::atomic<bool> closed{false};  // set by a "Connection: Close" datagram
};

std::string defaultProductId(int deviceClass) {
    switch (deviceClass) {
        case 1: return "R3P;";
        case 3: return "R5NS";
        case 4: return "Q7KF";
        case 6: return "Q8LC";
        case 7: return "Q8LB";
        case 8: return "Q8LA";
        case 50: return "R3PT";
        default: return {};
    }
}

std::vector<ChannelInfo> defaultChannels(int deviceClass) {
    if (deviceClass == 3) return {{1, 1, 0}, {2, 1, 1}, {3, 0, 0}, {4, 0, 0}};
    if (deviceClass == 50) return {{1, 8, 0}, {2, 25, 0}};
    return {};
}

int defaultSearchTypeCode(int deviceClass) {
    switch (deviceClass) {
        case 1: return 1;
        case 3: return 113;
        case 4: return 64;
        case 6: return 68;
        case 7: return 69;
        case 8: return 70;
        default: return 50;
    }
}

std::string validate(const DeviceConfig& c) {
    if (!isOneOf(c.deviceClass, {1, 3, 4, 6, 7, 8, 50}))
        return "device class must be 1, 3, 4, 6, 7, 8 or 50";
    if (!c.productId.empty() && c.productId.size() != 4)
        return "product identifier must have 4 characters";
    const bool packetStream = isOneOf(c.deviceClass, {1, 6, 7, 8});
    if (packetStream && c.port >= 10000)
        return "port must be below 10000: it is announced in the 4-character Stream-Port field";
    if (c.separateStreamPort && !packetStream)
        return "only classes 1, 6, 7 and 8 announce a separate stream port";
    if (!fitsField(c.userLevel) || !fitsField(c.deviceId) || !fitsField(c.deviceType) ||
        !fitsField(c.extraOperationMode))
        return "reply values must fit 4 characters";
    if (c.channels.size() > 16) return "at most 16 channel records";
    if (c.width < 16 || c.height < 16 || c.width > 1920 || c.height > 1088 || c.width % 2 ||
        c.height % 2)
        return "picture size must be even, 16x16 to 1920x1088";
    if (c.framesPerSecond < 1 || c.framesPerSecond > 60) return "frame rate must be 1 to 60";
    if (c.jpegQuality < 0 || c.jpegQuality > 100) return "JPEG quality must be 0 to 100";
    if (c.loopFrames < 1 || c.loopFrames > 250) return "the picture loop must have 1 to 250 frames";
    if (c.headerFlagB & ~0x07) return "header flag B may only use bits 0x01, 0x02 and 0x04";
    if (c.toneHz < 0 || c.toneHz > 3999) return "tone must be below 4000 Hz";
    if (c.audioJitterMs < 0 || c.audioJitterMs > 2000) return "audio jitter must be 0 to 2000 ms";
    if (c.audioJitterSeconds < 0) return "audio jitter seconds must not be negative";
    if (c.audioClockPpm < -100000 || c.audioClockPpm > 100000)
        return "audio clock offset must be -100000 to 100000 ppm";
    for (const int delay : c.searchDelaysMs)
        if (delay < 0 || delay > 60000) return "search reply delays must be 0 to 60000 ms";
    if (c.searchReplySize < 0 || c.searchReplySize > search::kMaxReplySize)
        return "search reply size must be 0 to 512";
    const Faults& f = c.faults;
    if (f.stallSeconds < 0 || f.downSeconds < 0) return "fault durations must not be negative";
    if (f.badPacketLength < 0 || f.badPacketLength > 0xFFFF)
        return "bad packet length must be 0 to 65535";
    return {};
}

SimulatedDevice::SimulatedDevice(DeviceConfig config) : config_(std::move(config)) {
    if (config_.channels.empty()) config_.channels = defaultChannels(config_.deviceClass);
    if (config_.searchTypeCode == 0)
        config_.searchTypeCode = defaultSearchTypeCode(config_.deviceClass);
    state_.pan = kPanRange / 2;
    state_.tilt = kTiltMax / 2;
}

SimulatedDevice::~SimulatedDevice() {
    stop();
}

std::string SimulatedDevice::productId() const {
    return config_.productId.empty() ? defaultProductId(config_.deviceClass) : config_.productId;
}

std::vector<SearchAnswer> SimulatedDevice::searchAnswers() const {
    SearchAnswer answer;
    answer.typeCode = static_cast<uint8_t>(config_.searchTypeCode);
    answer.mac = {0x02,
                  0x00,
                  0x00,
                  0x00,
                  static_cast<uint8_t>(port_ >> 8),
                  static_cast<uint8_t>(port_ & 0xFF)};
    const std::string& named =
        config_.searchAddress.empty() ? config_.address : config_.searchAddress;
    in_addr address{};
    if (::inet_pton(AF_INET, named.c_str(), &address) == 1)
        std::memcpy(answer.address.data(), &address, 4);
    answer.port = port_;
    answer.size = config_.searchReplySize;
    std::vector<SearchAnswer> answers;
    for (const int delay : config_.searchDelaysMs) {
        answer.delayMs = delay;
        answers.push_back(answer);
    }
    return answers;
}

bool SimulatedDevice::packetStreamClass() const {
    return isOneOf(config_.deviceClass, {1, 6, 7, 8});
}

bool SimulatedDevice::separateStreamPort() const {
    return config_.separateStreamPort && packetStreamClass();
}

DeviceState SimulatedDevice::state() const {
    std::lock_guard lock(stateMutex_);
    return state_;
}

std::shared_ptr<const FrameLoop> SimulatedDevice::frameLoop() const {
    std::lock_guard lock(stateMutex_);
    return loop_;
}

bool SimulatedDevice::start() {
    if (outageThread_.joinable()) {
        error_ = "the device is already running";
        return false;
    }
    error_ = validate(config_);
    if (!error_.empty()) return false;
    stopping_ = false;
    downFaultUsed_ = false;
    {
        std::lock_guard lock(stateMutex_);
        loop_ = FrameLoop::build(sceneOf(config_, state_), config_.loopFrames, config_.jpegQuality,
                                 framingOf(config_), error_);
        if (!loop_) return false;
    }
    server_ = std::make_unique<DeviceServer>(
        [this](const Request& r, Connection& c) { onRequest(r, c, false); }, log_,
        [this](std::string_view bytes) { onDatagram(bytes); });
    if (separateStreamPort())
        streamServer_ = std::make_unique<DeviceServer>(
            [this](const Request& r, Connection& c) { onRequest(r, c, true); }, log_,
            [this](std::string_view bytes) { onDatagram(bytes); });
    port_ = config_.port;
    fixedStreamPort_ = 0;
    if (!listen()) {
        error_ = "cannot listen on " + config_.address + ":" + std::to_string(config_.port);
        server_.reset();
        streamServer_.reset();
        return false;
    }
    outageThread_ = std::thread([this] { outageLoop(); });
    return true;
}

bool SimulatedDevice::listen() {
    // The device port goes into Stream-Port for the packet-stream classes.
    if (!server_->start(config_.address, port_, packetStreamClass())) return false;
    port_ = server_->port();
    if (!streamServer_) return true;
    if (!streamServer_->start(config_.address, fixedStreamPort_, true)) {
        server_->stop();
        return false;
    }
    fixedStreamPort_ = streamServer_->port();
    return true;
}

void SimulatedDevice::stop() {
    {
        std::lock_guard lock(outageMutex_);  // no lost wake-up for the outage thread
        stopping_ = true;
    }
    outageWake_.notify_all();
    if (outageThread_.joinable()) outageThread_.join();
    if (server_) server_->stop();
    if (streamServer_) streamServer_->stop();
}

void SimulatedDevice::goDown(std::chrono::milliseconds duration) {
    {
        std::lock_guard lock(outageMutex_);
        outageWanted_ = duration;
        outagePending_ = true;
    }
    outageWake_.notify_all();
}

void SimulatedDevice::outageLoop() {
    std::unique_lock lock(outageMutex_);
    while (!stopping_) {
        outageWake_.wait(lock, [this] { return outagePending_ || stopping_; });
        if (stopping_) return;
        outagePending_ = false;
        const auto duration = outageWanted_;
        down_ = true;
        lock.unlock();
        server_->stop();
        if (streamServer_) streamServer_->stop();
        {
            // Like a device that restarts, it forgets every login.
            std::lock_guard state(stateMutex_);
            for (const auto& session : sessions_) session->closed = true;
            sessions_.clear();
        }
        lock.lock();
        outageWake_.wait_for(lock, duration, [this] { return stopping_.load(); });
        if (stopping_) return;
        lock.unlock();
        const bool back = listen();
        lock.lock();
        down_ = !back;
        if (!back) return;  // the port was taken meanwhile; the device stays down
    }
}

std::shared_ptr<SimulatedDevice::Session> SimulatedDevice::findSession(std::string_view id) {
    std::lock_guard lock(stateMutex_);
    for (const auto& session : sessions_)
        if (session->id == id) return session;
    return nullptr;
}

void SimulatedDevice::answer(Connection& connection, const std::string& status,
                             const std::string& fields) {
    connection.send("HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                    std::to_string(fields.size()) + "\r\n\r\n" + fields);
}

bool SimulatedDevice::replyFaultHits(const Request& request, Connection& connection) {
    const Faults& faults = config_.faults;
    if (faults.reply == ReplyFault::None) return false;
    if (!faults.replyPath.empty() && faults.replyPath != request.path()) return false;
    switch (faults.reply) {
        case ReplyFault::Err201: answer(connection, "201 ERR", {}); break;
        case ReplyFault::Error202: answer(connection, "202 ERROR", {}); break;
        case ReplyFault::Garbage: {
            static constexpr char kGarbage[] = "\x7f\x01#~ no status here ~#\x02\xfe\r\n";
            connection.send(std::string_view(kGarbage, sizeof kGarbage - 1));
            break;
        }
        case ReplyFault::Silence: connection.holdOpen(); break;
        case ReplyFault::None: break;
    }
    connection.close();
    return true;
}

void SimulatedDevice::onRequest(const Request& request, Connection& connection,
                                bool streamPortServer) {
    const std::string_view path = request.path();
    const bool streamStart = path == "/" || path == "/Getvideo.cgi";
    auto refuse = [&](const char* status) {
        {
            std::lock_guard lock(stateMutex_);
            ++state_.rejectedRequests;
        }
        answer(connection, status, {});
        connection.close();
    };
    // With a stream port of its own the device streams only there.
    if (separateStreamPort() && streamStart != streamPortServer) return refuse("404 Not Found");
    if (!streamStart && replyFaultHits(request, connection)) return;
    if (path == "/Login.cgi") return handleLogin(request, connection);

    const std::string sessionId =
        path == "/" ? request.bodyLine("Session") : request.queryValue("SessionID");
    const auto session = findSession(sessionId);
    // A session the viewer closed by datagram is over for every request.
    if (!session || session->closed) return refuse("401 Unauthorized");

    if (path == "/RequestStream.cgi") return handleRequestStream(connection);
    if (path == "/RS485Cmd.cgi") return handleRs485(request, connection);
    if (path == "/SetChannel.cgi") return handleSetChannel(request, connection);
    if (path == "/GetCameraInfo.cgi") return handleGetCameraInfo(request, connection);
    if (path == "/SetCameraInfo.cgi") return handleSetCameraInfo(request, connection);
    if (path == "/Getvideo.cgi") {
        if (packetStreamClass()) return refuse("404 Not Found");
        return streamVideo(session, connection);
    }
    if (path == "/") {
        const std::string command = request.bodyLine("Command");
        const bool play = request.body.find("\r\nCommand: Start Play\r\n") != std::string::npos;
        if (play && command == "Jpeg" && packetStreamClass())
            return streamVideo(session, connection);
        if (play && command == "Audio" && config_.audio) return streamAudio(session, connection);
    }
    refuse("404 Not Found");
}

void SimulatedDevice::handleLogin(const Request& request, Connection& connection) {
    // "Get /Login.cgi?Username=U&Password=P HTTP/1.1": the values are sent
    // unescaped, so they are cut at the markers rather than at blanks or "&".
    const std::string_view head(request.head);
    const std::string_view line = head.substr(0, head.find("\r\n"));
    const size_t methodEnd = line.find(' ');
    constexpr std::string_view kUser = " /Login.cgi?Username=", kPassword = "&Password=",
                               kVersion = " HTTP/1.1";
    const size_t userAt = line.find(kUser);
    const size_t passwordAt = line.find(kPassword);
    const bool wellFormed = methodEnd != std::string_view::npos &&
                            equalsIgnoringCase(line.substr(0, methodEnd), "GET") &&
                            userAt == methodEnd && passwordAt != std::string_view::npos &&
                            line.ends_with(kVersion);
    if (!wellFormed) {
        answer(connection, "400 Bad Request", {});
        connection.close();
        return;
    }
    const std::string_view user =
        line.substr(userAt + kUser.size(), passwordAt - userAt - kUser.size());
    const size_t passwordStart = passwordAt + kPassword.size();
    const std::string_view password =
        line.substr(passwordStart, line.size() - kVersion.size() - passwordStart);
    if (config_.faults.refuseLogin || user != config_.userName || password != config_.password) {
        answer(connection, config_.loginRefusal, {});
        return;
    }
    auto session = std::make_shared<Session>();
    session->id = freshSessionId();
    {
        std::lock_guard lock(stateMutex_);
        if (sessions_.size() >= kMaxSessions) sessions_.erase(sessions_.begin());
        sessions_.push_back(session);
        ++state_.sessions;
        state_.lastSessionId = session->id;
    }
    answer(connection, "200 OK",
           "Session-ID=" + session->id + ";\r\nProduct-ID=" + productId() + ";\r\n");
}

void SimulatedDevice::handleRequestStream(Connection& connection) {
    std::string fields;
    const auto& channels = config_.channels;
    switch (config_.deviceClass) {
        case 3:
            fields = field("USERLEVEL", config_.userLevel) +
                     field("SLAVENUM", static_cast<int>(channels.size()));
            for (const ChannelInfo& channel : channels)
                fields += field("SID", channel.id) + field("STYPE", channel.type) +
                          field("SPROTOCOL", channel.protocol);
            break;
        case 50:
            fields = field("MASTERNUM", static_cast<int>(channels.size()));
            for (const ChannelInfo& channel : channels)
                fields += field("MID", channel.id) + field("MTYPE", channel.type);
            fields += field("USERLEVEL", config_.userLevel);
            break;
        case 4: break;
        default:
            fields = field("Device-ID0", config_.deviceId) +
                     field("Device-Type0", config_.deviceType) +
                     field("Stream-Port", streamPort()) +
                     field("ExtraOperation-Mode", config_.extraOperationMode);
            break;
    }
    answer(connection, "200 OK", fields);
}

void SimulatedDevice::handleRs485(const Request& request, Connection& connection) {
    const std::string hex = request.queryValue("Command");
    std::vector<uint8_t> body(request.body.begin(), request.body.end());
    std::optional<std::vector<uint8_t>> bytes = body;
    if (!hex.empty()) {
        bytes = parseHexRecord(hex);
        // The binary copy after the head must say the same as the text.
        if (bytes && !body.empty() && *bytes != body) bytes.reset();
    }
    std::string error;
    const auto record = bytes ? decodeRs485(*bytes, error) : std::nullopt;
    if (!record) {
        {
            std::lock_guard lock(stateMutex_);
            ++state_.rejectedRequests;
        }
        answer(connection, "400 Bad Request", {});
        return;
    }
    applyRecord(*record);
    answer(connection, "200 OK", {});
}

void SimulatedDevice::applyRecord(const Rs485Record& record) {
    bool pictureChanged = false;
    {
        std::lock_guard lock(stateMutex_);
        DeviceState& s = state_;
        s.lastRecord = record;
        if (s.records.size() == kPtzHistory) s.records.erase(s.records.begin());
        s.records.push_back(record);
        if (record.kind == Rs485Record::Kind::Key) {
            const int key = record.keyCode;
            s.lastKeyCode = key;
            const int before[2] = {s.channel, s.split};
            if (isOneOf(key, {26, 81, 97})) s.channel = 0, s.split = 4;
            if (isOneOf(key, {25, 98})) s.channel = 0, s.split = 9;
            if (isOneOf(key, {16, 99})) s.channel = 0, s.split = 16;
            if (key >= 55 && key <= 70) s.channel = key - 54;
            pictureChanged = before[0] != s.channel || before[1] != s.split;
        } else if (record.checksumOk) {
            s.lastPtzAction = ptzActionName(record.action);
            if (record.action == PtzAction::Preset)
                s.lastPtzAction += " " + std::to_string(record.preset);
            if (record.action == PtzAction::AimCell)
                s.lastPtzAction += " " + std::to_string(record.cell);
            if (s.ptzActions.size() == kPtzHistory) s.ptzActions.erase(s.ptzActions.begin());
            s.ptzActions.push_back(s.lastPtzAction);
            switch (record.action) {
                case PtzAction::Preset:
                    s.pan = (record.preset * 2250) % kPanRange;
                    s.tilt = kTiltMax / 2;
                    break;
                case PtzAction::Up: s.tilt = std::max(0, s.tilt - 250); break;
                case PtzAction::Down: s.tilt = std::min(kTiltMax, s.tilt + 250); break;
                case PtzAction::Left: s.pan = (s.pan - 500 + kPanRange) % kPanRange; break;
                case PtzAction::Right: s.pan = (s.pan + 500) % kPanRange; break;
                case PtzAction::Auto: s.pan = (s.pan + kPanRange / 4) % kPanRange; break;
                case PtzAction::ZoomIn: s.zoom = std::min(kLensMax, s.zoom + 2000); break;
                case PtzAction::ZoomOut: s.zoom = std::max(0, s.zoom - 2000); break;
                case PtzAction::ZoomInMax: s.zoom = kLensMax; break;
                case PtzAction::ZoomOutMax: s.zoom = 0; break;
                case PtzAction::FocusIn: s.focus = std::max(0, s.focus - 500); break;
                case PtzAction::FocusOut: s.focus = std::min(kLensMax, s.focus + 500); break;
                case PtzAction::AimCell:
                    // Point at the middle of the tapped cell of the 16 x 6 grid.
                    s.pan = ((record.cell & 0x0F) * 2 + 1) * kPanRange / 32;
                    s.tilt = std::min(5, record.cell >> 4) * kTiltMax / 6 + kTiltMax / 12;
                    break;
                case PtzAction::Stop:
                case PtzAction::None: break;
            }
            pictureChanged = record.action != PtzAction::Stop && record.action != PtzAction::None;
        }
    }
    if (pictureChanged) rebuildLoop();
}

void SimulatedDevice::handleSetChannel(const Request& request, Connection& connection) {
    const auto channel = parseInt(request.queryValue("CH"));
    if (!channel || *channel < 1 || *channel > 16) {
        answer(connection, "400 Bad Request", {});
        return;
    }
    bool changed;
    {
        std::lock_guard lock(stateMutex_);
        changed = state_.channel != *channel;
        state_.channel = *channel;
    }
    if (changed) rebuildLoop();
    answer(connection, "200 OK", {});
}

void SimulatedDevice::handleGetCameraInfo(const Request& request, Connection& connection) {
    if (request.queryValue("Information") != "Location") {
        answer(connection, "400 Bad Request", {});
        return;
    }
    const DeviceState s = state();
    answer(connection, "200 OK",
           "LOCATION-PAN=" + std::to_string(s.pan) + ";LOCATION-TILT=" + std::to_string(s.tilt) +
               ";LOCATION-ZOOM=" + std::to_string(s.zoom) +
               ";LOCATION-FOCUS=" + std::to_string(s.focus) + ";\r\n");
}

void SimulatedDevice::handleSetCameraInfo(const Request& request, Connection& connection) {
    const auto pan = parseInt(request.queryValue("LocationP"));
    const auto tilt = parseInt(request.queryValue("LocationT"));
    const auto zoom = parseInt(request.queryValue("LocationZ"));
    const auto focus = parseInt(request.queryValue("LocationF"));
    if (!pan || !tilt || !zoom || !focus) {
        answer(connection, "400 Bad Request", {});
        return;
    }
    {
        std::lock_guard lock(stateMutex_);
        state_.pan = *pan, state_.tilt = *tilt, state_.zoom = *zoom, state_.focus = *focus;
    }
    rebuildLoop();
    answer(connection, "200 OK", {});
}

void SimulatedDevice::rebuildLoop() {
    std::lock_guard rebuilding(rebuildMutex_);
    PictureScene scene;
    {
        std::lock_guard lock(stateMutex_);
        scene = sceneOf(config_, state_);
    }
    std::string error;
    auto loop =
        FrameLoop::build(scene, config_.loopFrames, config_.jpegQuality, framingOf(config_), error);
    if (!loop) return;  // keeps streaming the loop it has
    std::lock_guard lock(stateMutex_);
    loop_ = std::move(loop);
}

bool SimulatedDevice::pause(const Session& session, const Connection& connection,
                            Clock::duration duration) const {
    const auto until = Clock::now() + duration;
    while (!session.closed && !connection.stopping()) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero()) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, kPauseSlice));
    }
    return false;
}

void SimulatedDevice::streamVideo(const std::shared_ptr<Session>& session, Connection& connection) {
    StreamCount counted(stateMutex_, state_.activeVideoStreams);
    const Faults& faults = config_.faults;
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / config_.framesPerSecond));
    auto next = Clock::now();
    for (int number = 1; !session->closed && !connection.stopping(); ++number) {
        const auto loop = frameLoop();
        const size_t index = static_cast<size_t>(number - 1) % loop->size();
        wire::FrameDamage damage;
        damage.badStart = number == faults.badStartFrame;
        damage.flagB40 = number == faults.flagB40Frame;
        if (number == faults.badPacketLengthFrame) damage.badPacketLength = faults.badPacketLength;
        const bool oversized = number == faults.oversizedFrame;
        const bool damaged = damage.badStart || damage.flagB40 || damage.badPacketLength;
        // Stamped as the bytes go to the socket: on loopback the send takes
        // microseconds, and a stamp after it could fall behind a viewer that
        // preempts this thread.
        videoSent_[index % kSentStamps] = steadyNanoseconds();
        const bool sent = damaged || oversized
                              ? connection.send(loop->damagedFrame(index, damage, oversized))
                              : connection.send(loop->wireFrame(index));
        if (!sent || number == faults.closeAfterFrames) break;
        if (number == faults.downAfterFrames && !downFaultUsed_.exchange(true)) {
            goDown(std::chrono::milliseconds(static_cast<int64_t>(faults.downSeconds * 1000)));
            // The stream ends once the port refuses: a viewer that reconnects
            // at once finds the device down.
            const auto giveUp = Clock::now() + std::chrono::seconds(5);
            while (!connection.stopping() && Clock::now() < giveUp)
                std::this_thread::sleep_for(kPauseSlice);
            break;
        }
        if (number == faults.stallAfterFrames &&
            !pause(*session, connection,
                   std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double>(faults.stallSeconds))))
            break;
        if (config_.flatOut) continue;
        next += interval;
        const auto now = Clock::now();
        if (next < now - std::chrono::seconds(1)) next = now;  // fell far behind: no burst
        if (!pause(*session, connection, next - now)) break;
    }
    connection.close();
}

int64_t SimulatedDevice::audioSentAt(int number) const {
    if (number < 1 || static_cast<size_t>(number) > kSentStamps) return 0;
    return audioSent_[number - 1].load();
}

int64_t SimulatedDevice::videoSentAt(size_t loopIndex) const {
    return videoSent_[loopIndex % kSentStamps].load();
}

void SimulatedDevice::streamAudio(const std::shared_ptr<Session>& session, Connection& connection) {
    StreamCount counted(stateMutex_, state_.activeAudioStreams);
    for (std::atomic<int64_t>& stamp : audioSent_) stamp = 0;
    ToneSource tone(config_.toneHz);
    AdpcmEncoder encoder;
    int16_t samples[kAudioSamples];
    const wire::HeaderFlags flags{config_.headerFlagA, config_.headerFlagB};
    // One frame of the device's own clock, which may run off the viewer's.
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(kAudioSamples / 8000.0 / (1 + config_.audioClockPpm * 1e-6)));
    const auto jitterFor = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(config_.audioJitterSeconds));
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> lateUs(0, config_.audioJitterMs * 1000);
    const auto started = Clock::now();
    auto due = started;  // when the frame is due; a late one leaves it unchanged
    for (int number = 1; !session->closed && !connection.stopping(); ++number) {
        tone.fill(samples, kAudioSamples);
        const int16_t predictor = encoder.predictor();
        const int8_t index = encoder.stepIndex();
        const std::string adpcm = encoder.encode(samples, kAudioSamples);
        wire::FrameDamage damage;
        if (number == config_.faults.badAudioLengthFrame) damage.badPacketLength = 4;
        damage.impossibleSize = number == config_.faults.impossibleAudioFrame;
        const std::string frame = wire::audioFrame(predictor, index, adpcm, flags, damage);
        const bool jittered = config_.audioJitterMs > 0 &&
                              (jitterFor == Clock::duration::zero() || due - started < jitterFor);
        if (jittered && !pause(*session, connection,
                               due + std::chrono::microseconds(lateUs(random)) - Clock::now()))
            break;
        if (static_cast<size_t>(number) <= kSentStamps)
            audioSent_[number - 1] = steadyNanoseconds();
        if (!connection.send(frame)) break;
        due += interval;
        const auto now = Clock::now();
        if (due < now - std::chrono::seconds(1)) due = now;
        if (!pause(*session, connection, due - now)) break;
    }
    connection.close();
}

void SimulatedDevice::onDatagram(std::string_view bytes) {
    // "... Session: <30 characters>\r\nConnection: Close\r\n" ends that session's streams.
    constexpr std::string_view kSession = "Session: ";
    const size_t at = bytes.find(kSession);
    if (at == std::string_view::npos || bytes.find("\r\nConnection: Close\r\n") == bytes.npos)
        return;
    const auto session = findSession(bytes.substr(at + kSession.size(), kSessionIdLength));
    if (session) session->closed = true;
}

}  // namespace tess::devsim
