#include "PaneTestSupport.h"

#include <dirent.h>

#include <cstdio>
#include <thread>

namespace tess::panetest {

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

int threadsOfThisProcess() {
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(tasks);
    }
    return count;
}

int countRequests(devsim::SimulatedDevice& device, std::string_view path) {
    int count = 0;
    for (const std::string& request : device.log().requests())
        if (request.find(path) != std::string::npos) ++count;
    return count;
}

int countDatagrams(devsim::SimulatedDevice& device, std::string_view text) {
    int count = 0;
    for (const std::string& datagram : device.log().datagrams())
        if (datagram.find(text) != std::string::npos) ++count;
    return count;
}

std::unique_ptr<devsim::SimulatedDevice> startedDevice(devsim::DeviceConfig config) {
    auto device = std::make_unique<devsim::SimulatedDevice>(std::move(config));
    if (device->start()) return device;
    std::fprintf(stderr, "simulator does not start: %s\n", device->lastError().c_str());
    return nullptr;
}

std::unique_ptr<devsim::SimulatedDevice> deviceHangingAt(std::string path) {
    devsim::DeviceConfig config;
    config.faults.reply = devsim::ReplyFault::Silence;
    config.faults.replyPath = std::move(path);
    return startedDevice(std::move(config));
}

DeviceEntry deviceEntryFor(const devsim::SimulatedDevice& device, uint16_t avFlags) {
    DeviceEntry entry(EntryKind::device);
    entry.setLabel(u"Camera");
    describeDevice(entry, device, avFlags);
    return entry;
}

void describeDevice(DeviceEntry& entry, const devsim::SimulatedDevice& device, uint16_t avFlags) {
    entry.setAddress(u"127.0.0.1");
    entry.setUserName(u"admin");
    entry.setPassword(u"velum");
    entry.setPort(device.port());
    entry.setAvFlags(avFlags);
}

bool InstantAudioOut::enqueue(std::span<const int16_t> block) {
    const uint64_t index = blocks_.load();
    if (index < kMaxStamps) {
        stamps_[index] = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    }
    blocks_ = index + 1;
    samples += block.size();
    blockDone();
    return true;
}

void RecordingEvents::note(PaneStamp stamp) {
    std::lock_guard lock(mutex_);
    stamps_.push_back(stamp);
}

void RecordingEvents::loginFinished(PaneStamp stamp, bool loggedIn) {
    note(stamp);
    (loggedIn ? successes : failures)++;
}

void RecordingEvents::modelKnown(PaneStamp stamp, int32_t deviceClass) {
    note(stamp);
    lastModel_ = deviceClass;
    ++models;
    if (afterModel) afterModel(stamp);
}

void RecordingEvents::negotiated(PaneStamp stamp, const SessionFacts& facts) {
    note(stamp);
    {
        std::lock_guard lock(mutex_);
        lastFacts_ = facts;
    }
    ++negotiations;
}

void RecordingEvents::connectFailed(PaneStamp stamp, RequestResult result) {
    note(stamp);
    std::lock_guard lock(mutex_);
    failureResults_.push_back(result);
}

void RecordingEvents::pictureLost(PaneStamp stamp) {
    note(stamp);
    ++picturesLost;
}

void RecordingEvents::commandFinished(PaneStamp stamp, RequestResult result,
                                      std::optional<int32_t> channel) {
    note(stamp);
    {
        std::lock_guard lock(mutex_);
        lastCommand_ = CommandOutcome{result, channel};
    }
    ++commands;
}

std::vector<RequestResult> RecordingEvents::failureResults() const {
    std::lock_guard lock(mutex_);
    return failureResults_;
}

std::vector<PaneStamp> RecordingEvents::stamps() const {
    std::lock_guard lock(mutex_);
    return stamps_;
}

std::optional<SessionFacts> RecordingEvents::lastFacts() const {
    std::lock_guard lock(mutex_);
    return lastFacts_;
}

std::optional<CommandOutcome> RecordingEvents::lastCommand() const {
    std::lock_guard lock(mutex_);
    return lastCommand_;
}

ReleasingConsumer::ReleasingConsumer(FrameQueue& frames)
    : frames_(frames),
      thread_(
          "TestConsumer", [this](const WorkerThread::StopRequest& stop) { run(stop); },
          [this] { frames_.cancel(); }) {
    for (std::vector<uint8_t>& frame : captured_) frame.reserve(FrameQueue::kSlotBytes);
}

void ReleasingConsumer::run(const WorkerThread::StopRequest& stop) {
    while (!stop && frames_.waitFrame()) {
        const std::span<const uint8_t> frame = frames_.frame();
        const size_t index = capturedCount_.load();
        if (capturing_ && index < kCaptureFrames) {
            captured_[index].assign(frame.begin(), frame.end());
            capturedCount_ = index + 1;
        }
        if (frame.size() >= 2 && frame[0] == 0xFF && frame[1] == 0xD8) ++jpegFrames;
        bytes_ += frame.size();
        ++framesTaken_;
        frames_.releaseFrame();
    }
}

LoginData loginFor(const devsim::SimulatedDevice& device) {
    return {u"127.0.0.1", u"admin", u"velum", static_cast<int32_t>(device.port()),
            u"Simulated camera"};
}

uint32_t startPaneOn(PaneRuntime& pane, const devsim::SimulatedDevice& device, bool video,
                     bool audio) {
    pane.connection().videoWanted = video;
    pane.connection().audioWanted = audio;
    return pane.startPane(loginFor(device));
}

TestPane::TestPane(int number, AudioOut* sharedOutput, const PaneTimings& timings)
    : runtime(std::make_unique<PaneRuntime>(number, sharedOutput ? *sharedOutput : audioOut, events,
                                            timings)),
      consumer(std::make_unique<ReleasingConsumer>(runtime->frames())) {
    runtime->setFrameConsumer(consumer.get());
}

TestPane::~TestPane() {
    // The runtime joins the consumer's thread before the consumer goes.
    runtime.reset();
}

}  // namespace tess::panetest
