// tessarine-devsim: runs simulated devices until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "DevsimOptions.h"
#include "DiscoveryResponder.h"
#include "SimulatedDevice.h"

using namespace tess::devsim;

int main(int argc, char** argv) {
    ProgramOptions options;
    std::string error;
    if (!parseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tessarine-devsim: %s (see --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(helpText().c_str(), stdout);
        return 0;
    }
    // The signals are taken by sigwait below; every thread started later
    // inherits the block. A shell starts background jobs with SIGINT ignored,
    // which would discard it before sigwait could see it.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    std::vector<std::unique_ptr<SimulatedDevice>> devices;
    for (const DeviceConfig& config : options.devices) {
        auto device = std::make_unique<SimulatedDevice>(config);
        if (!device->start()) {
            std::fprintf(stderr, "tessarine-devsim: class %d device: %s\n", config.deviceClass,
                         device->lastError().c_str());
            return 1;
        }
        const std::string where = config.address + ":" + std::to_string(device->port());
        if (!options.logPath.empty()) {
            device->log().setSource(where);
            if (!device->log().writeTo(options.logPath)) {
                std::fprintf(stderr, "tessarine-devsim: cannot write %s\n",
                             options.logPath.c_str());
                return 1;
            }
        }
        std::printf("device class %d on %s\n", config.deviceClass, where.c_str());
        if (device->streamPort() != device->port())
            std::printf("  streams on %s:%u\n", config.address.c_str(), device->streamPort());
        devices.push_back(std::move(device));
    }

    EventLog discoveryLog;
    DiscoveryResponder responder(
        [&devices] {
            std::vector<SearchAnswer> answers;
            for (const auto& device : devices)
                for (const SearchAnswer& answer : device->searchAnswers())
                    answers.push_back(answer);
            return answers;
        },
        discoveryLog);
    if (options.discovery) {
        if (!options.logPath.empty()) {
            discoveryLog.setSource("discovery");
            discoveryLog.writeTo(options.logPath);
        }
        const std::string& where = options.discoveryAddress;
        if (!responder.start(where, options.discoveryPort, options.discoveryReplyPort,
                             options.discoveryAnyRequester)) {
            std::fprintf(stderr, "tessarine-devsim: cannot listen for searches on %s:%u\n",
                         where.c_str(), options.discoveryPort);
            return 1;
        }
        std::printf("discovery on %s:%u\n", where.c_str(), responder.port());
    }
    std::fflush(stdout);

    int signal = 0;
    sigwait(&endSignals, &signal);
    responder.stop();
    for (auto& device : devices) device->stop();
    return 0;
}
