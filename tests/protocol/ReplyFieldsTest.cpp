#include <gtest/gtest.h>

#include <string>

#include "protocol/ReplyFields.h"

namespace tess {
namespace {

TEST(ReplyFields, RepeatedRecordsAreReadOneAfterAnother) {
    const std::string reply =
        "200 OK\r\nSLAVENUM=2;SID=7;STYPE=1;SPROTOCOL=0;SID=9;STYPE=8;SPROTOCOL=1;";
    ReplyFieldReader reader(reply);
    EXPECT_EQ(reader.next("SLAVENUM"), 2);
    EXPECT_EQ(reader.next("SID"), 7);
    EXPECT_EQ(reader.next("STYPE"), 1);
    EXPECT_EQ(reader.next("SPROTOCOL"), 0);
    EXPECT_EQ(reader.next("SID"), 9);
    EXPECT_EQ(reader.next("STYPE"), 8);
    EXPECT_EQ(reader.next("SPROTOCOL"), 1);
    // A third record is not there: absent, and the origin stays put.
    const size_t origin = reader.origin();
    EXPECT_EQ(reader.next("SID"), 0);
    EXPECT_EQ(reader.origin(), origin);
}

TEST(ReplyFields, KeyFoundInsideALongerKeyAndSeparatorNotChecked) {
    // "ID" is found inside "Device-ID0"; the character after the key is skipped.
    EXPECT_EQ(readReplyField("Device-ID0=12;", "ID").value, 0);  // the value read is "=12"
    EXPECT_EQ(readReplyField("Stream-Port:8006;", "Stream-Port").value, 8006);
    EXPECT_EQ(readReplyField("USERLEVEL= 30;", "USERLEVEL").value, 30);
    EXPECT_EQ(readReplyField("X=-12;", "X").value, -12);
}

TEST(ReplyFields, MalformedValuesReadAsAbsent) {
    EXPECT_FALSE(readReplyField("Stream-Port=12345;", "Stream-Port").present);  // 5 chars
    EXPECT_FALSE(readReplyField("Stream-Port=80", "Stream-Port").present);      // no ";"
    EXPECT_FALSE(readReplyField("200 OK", "Stream-Port").present);              // no key
    EXPECT_FALSE(readReplyField("Stream-Port", "Stream-Port").present);         // key at end
    EXPECT_EQ(readReplyField("MODE=ab;", "MODE").value, 0);                     // not a number
    EXPECT_TRUE(readReplyField("MODE=;", "MODE").present);
    EXPECT_EQ(readReplyField("MODE=;", "MODE").value, 0);
    // The reply ends at its first zero byte.
    const std::string cut("A=1;\0B=2;", 9);
    EXPECT_FALSE(readReplyField(cut, "B").present);
    // An origin past the end finds nothing and reads nothing.
    EXPECT_FALSE(readReplyField("A=1;", "A", 400).present);
}

}  // namespace
}  // namespace tess
