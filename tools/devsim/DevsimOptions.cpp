#include "DevsimOptions.h"

#include <charconv>
#include <fstream>
#include <functional>
#include <map>

namespace tess::devsim {
namespace {

template <typename Number>
bool parseNumber(const std::string& text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "N:SECONDS" or "N:VALUE".
template <typename Second>
bool parsePair(const std::string& text, int& first, Second& second) {
    const size_t colon = text.find(':');
    return colon != std::string::npos && parseNumber(text.substr(0, colon), first) &&
           parseNumber(text.substr(colon + 1), second);
}

bool parseChannel(const std::string& text, ChannelInfo& channel) {
    unsigned id, type, protocol;
    const size_t first = text.find(':'), second = text.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) return false;
    if (!parseNumber(text.substr(0, first), id) ||
        !parseNumber(text.substr(first + 1, second - first - 1), type) ||
        !parseNumber(text.substr(second + 1), protocol) || id > 255 || type > 255 || protocol > 255)
        return false;
    channel = {static_cast<uint8_t>(id), static_cast<uint8_t>(type),
               static_cast<uint8_t>(protocol)};
    return true;
}

struct Option {
    bool takesValue;
    std::function<bool(DeviceConfig&, const std::string&)> apply;
    const char* help;
};

using OptionTable = std::map<std::string, Option>;

template <typename Field>
Option number(Field DeviceConfig::*field, const char* help) {
    return {true,
            [field](DeviceConfig& c, const std::string& v) { return parseNumber(v, c.*field); },
            help};
}
template <typename Field>
Option faultNumber(Field Faults::*field, const char* help) {
    return {
        true,
        [field](DeviceConfig& c, const std::string& v) { return parseNumber(v, c.faults.*field); },
        help};
}
Option text(std::string DeviceConfig::*field, const char* help) {
    return {true, [field](DeviceConfig& c, const std::string& v) { return (c.*field = v), true; },
            help};
}
Option flag(std::function<void(DeviceConfig&)> set, const char* help) {
    return {false, [set](DeviceConfig& c, const std::string&) { return set(c), true; }, help};
}

const OptionTable& deviceOptions() {
    static const OptionTable table = {
        {"--class",
         number(&DeviceConfig::deviceClass, "C  device class: 1, 3, 4, 6, 7, 8 or 50 (6)")},
        {"--product",
         text(&DeviceConfig::productId, "ID  4-character model code (the class's first)")},
        {"--user", text(&DeviceConfig::userName, "NAME  user name the login accepts (admin)")},
        {"--password", text(&DeviceConfig::password, "WORD  password the login accepts (velum)")},
        {"--refusal",
         text(&DeviceConfig::loginRefusal, "STATUS  status of a refused login (\"201 ERR\")")},
        {"--address", text(&DeviceConfig::address, "IP  address to listen on (127.0.0.1)")},
        {"--port", number(&DeviceConfig::port, "N  CGI, stream and datagram port (0: a free one)")},
        {"--separate-stream-port",
         flag([](DeviceConfig& c) { c.separateStreamPort = true; },
              "classes 1/6/7/8: streams on their own port, told by Stream-Port")},
        {"--user-level", number(&DeviceConfig::userLevel, "N  USERLEVEL reply value (30)")},
        {"--device-id", number(&DeviceConfig::deviceId, "N  Device-ID0 reply value (1)")},
        {"--device-type", number(&DeviceConfig::deviceType, "N  Device-Type0 reply value (0)")},
        {"--channel",
         {true,
          [](DeviceConfig& c, const std::string& v) {
              ChannelInfo channel;
              if (!parseChannel(v, channel)) return false;
              c.channels.push_back(channel);
              return true;
          },
          "ID:TYPE:PROTOCOL  one SLAVENUM/MASTERNUM record (repeat; class default otherwise)"}},
        {"--extra-mode",
         number(&DeviceConfig::extraOperationMode, "N  ExtraOperation-Mode (1; 0: MPEG-4 only)")},
        {"--size",
         {true,
          [](DeviceConfig& c, const std::string& v) {
              const size_t x = v.find('x');
              return x != std::string::npos && parseNumber(v.substr(0, x), c.width) &&
                     parseNumber(v.substr(x + 1), c.height);
          },
          "WxH  picture size (352x240)"}},
        {"--fps", number(&DeviceConfig::framesPerSecond, "N  frames per second (25)")},
        {"--quality",
         number(&DeviceConfig::jpegQuality, "Q  JPEG quality 1-100 (0: fit the viewer's slot)")},
        {"--loop", number(&DeviceConfig::loopFrames, "N  pre-encoded frames in the loop (25)")},
        {"--flat-out",
         flag([](DeviceConfig& c) { c.flatOut = true; }, "stream as fast as the socket takes it")},
        {"--long-media-header", flag([](DeviceConfig& c) { c.longMediaHeader = true; },
                                     "packet stream: 104-byte video MediaHeader")},
        {"--flag-a",
         number(&DeviceConfig::headerFlagA, "N  flag byte A of every packet header (0)")},
        {"--flag-b",
         number(&DeviceConfig::headerFlagB, "N  flag byte B, bits 0x01/0x02/0x04 only (0)")},
        {"--no-audio", flag([](DeviceConfig& c) { c.audio = false; }, "refuse the audio start")},
        {"--tone", number(&DeviceConfig::toneHz, "HZ  audio tone (440; 0: a 200-2000 Hz sweep)")},
        {"--audio-jitter",
         number(&DeviceConfig::audioJitterMs,
                "MS  send each audio frame up to MS ms late, at random; same average rate (0)")},
        {"--audio-jitter-seconds",
         number(&DeviceConfig::audioJitterSeconds,
                "N  audio jitter only in the first N seconds of a stream (0: all along)")},
        {"--audio-clock-ppm",
         number(&DeviceConfig::audioClockPpm,
                "N  the audio clock runs N parts per million fast; negative: slow (0)")},
        {"--search-type",
         number(&DeviceConfig::searchTypeCode, "N  discovery type code (class default)")},
        {"--search-after",
         {true,
          [](DeviceConfig& c, const std::string& v) {
              // The first use replaces the default immediate reply.
              if (!c.searchDelaysGiven) c.searchDelaysMs.clear();
              c.searchDelaysGiven = true;
              int delay;
              if (!parseNumber(v, delay)) return false;
              c.searchDelaysMs.push_back(delay);
              return true;
          },
          "MS  answer a search MS ms after the request (repeat: one reply each; 0)"}},
        {"--search-size", number(&DeviceConfig::searchReplySize,
                                 "N  bytes of each search reply, cut or padded (76)")},
        {"--search-address",
         text(&DeviceConfig::searchAddress, "IP  address a search reply names (--address)")},
        {"--reply-fault",
         {true,
          [](DeviceConfig& c, const std::string& v) {
              static const std::map<std::string, ReplyFault> kinds = {
                  {"201", ReplyFault::Err201},
                  {"202", ReplyFault::Error202},
                  {"garbage", ReplyFault::Garbage},
                  {"silence", ReplyFault::Silence}};
              const auto it = kinds.find(v);
              if (it == kinds.end()) return false;
              c.faults.reply = it->second;
              return true;
          },
          "KIND  CGI replies \"201 ERR\", \"202 ERROR\", garbage or silence "
          "(201|202|garbage|silence)"}},
        {"--reply-fault-path",
         {true,
          [](DeviceConfig& c, const std::string& v) { return (c.faults.replyPath = v), true; },
          "PATH  only that CGI path gets the reply fault, e.g. /Login.cgi (every one)"}},
        {"--refuse-login", flag([](DeviceConfig& c) { c.faults.refuseLogin = true; },
                                "refuse every login as if the credentials were wrong")},
        {"--stall",
         {true,
          [](DeviceConfig& c, const std::string& v) {
              return parsePair(v, c.faults.stallAfterFrames, c.faults.stallSeconds);
          },
          "N:T  stop sending for T seconds after N frames of a video stream"}},
        {"--close-after",
         faultNumber(&Faults::closeAfterFrames, "N  close the video stream after N frames")},
        {"--bad-start", faultNumber(&Faults::badStartFrame,
                                    "N  frame N does not begin with the JPEG start marker")},
        {"--oversized",
         faultNumber(&Faults::oversizedFrame, "N  frame N is larger than 25000 bytes")},
        {"--bad-packet-length",
         {true,
          [](DeviceConfig& c, const std::string& v) {
              return parsePair(v, c.faults.badPacketLengthFrame, c.faults.badPacketLength);
          },
          "N:L  a packet of frame N states length L (packet stream: below its header or\n"
          "                             above 1600; whole frame: L + header below 1600)"}},
        {"--flag-b40",
         faultNumber(&Faults::flagB40Frame, "N  frame N's first packet header has flag B 0x40")},
        {"--down",
         {true,
          [](DeviceConfig& c, const std::string& v) {
              return parsePair(v, c.faults.downAfterFrames, c.faults.downSeconds);
          },
          "N:T  after N frames the device refuses connections for T seconds, then comes back"}},
    };
    return table;
}

}  // namespace

bool parseDeviceOptions(const std::vector<std::string>& args, DeviceConfig& config,
                        std::string& error) {
    const OptionTable& table = deviceOptions();
    for (size_t i = 0; i < args.size(); ++i) {
        const auto it = table.find(args[i]);
        if (it == table.end()) {
            error = "unknown option " + args[i];
            return false;
        }
        std::string value;
        if (it->second.takesValue) {
            if (i + 1 == args.size()) {
                error = args[i] + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!it->second.apply(config, value)) {
            error = "bad value for " + args[i - it->second.takesValue] + ": " + value;
            return false;
        }
    }
    return true;
}

std::vector<std::string> splitConfigLine(const std::string& line, std::string& error) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, inWord = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                word += c;
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == '#') {
            break;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) error = "unterminated quote";
    if (inWord) words.push_back(word);
    return words;
}

