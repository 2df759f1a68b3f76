#include "protocol/Requests.h"

#include <array>
#include <charconv>
#include <span>

namespace tess::request {
namespace {

// Copies `pieces` one after another into `out`; the count written, or 0 when
// they do not fit.
template <typename... Pieces>
size_t copyAll(std::span<char> out, const Pieces&... pieces) {
    size_t length = 0;
    bool fits = true;
    auto copy = [&](std::string_view piece) {
        fits = fits && piece.size() <= out.size() - length;
        if (fits) length += piece.copy(out.data() + length, piece.size());
    };
    (copy(std::string_view(pieces)), ...);
    return fits ? length : 0;
}

// Decimal text of `value` in a small buffer of the caller's, without allocating.
std::string_view decimal(char (&buffer)[12], uint64_t value) {
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return {buffer, static_cast<size_t>(end - buffer)};
}

void appendLowBytes(std::string& out, std::u16string_view text) {
    for (char16_t c : text) out.push_back(static_cast<char>(c & 0xFF));
}

std::string withMethod(std::string_view method, std::string_view target,
                       std::string_view headerLines, std::string_view localAddress,
                       std::string_view extraHeaders, std::string_view body) {
    std::string out;
    out.reserve(512);
    out.append(method).append(" ").append(target).append(" ").append(headerLines);
    out.append("Host: ").append(untilZero(localAddress)).append("\r\n");
    out.append("Connection: Keep-Alive\r\n").append(extraHeaders).append("\r\n").append(body);
    return std::string(untilZero(out));
}

std::string headerBlock() {
    std::string block(kAcceptLines);
    block.append(kAgentLines);
    return block;
}

std::string streamStartBody(std::string_view sessionId, std::string_view command) {
    std::string body = "Session: ";
    body.append(untilZero(sessionId)).append("\r\nCommand: ").append(command);
    body.append("\r\nCommand: Start Play\r\n");
    return body;
}

std::string controlMessage(std::string_view sessionId, std::string_view tail,
                           std::string_view localAddress) {
    std::string body = "Session: ";
    body.append(untilZero(sessionId)).append(tail);
    return get("/", localAddress, "Content-Length: " + std::to_string(body.size()) + "\r\n", body);
}

// The RS485Cmd.cgi head of the forms that name the record by "Control=R5NS".
std::string rs485Control(std::string_view query, std::string_view sessionId, size_t recordLength,
                         std::string_view localAddress) {
    std::string target = "/RS485Cmd.cgi?Control=R5NS";
    target.append(query).append("&SessionID=").append(untilZero(sessionId));
    return commandHead(target, recordLength, localAddress);
}

}  // namespace

std::string_view untilZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

std::string get(std::string_view target, std::string_view localAddress,
                std::string_view extraHeaders, std::string_view body) {
    return withMethod("GET", target, headerBlock(), localAddress, extraHeaders, body);
}

std::string commandHead(std::string_view target, size_t contentLength,
                        std::string_view localAddress) {
    std::string lines(kAcceptLines);
    lines.append("Content-Length: ").append(std::to_string(contentLength)).append("\r\n");
    lines.append(kAgentLines);
    return withMethod("GET", target, lines, localAddress, {}, {});
}

std::string login(std::u16string_view userName, std::u16string_view password,
                  std::string_view localAddress) {
    std::string target = "/Login.cgi?Username=";
    appendLowBytes(target, userName);
    target.append("&Password=");
    appendLowBytes(target, password);
    return withMethod("Get", target, headerBlock(), localAddress, {}, {});
}

std::string streamLong(std::string_view sessionId, int32_t channel, std::string_view localAddress) {
    std::string target = "/RequestStream.cgi?SessionID=";
    target.append(untilZero(sessionId)).append("&RES=1&QUA=1&CH=");
    target.append(std::to_string(channel)).append("&NEWHR=1");
    return get(target, localAddress);
}

std::string streamShort(std::string_view sessionId, std::string_view localAddress) {
    std::string target = "/RequestStream.cgi?SessionID=";
    target.append(untilZero(sessionId));
    return get(target, localAddress);
}

std::string videoStartByUrl(std::string_view sessionId, std::string_view localAddress) {
    std::string target = "/Getvideo.cgi?SessionID=";
    target.append(untilZero(sessionId));
    return get(target, localAddress);
}

// The stated lengths are fixed: "Session: " (9) + the 30-byte identifier +
// the 38-byte video or 39-byte audio command lines.
std::string videoStartByBody(std::string_view sessionId, std::string_view localAddress) {
    return get("/", localAddress, "Content-Length: 77\r\n", streamStartBody(sessionId, "Jpeg"));
}

std::string audioStart(std::string_view sessionId, std::string_view localAddress) {
    return get("/", localAddress, "Content-Length: 78\r\n", streamStartBody(sessionId, "Audio"));
}

size_t controlStatisticsInto(std::span<char> out, std::string_view sessionId, uint32_t bitRate,
                             uint32_t frameRate, std::string_view localAddress) {
    char bitRateText[12], frameRateText[12], lengthText[12];
    const std::string_view id = untilZero(sessionId);
    const std::string_view bits = decimal(bitRateText, bitRate);
    const std::string_view frames = decimal(frameRateText, frameRate);
    constexpr std::string_view kSession = "Session: ", kBitRate = "\r\nBitRate: ",
                               kFrameRate = "\r\nFrameRate: ", kLineEnd = "\r\n";
    const size_t bodyLength = kSession.size() + id.size() + kBitRate.size() + bits.size() +
                              kFrameRate.size() + frames.size() + kLineEnd.size();
    return copyAll(
        out, "GET / ", kAcceptLines, kAgentLines, "Host: ", untilZero(localAddress),
        "\r\nConnection: Keep-Alive\r\nContent-Length: ", decimal(lengthText, bodyLength),
        "\r\n\r\n", kSession, id, kBitRate, bits, kFrameRate, frames, kLineEnd);
}

std::string controlStatistics(std::string_view sessionId, uint32_t bitRate, uint32_t frameRate,
                              std::string_view localAddress) {
    std::array<char, kMaxRequestBytes + 1> out;
    const size_t length = controlStatisticsInto(out, sessionId, bitRate, frameRate, localAddress);
    return {out.data(), length};
}

std::string controlClose(std::string_view sessionId, std::string_view localAddress) {
    return controlMessage(sessionId, "\r\nConnection: Close\r\n", localAddress);
}

std::string setChannel(std::string_view sessionId, int32_t channel, std::string_view localAddress) {
    std::string target = "/SetChannel.cgi?SessionID=";
    target.append(untilZero(sessionId)).append("&CH=").append(std::to_string(channel));
    return get(target, localAddress);
}

std::string rs485Command(std::string_view recordHex, std::string_view sessionId,
                         size_t recordLength, std::string_view localAddress) {
    std::string target = "/RS485Cmd.cgi?Command=";
    target.append(recordHex).append("&SessionID=").append(untilZero(sessionId));
    return commandHead(target, recordLength, localAddress);
}

std::string rs485Channel(int32_t channel, int master, std::string_view sessionId,
                         size_t recordLength, std::string_view localAddress) {
    return rs485Control("&CH=" + std::to_string(channel) + "&MASTER=" + std::to_string(master),
                        sessionId, recordLength, localAddress);
}

std::string rs485PelcoChannel(int32_t channel, int master, std::string_view sessionId,
                              size_t recordLength, std::string_view localAddress) {
    return rs485Control("&CH=" + std::to_string(channel) +
                            "&PELOCO=1&PROTOCAL=PELCO&MASTER=" + std::to_string(master),
                        sessionId, recordLength, localAddress);
}

std::string rs485MasterKey(std::string_view sessionId, size_t recordLength,
                           std::string_view localAddress) {
    return rs485Control("&MASTER=1", sessionId, recordLength, localAddress);
}

std::string rs485ChannelKey(int32_t channel, std::string_view sessionId, size_t recordLength,
                            std::string_view localAddress) {
    return rs485Control("&CH=" + std::to_string(channel) + "&MASTER=1", sessionId, recordLength,
                        localAddress);
}

std::string getCameraLocation(std::string_view sessionId, std::string_view localAddress) {
    std::string target = "/GetCameraInfo.cgi?Information=Location&SessionID=";
    target.append(untilZero(sessionId));
    return get(target, localAddress);
}

std::string setCameraLocation(int64_t pan, int64_t tilt, int64_t zoom, int64_t focus,
                              std::string_view sessionId, std::string_view localAddress) {
    std::string target = "/SetCameraInfo.cgi?LocationP=" + std::to_string(pan);
    target.append("&LocationT=").append(std::to_string(tilt));
    target.append("&LocationZ=").append(std::to_string(zoom));
    target.append("&LocationF=").append(std::to_string(focus));
    target.append("&MOD=1&SessionID=").append(untilZero(sessionId));
    return get(target, localAddress);
}

}  // namespace tess::request
