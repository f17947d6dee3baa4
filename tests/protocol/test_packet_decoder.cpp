// Decoding of answers and requests into words, with the answers of the
// gripper's documented examples, and the frame scanner of recorded streams.
#include "FrameScanner.h"
#include "Framing.h"
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

TEST(PacketDecoder, EveryRequestPayloadIsRead)
{
    EXPECT_EQ(DecodePacket(Packet(0x20, {2}), false), "direction 2");
    EXPECT_EQ(DecodePacket(Packet(0x21, {1, 0, 0, 0x20, 0x41, 0, 0, 0x48, 0x42}), false),
              "relative position 10.00 mm, speed 50.00 mm/s");
    EXPECT_EQ(DecodePacket(Packet(0x24, {0x61, 0x63, 0x6B}), false), "\"ack\"");
    EXPECT_EQ(DecodePacket(Packet(0x51, {'G', '"', 0x01}), false), "tag \"G\\x22\\x01\"");
    EXPECT_EQ(DecodePacket(Packet(0x27, {0, 0, 0x20, 0x41, 0, 0, 0x48, 0x42, 0, 0, 0x7A, 0x44, 0, 0, 0x20, 0x41}), false),
              "width 10.00 mm, speed 50.00 mm/s, acceleration 1000.00 mm/s\u00B2, force 10.00 N");
    EXPECT_EQ(DecodePacket(Packet(0x25, {0, 0, 0xF0, 0x41, 0, 0, 0xC8, 0x42}), false), "width 30.00 mm, speed 100.00 mm/s");
    EXPECT_EQ(DecodePacket(Packet(0x34, {0, 0, 0x20, 0x41, 0, 0, 0x48, 0x42}), false), "minus 10.00 mm, plus 50.00 mm");
    EXPECT_EQ(DecodePacket(Packet(0x37, {1}), false), "overdrive on");
    EXPECT_EQ(DecodePacket(Packet(0x42, {1}), false), "read and reset");
    EXPECT_EQ(DecodePacket(Packet(0x52, {0, 0, 'G', 'R'}), true), "No error; tag \"GR\"");
}

TEST(PacketDecoder, SystemLimitsGiveAllEightValues)
{
    TByteArray answer{0, 0};
    for (const uint8_t high : {0x3F, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x41}) {
        static const uint8_t third[] = {0x80, 0x00, 0x40, 0x80, 0xA0, 0xC0, 0xE0, 0x00};
        answer.insert(answer.end(), {0, 0, third[(answer.size() - 2) / 4], high});
    }
    EXPECT_EQ(DecodePacket(Packet(0x53, answer), true),
              "No error; stroke 1.00 mm, min speed 2.00 mm/s, max speed 3.00 mm/s, min acceleration 4.00 mm/s\u00B2, "
              "max acceleration 5.00 mm/s\u00B2, min force 6.00 N, max force 7.00 N, extra 8.00 N");
}

// Two frames, the first cut short by the second's preamble, then a run of
// AA bytes before a third: the scanner resumes at every preamble.
TEST(FrameScanner, ACutFrameEndsAtTheNextPreamble)
{
    const TByteArray stop = {0xAA, 0xAA, 0xAA, 0x22, 0x00, 0x00, 0x0E, 0x76};
    TByteArray stream = {0xAA, 0xAA, 0xAA, 0x43, 0x06, 0x00, 0x00};
    stream.insert(stream.end(), stop.begin(), stop.end());
    stream.push_back(0xAA);
    stream.insert(stream.end(), stop.begin(), stop.end());
    const std::vector<TScanItem> items = ScanFrames(stream);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].kind, TScanItem::TKind::CutShort);
    EXPECT_EQ(items[0].size, 7u);
    EXPECT_EQ(items[0].frameSize, 14u);
    EXPECT_EQ(items[1].kind, TScanItem::TKind::Packet);
    EXPECT_EQ(items[1].offset, 7u);
    EXPECT_EQ(items[2].kind, TScanItem::TKind::BetweenFrames);
    EXPECT_EQ(items[2].size, 1u);
    EXPECT_EQ(items[3].kind, TScanItem::TKind::Packet);
    EXPECT_EQ(items[3].offset, 16u);

    // A header cut short at the stream's end.
    const std::vector<TScanItem> tail = ScanFrames(TByteArray{0xAA, 0xAA, 0xAA, 0x22});
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_EQ(tail[0].kind, TScanItem::TKind::CutShort);
    EXPECT_EQ(tail[0].frameSize, 0u);
}

} // namespace
