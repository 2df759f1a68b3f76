#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The exact bytes of every request the viewer sends to a device. Requests are
// written as text and sent one byte per character: wide values (user name,
// password) keep only the low byte of each character and nothing is escaped.
// A request ends at its first zero byte, as the device reads it.
namespace tess::request {

// The header lines after the request target. Note the blank after "*/*".
inline constexpr std::string_view kAcceptLines =
    "HTTP/1.1\r\nAccept: */* \r\nAccept-Language: zh-tw\r\n";
inline constexpr std::string_view kAgentLines =
    "Accept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322)\r\n";

// The longest request a device takes: requests are built into 512-byte buffers.
inline constexpr size_t kMaxRequestBytes = 511;

// "Get /Login.cgi?Username=...&Password=... HTTP/1.1 ..." (the method is "Get").
std::string login(std::u16string_view userName, std::u16string_view password,
                  std::string_view localAddress);

// RequestStream.cgi with RES=1, QUA=1, CH=channel, NEWHR=1.
std::string streamLong(std::string_view sessionId, int32_t channel, std::string_view localAddress);
// RequestStream.cgi with the session identifier only.
std::string streamShort(std::string_view sessionId, std::string_view localAddress);

// Video start for the whole-frame device classes.
std::string videoStartByUrl(std::string_view sessionId, std::string_view localAddress);
// Video start for the packet-stream device classes ("Content-Length: 77").
std::string videoStartByBody(std::string_view sessionId, std::string_view localAddress);
// Audio start for every device class ("Content-Length: 78").
std::string audioStart(std::string_view sessionId, std::string_view localAddress);

// Control datagrams: the statistics report and the closing notice.
std::string controlStatistics(std::string_view sessionId, uint32_t bitRate, uint32_t frameRate,
                              std::string_view localAddress);
// The statistics datagram written into `out` without allocating (a streaming
// thread sends one every 2 s); its length, or 0 when it does not fit.
size_t controlStatisticsInto(std::span<char> out, std::string_view sessionId, uint32_t bitRate,
                             uint32_t frameRate, std::string_view localAddress);
std::string controlClose(std::string_view sessionId, std::string_view localAddress);

// SetChannel.cgi for a recorder's channel menu.
std::string setChannel(std::string_view sessionId, int32_t channel, std::string_view localAddress);

// RS485Cmd.cgi heads; the command record follows each head as its binary body
// and Content-Length is the record's length. "Control=R5NS" is the same for
// every device; "PELOCO" and "PROTOCAL" are spelled as devices expect them.
//  - Command form: the record also in the line, as lower-case hex text;
std::string rs485Command(std::string_view recordHex, std::string_view sessionId,
                         size_t recordLength, std::string_view localAddress);
//  - Channel and Pelco channel forms, for channel index `channel` (0-based);
std::string rs485Channel(int32_t channel, int master, std::string_view sessionId,
                         size_t recordLength, std::string_view localAddress);
std::string rs485PelcoChannel(int32_t channel, int master, std::string_view sessionId,
                              size_t recordLength, std::string_view localAddress);
//  - Master key and Channel key forms, always MASTER=1.
std::string rs485MasterKey(std::string_view sessionId, size_t recordLength,
                           std::string_view localAddress);
std::string rs485ChannelKey(int32_t channel, std::string_view sessionId, size_t recordLength,
                            std::string_view localAddress);

// GetCameraInfo.cgi for the camera's location, and SetCameraInfo.cgi with a
// new one (MOD=1); the positions as signed decimal text.
std::string getCameraLocation(std::string_view sessionId, std::string_view localAddress);
std::string setCameraLocation(int64_t pan, int64_t tilt, int64_t zoom, int64_t focus,
                              std::string_view sessionId, std::string_view localAddress);

// A GET request: "GET " target " " header lines "Host: " host CR LF
// "Connection: Keep-Alive" CR LF, then `extraHeaders`, an empty line and `body`.
// Every request above is one of these; the PTZ and camera requests use it too.
std::string get(std::string_view target, std::string_view localAddress,
                std::string_view extraHeaders = {}, std::string_view body = {});

// The head of a request whose binary body follows it: "Content-Length: n"
// stands between the accept and agent lines. The body is sent after the head
// as it is (it may hold zero bytes), so it is not part of this text.
std::string commandHead(std::string_view target, size_t contentLength,
                        std::string_view localAddress);

// The text up to its first zero byte: the session identifier field is zero
// filled when a device sent a short one.
std::string_view untilZero(std::string_view text);

}  // namespace tess::request
