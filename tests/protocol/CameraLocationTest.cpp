#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/CameraLocation.h"
#include "protocol/CgiExchange.h"

namespace tess {
namespace {

TEST(CameraLocation, FiveDigitValuesSignsAndTheLowSixteenBits) {
    ReportedLocation location;
    EXPECT_EQ(readLocationReply("200 OK LOCATION-PAN=17655;LOCATION-TILT=-1;"
                                "LOCATION-ZOOM=70000;LOCATION-FOCUS= +12;",
                                location),
              4);
    EXPECT_EQ(location.pan, 17655);
    EXPECT_EQ(location.tilt, 65535);
    EXPECT_EQ(location.zoom, 70000 - 65536);
    EXPECT_EQ(location.focus, 12);
    EXPECT_TRUE(location.complete());

    // Ten digits saturate at 32 bits before the low 16 are kept.
    ReportedLocation saturated;
    readLocationReply("LOCATION-PAN=9999999999;LOCATION-TILT=-9999999999;", saturated);
    EXPECT_EQ(saturated.pan, 0xFFFF);
    EXPECT_EQ(saturated.tilt, 0x0000);
}

// Blanks before a value are spaces and tabs, in any mix.
TEST(CameraLocation, TabsAndSpacesBeforeAValueAreSkipped) {
    ReportedLocation location;
    EXPECT_EQ(readLocationReply("LOCATION-PAN=\t17000;LOCATION-TILT= \t -42;", location), 2);
    EXPECT_EQ(location.pan, 17000);
    EXPECT_EQ(location.tilt, 65536 - 42);
}

TEST(CameraLocation, MissingOrMalformedValuesKeepWhatWasKnown) {
    ReportedLocation location;
    location.zoom = 321;
    location.focus = 9;
    // Eleven digits, and a value without its ";": absent.
    EXPECT_EQ(
        readLocationReply("LOCATION-PAN=12345678901;LOCATION-TILT=5;LOCATION-FOCUS=7", location),
        1);
    EXPECT_FALSE(location.pan);
    EXPECT_EQ(location.tilt, 5);
    EXPECT_EQ(location.zoom, 321);
    EXPECT_EQ(location.focus, 9);
    EXPECT_FALSE(location.complete());

    EXPECT_EQ(readLocationReply("LOCATION-PAN", location), 0);  // the key at the very end
    EXPECT_EQ(readLocationReply(std::string("LOCATION-\0PAN=1;", 16), location), 0);
}

// A reply is one receive of at most 256 bytes: a key beyond is never seen.
TEST(CameraLocation, KeyPastTheReplyBufferIsNotRead) {
    const std::string text = std::string(250, ' ') + "LOCATION-PAN=17000;";
    CommandReply reply;
    std::memcpy(reply.bytes.data(), text.data(), CommandReply::kCapacity);
    ReportedLocation location;
    EXPECT_EQ(readLocationReply(reply.text(), location), 0);
    EXPECT_EQ(readLocationReply(text, location), 1);
}

}  // namespace
}  // namespace tess