bool parseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options,
                         std::string& error) {
    std::vector<std::string> deviceArgs;
    std::string configPath;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 == args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto port = [&](uint16_t& out) {
            std::string text;
            if (!value(text)) return false;
            if (!parseNumber(text, out)) {
                error = "bad value for " + arg + ": " + text;
                return false;
            }
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--config") {
            if (!value(configPath)) return false;
        } else if (arg == "--log") {
            if (!value(options.logPath)) return false;
        } else if (arg == "--discovery-address") {
            if (!value(options.discoveryAddress)) return false;
        } else if (arg == "--discovery-port") {
            if (!port(options.discoveryPort)) return false;
        } else if (arg == "--discovery-reply-port") {
            if (!port(options.discoveryReplyPort)) return false;
        } else if (arg == "--no-discovery") {
            options.discovery = false;
        } else if (arg == "--discovery-any") {
            options.discoveryAnyRequester = true;
        } else {
            deviceArgs.push_back(arg);
        }
    }
    if (options.help) return true;
    if (!configPath.empty() && !deviceArgs.empty()) {
        error = "device options go into the --config file, one device per line";
        return false;
    }
    if (configPath.empty()) {
        DeviceConfig config;
        if (!parseDeviceOptions(deviceArgs, config, error)) return false;
        options.devices.push_back(config);
        return true;
    }
    std::ifstream file(configPath);
    if (!file) {
        error = "cannot read " + configPath;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::vector<std::string> words = splitConfigLine(line, error);
        DeviceConfig config;
        if (error.empty() && !words.empty()) parseDeviceOptions(words, config, error);
        if (!error.empty()) {
            error = configPath + ":" + std::to_string(number) + ": " + error;
            return false;
        }
        if (!words.empty()) options.devices.push_back(config);
    }
    if (options.devices.empty()) {
        error = configPath + " describes no device";
        return false;
    }
    return true;
}

