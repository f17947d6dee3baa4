// Decoding of answers into words, with the answers of the gripper's
// documented examples.
#include "PacketDecoder.h"

#include <gtest/gtest.h>

namespace {

TPacket Packet(uint8_t command, TByteArray data)
{
    return {command, static_cast<int32_t>(data.size()), std::move(data)};
}

TEST(PacketDecoder, AnswersShowStatusAndResultFieldsByName)
{
    EXPECT_EQ(DecodePacket(Packet(0x50, {0, 0, 1, 2, 3, 1, 0x4E, 0x61, 0xBC, 0}), true),
              "No error; type 1, hardware revision 2, firmware revision 259, serial number 12345678");
    EXPECT_EQ(DecodePacket(Packet(0x43, {0, 0, 0, 0, 0x48, 0x41}), true), "No error; position 12.50 mm");
    EXPECT_EQ(DecodePacket(Packet(0x40, {0, 0, 0x01, 0x10, 0, 0}), true), "No error; Referenced, Fast stop");
    // Bits without a name are named by number; no bit at all says so.
    EXPECT_EQ(DecodePacket(Packet(0x40, {0, 0, 0x00, 0x02, 0, 0x80}), true), "No error; bit 9, bit 31");
    EXPECT_EQ(DecodePacket(Packet(0x40, {0, 0, 0, 0, 0, 0}), true), "No error; no flags set");
    EXPECT_EQ(DecodePacket(Packet(0x41, {0, 0, 4}), true), "No error; grasping state holding");
    EXPECT_EQ(DecodePacket(Packet(0x41, {0, 0, 9}), true), "No error; grasping state 9");
    EXPECT_EQ(DecodePacket(Packet(0x42, {0, 0, 10, 0, 0, 0, 2, 0, 1, 0}), true),
              "No error; grasps 10, not found 2, lost 1");
}

TEST(PacketDecoder, RefusedOrMisshapenAnswersAreNotDecodedAsValues)
{
    EXPECT_EQ(DecodePacket(Packet(0x21, {0x1A, 0}), true), "Command pending...");
    // A refusal with result bytes: the bytes mean nothing.
    EXPECT_EQ(DecodePacket(Packet(0x53, TByteArray(34, 0x10)), true), "Access denied");
    EXPECT_EQ(DecodePacket(Packet(0x43, {0, 0, 0, 0, 0x48}), true), "No error; 3 result bytes, 4 expected");
    EXPECT_EQ(DecodePacket(Packet(0x20, {0}), true), "");
    // A length that promises more than the data holds reads only the data.
    TPacket truncated = Packet(0x43, {0, 0, 0, 0});
    truncated.length = 6;
    EXPECT_EQ(DecodePacket(truncated, true), "No error; 2 result bytes, 4 expected");
}

} // namespace
