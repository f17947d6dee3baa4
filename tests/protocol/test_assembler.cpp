#include "FrameAssembler.h"
#include "Framing.h"
#include "PacketBufferClass.h"

#include <gtest/gtest.h>

namespace {

// Feeds bytes to an assembler under a hand-driven clock and collects packets.
struct AssemblerRig {
    uint32_t now = 1000;
    TFrameAssembler assembler{[this] { return now; }};
    std::vector<TPacket> packets;

    AssemblerRig()
    {
        assembler.OnFrame = [this](TPacket&& p) { packets.push_back(std::move(p)); };
    }
    void Bytes(const TByteArray& bytes)
    {
        for (uint8_t b : bytes)
            assembler.ProcessByte(b);
    }
    void Chunk(const TByteArray& bytes) { assembler.ProcessChunk(bytes.data(), bytes.size()); }
};

const TByteArray StopAnswer{0xAA, 0xAA, 0xAA, 0x22, 0x02, 0x00, 0x00, 0x00, 0xA7, 0x2E};

} // namespace

TEST(FrameAssembler, ResynchronisesAfterGarbageAndPartialPreambles)
{
    for (bool chunked : {false, true}) {
        AssemblerRig rig;
        TByteArray stream{0x00, 0xAA, 0xAA, 0x01};
        stream.insert(stream.end(), StopAnswer.begin(), StopAnswer.end());
        chunked ? rig.Chunk(stream) : rig.Bytes(stream);
        ASSERT_EQ(rig.packets.size(), 1u);
        EXPECT_EQ(rig.packets[0].command, 0x22u);
        EXPECT_EQ(rig.packets[0].length, 2);
        EXPECT_EQ(rig.packets[0].data, (TByteArray{0x00, 0x00}));
    }
}

TEST(FrameAssembler, BadChecksumDropsOnlyThatFrame)
{
    AssemblerRig rig;
    TByteArray bad = StopAnswer;
    bad.back() ^= 0x01;
    rig.Bytes(bad);
    EXPECT_TRUE(rig.packets.empty());
    rig.Bytes(StopAnswer);
    EXPECT_EQ(rig.packets.size(), 1u);
}

TEST(FrameAssembler, OnlyTheFramesOwnChecksumIsAccepted)
{
    // Each wrong checksum here makes the register fold to 0 over the whole
    // frame; the right ones are 0E 76 and E5 D1.
    const TByteArray wrongStop{0xAA, 0xAA, 0xAA, 0x22, 0x00, 0x00, 0x87, 0xD7};
    const TByteArray wrongState{0xAA, 0xAA, 0xAA, 0x40, 0x06, 0x00, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00, 0x6C, 0x70};
    for (bool chunked : {false, true}) {
        AssemblerRig rig;
        for (const TByteArray& frame : {wrongStop, wrongState})
            chunked ? rig.Chunk(frame) : rig.Bytes(frame);
        EXPECT_TRUE(rig.packets.empty()) << "chunked " << chunked;
        TByteArray right = wrongState;
        right[12] = 0xE5;
        right[13] = 0xD1;
        chunked ? rig.Chunk(right) : rig.Bytes(right);
        ASSERT_EQ(rig.packets.size(), 1u);
        EXPECT_EQ(rig.packets[0].command, 0x40u);
    }
    // Of all 65536 checksum byte pairs, exactly the right one passes.
    AssemblerRig rig;
    TByteArray frame = wrongStop;
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
        frame[6] = static_cast<uint8_t>(pair);
        frame[7] = static_cast<uint8_t>(pair >> 8);
        const size_t before = rig.packets.size();
        rig.Bytes(frame);
        EXPECT_EQ(rig.packets.size() - before, pair == 0x760E ? 1u : 0u) << std::hex << pair;
    }
}

TEST(FrameAssembler, GapRuleDropsFramesPausedOverOneHundredMs)
{
    for (uint32_t pause : {80u, 100u, 101u, 150u}) {
        for (bool chunked : {false, true}) {
            AssemblerRig rig;
            const TByteArray head(StopAnswer.begin(), StopAnswer.begin() + 5);
            const TByteArray tail(StopAnswer.begin() + 5, StopAnswer.end());
            chunked ? rig.Chunk(head) : rig.Bytes(head);
            rig.now += pause;
            chunked ? rig.Chunk(tail) : rig.Bytes(tail);
            EXPECT_EQ(rig.packets.size(), pause <= 100 ? 1u : 0u) << pause << " ms, chunked " << chunked;
        }
    }
}

