#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SimulatedDevice.h"

namespace tess::devsim {

// Everything the tessarine-devsim program is told on its command line.
struct ProgramOptions {
    std::vector<DeviceConfig> devices;
    std::string logPath;  // --log: JSON lines of every event
    bool discovery = true;
    // Where to listen for searches: the loopback broadcast address hears a
    // viewer that searches on "lo"; 0.0.0.0 hears every broadcast.
    std::string discoveryAddress = "127.255.255.255";
    uint16_t discoveryPort = 7777;       // where search requests arrive
    uint16_t discoveryReplyPort = 3332;  // where replies go
    bool discoveryAnyRequester = false;  // also answer requesters off loopback
    bool help = false;
};

// Applies device options (the per-device part of the command line, or one
// line of a configuration file) to `config`. False with `error` on an unknown
// option or a bad value.
bool parseDeviceOptions(const std::vector<std::string>& args, DeviceConfig& config,
                        std::string& error);

// Splits one configuration line into words: blanks separate, double quotes
// group, "#" outside quotes starts a comment.
std::vector<std::string> splitConfigLine(const std::string& line, std::string& error);

// The whole command line. Device options there describe one device, unless
// --config names a file with one device per line.
bool parseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options,
                         std::string& error);

std::string helpText();

}  // namespace tess::devsim
