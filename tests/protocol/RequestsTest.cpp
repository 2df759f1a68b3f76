#include <gtest/gtest.h>

#include "protocol/Requests.h"

namespace tess {
namespace {

// Every expected text is written out in full, the way a device receives it.
const std::string kSession = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // 30 bytes
const std::string kHeader =
    "HTTP/1.1\r\n"
    "Accept: */* \r\n"
    "Accept-Language: zh-tw\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322)\r\n"
    "Host: 10.1.2.3\r\n"
    "Connection: Keep-Alive\r\n";

TEST(Requests, LoginUsesGetInMixedCaseAndSendsValuesUnescaped) {
    EXPECT_EQ(request::login(u"admin", u"velum", "10.1.2.3"),
              "Get /Login.cgi?Username=admin&Password=velum " + kHeader + "\r\n");
    // A blank and "&" go as they are; wide characters go as their low byte.
    EXPECT_EQ(request::login(u"a b&c", u"p\u00e9\u0141", "10.1.2.3"),
              "Get /Login.cgi?Username=a b&c&Password=p\xe9\x41 " + kHeader + "\r\n");
}

TEST(Requests, StreamRequestsInTheirLongAndShortForms) {
    EXPECT_EQ(request::streamLong(kSession, 3, "10.1.2.3"),
              "GET /RequestStream.cgi?SessionID=" + kSession + "&RES=1&QUA=1&CH=3&NEWHR=1 " +
                  kHeader + "\r\n");
    EXPECT_EQ(request::streamShort(kSession, "10.1.2.3"),
              "GET /RequestStream.cgi?SessionID=" + kSession + " " + kHeader + "\r\n");
}

TEST(Requests, StreamStartsByUrlAndByBodyWithTheirFixedLengths) {
    EXPECT_EQ(request::videoStartByUrl(kSession, "10.1.2.3"),
              "GET /Getvideo.cgi?SessionID=" + kSession + " " + kHeader + "\r\n");
    const std::string video = request::videoStartByBody(kSession, "10.1.2.3");
    EXPECT_EQ(video, "GET / " + kHeader + "Content-Length: 77\r\n\r\nSession: " + kSession +
                         "\r\nCommand: Jpeg\r\nCommand: Start Play\r\n");
    EXPECT_EQ(video.size() - video.find("\r\n\r\n") - 4, 77u);
    const std::string audio = request::audioStart(kSession, "10.1.2.3");
    EXPECT_EQ(audio, "GET / " + kHeader + "Content-Length: 78\r\n\r\nSession: " + kSession +
                         "\r\nCommand: Audio\r\nCommand: Start Play\r\n");
    EXPECT_EQ(audio.size() - audio.find("\r\n\r\n") - 4, 78u);
    // The stated length stays 77 even when the identifier is short.
    EXPECT_NE(request::videoStartByBody("SHORT", "10.1.2.3").find("Content-Length: 77\r\n"),
              std::string::npos);
}

TEST(Requests, ControlDatagramsStateTheirBodyLength) {
    const std::string stats = "Session: " + kSession + "\r\nBitRate: 1234\r\nFrameRate: 25\r\n";
    EXPECT_EQ(request::controlStatistics(kSession, 1234, 25, "10.1.2.3"),
              "GET / " + kHeader + "Content-Length: " + std::to_string(stats.size()) + "\r\n\r\n" +
                  stats);
    const std::string close = "Session: " + kSession + "\r\nConnection: Close\r\n";
    EXPECT_EQ(request::controlClose(kSession, "10.1.2.3"),
              "GET / " + kHeader + "Content-Length: 60\r\n\r\n" + close);
    EXPECT_EQ(close.size(), 60u);
}

TEST(Requests, SetChannelAndCommandHead) {
    EXPECT_EQ(request::setChannel(kSession, 2, "10.1.2.3"),
              "GET /SetChannel.cgi?SessionID=" + kSession + "&CH=2 " + kHeader + "\r\n");
    EXPECT_EQ(request::commandHead("/RS485Cmd.cgi?Command=00", 10, "10.1.2.3"),
              "GET /RS485Cmd.cgi?Command=00 HTTP/1.1\r\n"
              "Accept: */* \r\n"
              "Accept-Language: zh-tw\r\n"
              "Content-Length: 10\r\n"
              "Accept-Encoding: gzip, deflate\r\n"
              "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
              "1.1.4322)\r\n"
              "Host: 10.1.2.3\r\n"
              "Connection: Keep-Alive\r\n\r\n");
}

TEST(Requests, EmptyHostAndCharactersWhoseLowByteIsZero) {
    EXPECT_EQ(request::streamShort(kSession, ""),
              "GET /RequestStream.cgi?SessionID=" + kSession + " " +
                  kHeader.substr(0, kHeader.find("Host: ") + 6) +
                  "\r\nConnection: Keep-Alive\r\n\r\n");
    // U+0100 narrows to a zero byte, where the request text ends.
    EXPECT_EQ(request::login(u"ad\u0100min", u"x", "h"), "Get /Login.cgi?Username=ad");
}

}  // namespace
}  // namespace tess