std::string helpText() {
    std::string text =
        "usage: tessarine-devsim [device options] [program options]\n"
        "       tessarine-devsim --config FILE [program options]\n\n"
        "Simulates networked video devices on loopback: login and stream negotiation,\n"
        "JPEG video, ADPCM audio, RS-485 and camera commands, LAN discovery and faults.\n"
        "Prints \"device class C on ADDRESS:PORT\" for each device once it listens;\n"
        "SIGINT or SIGTERM ends it.\n\n"
        "Program options:\n"
        "  --config FILE              one device per line, with the device options below;\n"
        "                             blanks separate, \"...\" groups, # starts a comment\n"
        "  --log FILE                 append every request and datagram as JSON lines\n"
        "  --discovery-address IP     address to listen for searches on; 0.0.0.0 hears\n"
        "                             every broadcast (127.255.255.255: loopback's)\n"
        "  --discovery-port N         port search requests arrive on (7777)\n"
        "  --discovery-reply-port N   port search replies go to (3332)\n"
        "  --discovery-any            also answer requesters outside 127.0.0.0/8\n"
        "  --no-discovery             no search responder\n"
        "  --help                     this text\n\n"
        "Device options:\n";
    for (const auto& [name, option] : deviceOptions()) {
        std::string help = option.help;
        std::string argument;
        if (option.takesValue) {
            argument = help.substr(0, help.find("  "));
            help = help.substr(argument.size() + 2);
        }
        std::string left = "  " + name + (argument.empty() ? "" : " " + argument);
        left.resize(std::max<size_t>(left.size() + 1, 29), ' ');
        text += left + help + "\n";
    }
    text +=
        "\nFrame numbers count from 1 in each video stream.\n"
        "Example: tessarine-devsim --class 6 --port 8006 --size 704x480\n";
    return text;
}

}  // namespace tess::devsim
