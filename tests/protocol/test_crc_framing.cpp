#include "convert.h"
#include "crc.h"
#include "Framing.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TByteArray Frame(uint8_t command, TByteArray payload)
{
    TPacket p{command, static_cast<int32_t>(payload.size()), std::move(payload)};
    TByteArray frame;
    EXPECT_EQ(FramePacket(p, frame), E_SUCCESS);
    return frame;
}

} // namespace

TEST(Crc, TableEntriesAndPreambleRegister)
{
    EXPECT_EQ(CrcTable[0], 0x0000);
    EXPECT_EQ(CrcTable[1], 0x1021);
    EXPECT_EQ(CrcTable[2], 0x2042);
    EXPECT_EQ(CrcTable[128], 0x9188);
    EXPECT_EQ(CrcTable[255], 0x1EF0);
    const uint8_t preamble[] = {0xAA, 0xAA, 0xAA};
    EXPECT_EQ(CrcBlock(preamble, 3, 0xFFFF), CrcAfterPreamble);
    EXPECT_EQ(CrcBlock(preamble, 0, 0x1234), 0x1234);
}

TEST(Framing, WorkedFramesAreByteExact)
{
    EXPECT_EQ(Frame(0x22, {}), (TByteArray{0xAA, 0xAA, 0xAA, 0x22, 0x00, 0x00, 0x0E, 0x76}));
    EXPECT_EQ(Frame(0x40, {}), (TByteArray{0xAA, 0xAA, 0xAA, 0x40, 0x00, 0x00, 0x5B, 0xEB}));
    EXPECT_EQ(Frame(0x20, {0x00}), (TByteArray{0xAA, 0xAA, 0xAA, 0x20, 0x01, 0x00, 0x00, 0x8F, 0x83}));
    EXPECT_EQ(Frame(0x24, {0x61, 0x63, 0x6B}),
              (TByteArray{0xAA, 0xAA, 0xAA, 0x24, 0x03, 0x00, 0x61, 0x63, 0x6B, 0xDC, 0xB9}));
    EXPECT_EQ(Frame(0x22, {0x00, 0x00}), (TByteArray{0xAA, 0xAA, 0xAA, 0x22, 0x02, 0x00, 0x00, 0x00, 0xA7, 0x2E}));
    EXPECT_EQ(Frame(0x22, {0x1A, 0x00}), (TByteArray{0xAA, 0xAA, 0xAA, 0x22, 0x02, 0x00, 0x1A, 0x00, 0xE8, 0xE1}));
}

TEST(Framing, EveryValidFrameChecksToZero)
{
    for (size_t n : {0u, 1u, 300u, 65535u}) {
        TByteArray payload(n);
        for (size_t i = 0; i < n; ++i)
            payload[i] = static_cast<uint8_t>(i * 7 + 0xAA);
        const TByteArray frame = Frame(0x51, payload);
        ASSERT_EQ(frame.size(), n + 8);
        EXPECT_EQ(frame[4], uint8_t(n));
        EXPECT_EQ(frame[5], uint8_t(n >> 8));
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), frame.begin() + 6)) << "payload framed unchanged";
        EXPECT_EQ(CrcBytes(frame.data(), frame.size(), 0xFFFF), 0) << n;
    }
}

TEST(Framing, RefusesPacketsThatCannotBeFramed)
{
    TByteArray frame{1, 2, 3};
    TPacket tooLong{0x21, 65536, TByteArray(65536)};
    EXPECT_EQ(FramePacket(tooLong, frame), E_INVALID_PARAMETER);
    EXPECT_TRUE(frame.empty());

    TPacket lengthPastData{0x21, 8, TByteArray(4)};
    EXPECT_EQ(FramePacket(lengthPastData, frame), E_INVALID_PARAMETER);
    TPacket negative{0x21, -1, {}};
    EXPECT_EQ(FramePacket(negative, frame), E_INVALID_PARAMETER);
    EXPECT_TRUE(frame.empty());

    // Data longer than the length: only `length` bytes are framed.
    TPacket shorter{0x22, 0, {9, 9}};
    EXPECT_EQ(FramePacket(shorter, frame), E_SUCCESS);
    EXPECT_EQ(frame.size(), 8u);
}

TEST(Convert, LittleEndianNumbersAndSingles)
{
    EXPECT_EQ(BytesToWord(0x34, 0x12), 0x1234);
    EXPECT_EQ(BytesToInt(0x01, 0x10, 0x00, 0x00), 0x1001);
    EXPECT_EQ(BytesToInt(0xFF, 0xFF, 0xFF, 0xFF), -1);
    EXPECT_FLOAT_EQ(BytesToSingle(0x00, 0x00, 0x48, 0x41), 12.5f);
    const auto bytes = SingleToBytes(12.5f);
    EXPECT_EQ(bytes, (std::array<uint8_t, 4>{0x00, 0x00, 0x48, 0x41}));
    EXPECT_EQ(SingleToInt(1.0f), 0x3F800000);
    EXPECT_EQ(SingleToInt(-2.0f), static_cast<int32_t>(0xC0000000));
    EXPECT_TRUE(std::isnan(BytesToSingle(0x00, 0x00, 0xC0, 0x7F)));
    for (float x : {0.0f, -0.0f, 3.14159f, 1e-30f, 420.0f})
        EXPECT_EQ(SingleToInt(SingleAt(SingleToBytes(x).data())), SingleToInt(x));
}
