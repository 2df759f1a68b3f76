#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "SimulatedDevice.h"
#include "directory/DeviceEntry.h"
#include "pane/PaneRuntime.h"
#include "platform/WorkerThread.h"

// What the tests and benchmarks that run whole panes against simulated
// devices share: stand-ins for the window side and the sound output, and
// bounded waits.
namespace tess::panetest {

using namespace std::chrono_literals;

// Polls `done` every 20 ms until it holds or `limit` has passed.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit);

int threadsOfThisProcess();

// What a simulated device saw: requests holding `path`, datagrams holding `text`.
int countRequests(devsim::SimulatedDevice& device, std::string_view path);
int countDatagrams(devsim::SimulatedDevice& device, std::string_view text);

// A started simulated device, or null after saying on standard error why it
// could not start.
std::unique_ptr<devsim::SimulatedDevice> startedDevice(devsim::DeviceConfig config);

// A started device of class 6 that accepts every request on `path` and never
// answers it; null when it cannot start.
std::unique_ptr<devsim::SimulatedDevice> deviceHangingAt(std::string path);

// A directory entry for `device` with the simulator's default account.
DeviceEntry deviceEntryFor(const devsim::SimulatedDevice& device, uint16_t avFlags);
// Points the device entry `entry` at `device` (its address, port and login)
// with `avFlags`.
void describeDevice(DeviceEntry& entry, const devsim::SimulatedDevice& device, uint16_t avFlags);

// A sound output that finishes every block as soon as it is written. It
// stamps the wall-clock time of the first kMaxStamps writes into storage
// reserved beforehand, so that it allocates nothing while playing.
class InstantAudioOut : public AudioOut {
public:
    static constexpr size_t kMaxStamps = 256;

    std::atomic<uint64_t> samples{0};
    uint64_t blocks() const { return blocks_.load(); }
    // Microseconds since the Unix epoch of block `index`'s write.
    int64_t stamp(size_t index) const { return stamps_[index]; }

private:
    size_t queuedBlocks() override { return 0; }
    bool enqueue(std::span<const int16_t> block) override;
    void dropQueued() override {}

    std::atomic<uint64_t> blocks_{0};
    std::array<int64_t, kMaxStamps> stamps_{};
};

// Counts every report a pane makes and keeps the latest of each kind.
class RecordingEvents : public PaneEvents {
public:
    std::function<void(PaneStamp)> afterModel;  // on the connect thread; set before a start
    void loginFinished(PaneStamp stamp, bool loggedIn) override;
    void modelKnown(PaneStamp stamp, int32_t deviceClass) override;
    void negotiated(PaneStamp stamp, const SessionFacts& facts) override;
    void connectFailed(PaneStamp stamp, RequestResult result) override;
    void pictureLost(PaneStamp stamp) override;
    void commandFinished(PaneStamp stamp, RequestResult result,
                         std::optional<int32_t> channel) override;

    std::atomic<int> successes{0}, failures{0}, models{0}, negotiations{0}, picturesLost{0},
        commands{0};
    std::vector<RequestResult> failureResults() const;
    std::vector<PaneStamp> stamps() const;
    std::optional<SessionFacts> lastFacts() const;
    std::optional<CommandOutcome> lastCommand() const;
    int32_t lastModel() const { return lastModel_.load(); }

private:
    void note(PaneStamp stamp);

    mutable std::mutex mutex_;
    std::vector<RequestResult> failureResults_;
    std::vector<PaneStamp> stamps_;
    std::optional<SessionFacts> lastFacts_;
    std::optional<CommandOutcome> lastCommand_;
    std::atomic<int32_t> lastModel_{-1};
};

// Stands in for the render thread: takes every frame and gives the slot back
// at once, counting the JPEG ones. On request it copies the next frames into
// storage reserved beforehand.
class ReleasingConsumer : public FrameConsumer {
public:
    static constexpr size_t kCaptureFrames = 25;

    explicit ReleasingConsumer(FrameQueue& frames);
    void startConsumer() override { thread_.start(); }
    void requestConsumerStop() override { thread_.requestStop(); }
    void joinConsumer() override { thread_.join(); }

    std::atomic<int> jpegFrames{0};
    uint64_t frames() const { return framesTaken_.load(); }
    uint64_t bytes() const { return bytes_.load(); }
    void capture() { capturing_ = true; }
    size_t capturedCount() const { return capturedCount_.load(); }
    // Only once capturedCount() has reached kCaptureFrames.
    const std::array<std::vector<uint8_t>, kCaptureFrames>& captured() const { return captured_; }

private:
    void run(const WorkerThread::StopRequest& stop);

    FrameQueue& frames_;
    std::atomic<bool> capturing_{false};
    std::atomic<size_t> capturedCount_{0};
    std::atomic<uint64_t> framesTaken_{0};
    std::atomic<uint64_t> bytes_{0};
    std::array<std::vector<uint8_t>, kCaptureFrames> captured_;
    WorkerThread thread_;
};

// The login of the simulator's default account on `device`.
LoginData loginFor(const devsim::SimulatedDevice& device);

// Sets the wanted streams and starts `pane` on `device`; the new generation.
uint32_t startPaneOn(PaneRuntime& pane, const devsim::SimulatedDevice& device, bool video,
                     bool audio);

// Retries 100 ms apart, a stream ends after 1 s quiet, every other limit and period 500 ms.
inline constexpr PaneTimings kShortTimings{100, 500, 500, 1000, 500, 500};

// A runtime with its stand-ins, for one pane; it plays into its own output
// unless given one that several panes share.
struct TestPane {
    explicit TestPane(int number = 0, AudioOut* sharedOutput = nullptr,
                      const PaneTimings& timings = kProductTimings);
    ~TestPane();

    RecordingEvents events;
    InstantAudioOut audioOut;
    std::unique_ptr<PaneRuntime> runtime;
    std::unique_ptr<ReleasingConsumer> consumer;
};

}  // namespace tess::panetest
