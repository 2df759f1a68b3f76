#pragma once

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "SimulatedDevice.h"
#include "media/PaneRuntime.h"
#include "platform/WorkerThread.h"

// What the tests that run whole panes against simulated devices share: the
// window side's stand-ins and bounded waits.
namespace tess::panetest {

using namespace std::chrono_literals;

inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

inline int threadsOfThisProcess() {
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(tasks);
    }
    return count;
}

// A sound output that plays every block at once.
class InstantAudioOut : public AudioOut {
public:
    std::atomic<uint64_t> samples{0};

private:
    size_t queuedBlocks() override { return 0; }
    bool enqueue(std::span<const int16_t> block) override {
        samples += block.size();
        blockDone();
        return true;
    }
    void dropQueued() override {}
};

class CountingListener : public PaneListener {
public:
    void loginFinished(bool loggedIn) override { (loggedIn ? successes : failures)++; }
    void requestRepaint() override { ++repaints; }
    std::atomic<int> successes{0}, failures{0}, repaints{0};
};

// Stands in for the render thread: takes every frame, counts the JPEG ones
// and gives the slot back.
class ReleasingConsumer : public FrameConsumer {
public:
    explicit ReleasingConsumer(FrameQueue& frames) : frames_(frames) {}
    void startConsumer() override {
        stop_ = false;
        thread_ = std::make_unique<WorkerThread>("TestConsumer", [this] {
            while (!stop_ && frames_.waitFrame()) {
                const auto frame = frames_.frame();
                if (frame.size() >= 2 && frame[0] == 0xFF && frame[1] == 0xD8) ++jpegFrames;
                frames_.releaseFrame();
            }
        });
    }
    void requestConsumerStop() override { stop_ = true; }
    bool waitConsumerEnd(uint32_t timeoutMs) override {
        if (!thread_ || !thread_->waitFor(timeoutMs)) return !thread_;
        thread_.reset();
        return true;
    }
    std::atomic<int> jpegFrames{0};

private:
    FrameQueue& frames_;
    std::atomic<bool> stop_{false};
    std::unique_ptr<WorkerThread> thread_;
};

// Fills a pane's session for the simulator's default account and starts it.
inline void startPaneOn(PaneRuntime& pane, const devsim::SimulatedDevice& device, bool video,
                        bool audio) {
    SessionInfo& session = pane.session();
    session.host = u"127.0.0.1";
    session.userName = u"admin";
    session.password = u"velum";
    session.devicePort = device.port();
    session.streamPort = device.port();
    session.videoWanted = video;
    session.audioWanted = audio;
    pane.startPane();
}

}  // namespace tess::panetest