TEST(FrameAssembler, ChunkThatContinuesThePreviousOneIsNeverCutByTheGapRule)
{
    AssemblerRig rig;
    const TByteArray head(StopAnswer.begin(), StopAnswer.begin() + 5);
    const TByteArray tail(StopAnswer.begin() + 5, StopAnswer.end());
    rig.Chunk(head);
    rig.now += 500; // the reader was busy; the tail had arrived with the head
    rig.assembler.ProcessChunk(tail.data(), tail.size(), true);
    ASSERT_EQ(rig.packets.size(), 1u);

    // The clock restarts at that read: a later fresh chunk is measured from it.
    rig.Chunk(head);
    rig.now += 60;
    rig.assembler.ProcessChunk(tail.data(), 2, true);
    rig.now += 101;
    rig.Chunk(TByteArray(tail.begin() + 2, tail.end()));
    EXPECT_EQ(rig.packets.size(), 1u);
}

TEST(FrameAssembler, GapRuleToleratesPausesAtFrameBoundariesAndClockWrap)
{
    AssemblerRig rig;
    // Pause after a finished frame: nothing is pending, the next frame arrives whole.
    rig.Bytes(StopAnswer);
    rig.now += 5000;
    rig.Bytes(StopAnswer);
    ASSERT_EQ(rig.packets.size(), 2u);
    rig.packets.clear();

    // A stale preamble before a pause does not swallow the next frame.
    rig.Bytes({0xAA, 0xAA, 0xAA});
    rig.now += 101;
    rig.Bytes(StopAnswer);
    ASSERT_EQ(rig.packets.size(), 1u);

    // The tick counter wraps around inside a frame without a real gap.
    rig.now = 0xFFFFFFF0u;
    rig.Bytes(TByteArray(StopAnswer.begin(), StopAnswer.begin() + 6));
    rig.now = 0x00000010u;
    rig.Bytes(TByteArray(StopAnswer.begin() + 6, StopAnswer.end()));
    EXPECT_EQ(rig.packets.size(), 2u);

    // A gap over 100 ms ends a partial frame; the byte after it may start a new preamble.
    rig.Bytes(TByteArray(StopAnswer.begin(), StopAnswer.begin() + 7));
    rig.now += 500;
    rig.Bytes(StopAnswer);
    EXPECT_EQ(rig.packets.size(), 3u);
}

TEST(FrameAssembler, LengthFieldAloneDecidesFrameEnd)
{
    AssemblerRig rig;
    // Fourth AA right after a preamble is the command byte.
    TByteArray payload;
    TByteArray frame = BuildFrame(0xAA, payload.data(), 0);
    frame.insert(frame.begin(), 0xAA);
    rig.Bytes(TByteArray(frame.begin() + 1, frame.end()));
    ASSERT_EQ(rig.packets.size(), 1u);
    EXPECT_EQ(rig.packets[0].command, 0xAAu);
    EXPECT_EQ(rig.packets[0].length, 0);

    // Preambles inside a payload are data.
    const TByteArray inner{0xAA, 0xAA, 0xAA, 0x22, 0x00, 0x00, 0x0E, 0x76, 0xAA};
    rig.Chunk(BuildFrame(0x51, inner.data(), inner.size()));
    ASSERT_EQ(rig.packets.size(), 2u);
    EXPECT_EQ(rig.packets[1].command, 0x51u);
    EXPECT_EQ(rig.packets[1].data, inner);
}

TEST(FrameAssembler, LargestPayloadAndChunkBoundariesEverywhere)
{
    TByteArray payload(65535);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i ^ (i >> 8));
    const TByteArray big = BuildFrame(0x52, payload.data(), payload.size());
    AssemblerRig rig;
    for (size_t step : {1u, 7u, 4096u, 70000u}) {
        for (size_t at = 0; at < big.size(); at += step)
            rig.assembler.ProcessChunk(big.data() + at, std::min(step, big.size() - at));
    }
    ASSERT_EQ(rig.packets.size(), 4u);
    for (const TPacket& p : rig.packets) {
        EXPECT_EQ(p.length, 65535);
        EXPECT_EQ(p.data, payload);
    }
}

TEST(FrameAssembler, ResetForgetsAPartialFrame)
{
    AssemblerRig rig;
    rig.Bytes(TByteArray(StopAnswer.begin(), StopAnswer.begin() + 6));
    rig.assembler.Reset();
    rig.Bytes(TByteArray(StopAnswer.begin() + 6, StopAnswer.end()));
    EXPECT_TRUE(rig.packets.empty());
    EXPECT_FALSE(rig.assembler.Synchronised());
}
