#include "ByteQueue.h"
#include "PacketBufferClass.h"
#include "PacketListClass.h"

#include <gtest/gtest.h>

#include <numeric>
#include <stdexcept>

TEST(ByteQueue, HoldsCapacityMinusOneAndWrapsInOrder)
{
    TByteQueue q(512);
    for (int i = 0; i < 511; ++i)
        ASSERT_TRUE(q.Push(static_cast<uint8_t>(i)));
    EXPECT_TRUE(q.IsFull());
    EXPECT_FALSE(q.Push(0xEE));
    EXPECT_EQ(q.Count(), 511u);

    uint8_t out[600];
    EXPECT_EQ(q.Read(out, 100), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(out[i], static_cast<uint8_t>(i));
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(q.Push(static_cast<uint8_t>(511 + i)));
    EXPECT_FALSE(q.Push(0));
    // Write index is now below the read index.
    EXPECT_EQ(q.Count(), 511u);

    EXPECT_EQ(q.Read(out, 600), 511u);
    for (int i = 0; i < 511; ++i)
        ASSERT_EQ(out[i], static_cast<uint8_t>(100 + i)) << i;
    EXPECT_EQ(q.Count(), 0u);
    EXPECT_EQ(q.Read(out, 10), 0u);
}

TEST(ByteQueue, ClearAndCapacityChange)
{
    TByteQueue q(4);
    EXPECT_TRUE(q.Push(1));
    EXPECT_TRUE(q.Push(2));
    EXPECT_TRUE(q.Push(3));
    EXPECT_FALSE(q.Push(4));
    q.Clear();
    EXPECT_EQ(q.Count(), 0u);
    q.SetCapacity(0);
    EXPECT_TRUE(q.IsFull());
    EXPECT_FALSE(q.Push(1));
    EXPECT_EQ(q.Count(), 0u);
}

TEST(PacketBuffer, FifoWithFixedCapacity)
{
    TPacketBuffer buffer(1024);
    TPacket p{0x22, 2, {0x00, 0x00}};
    TPacket out{0x99, 7, {1}};
    EXPECT_FALSE(buffer.Pop(out));
    EXPECT_EQ(out.command, 0x99u) << "an empty pop leaves the packet alone";

    for (int i = 0; i < 1024; ++i) {
        p.command = static_cast<uint32_t>(i);
        ASSERT_TRUE(buffer.Push(p));
    }
    EXPECT_FALSE(buffer.Push(p));
    EXPECT_EQ(buffer.Count(), 1024);
    ASSERT_TRUE(buffer.Pop(out));
    EXPECT_EQ(out.command, 0u);
    EXPECT_EQ(out.data, (TByteArray{0, 0}));
    EXPECT_TRUE(buffer.Push(p));
    buffer.Clear();
    EXPECT_EQ(buffer.Count(), 0);
}

TEST(PacketBuffer, NeverCopiesPastTheData)
{
    TPacketBuffer buffer(4);
    TPacket lying{0x43, 100, {1, 2, 3}};
    ASSERT_TRUE(buffer.Push(lying));
    TPacket negative{0x43, -5, {1, 2}};
    ASSERT_TRUE(buffer.Push(negative));
    TPacket out;
    ASSERT_TRUE(buffer.Pop(out));
    EXPECT_EQ(out.length, 3);
    EXPECT_EQ(out.data, (TByteArray{1, 2, 3}));
    ASSERT_TRUE(buffer.Pop(out));
    EXPECT_EQ(out.length, 0);

    // Packets handed over by move keep the same rule.
    ASSERT_TRUE(buffer.Push(TPacket{0x43, 100, {1, 2, 3}}));
    ASSERT_TRUE(buffer.Push(TPacket{0x43, 1, {7, 8}}));
    ASSERT_TRUE(buffer.Pop(out));
    EXPECT_EQ(out.length, 3);
    EXPECT_EQ(out.data, (TByteArray{1, 2, 3}));
    ASSERT_TRUE(buffer.Pop(out));
    EXPECT_EQ(out.data, (TByteArray{7}));
}

TEST(PacketList, IndexedCopiesWithRangeChecks)
{
    TPacketList list;
    for (uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(list.Add(TPacket{i, 1, {static_cast<uint8_t>(i)}}), static_cast<int>(i));
    list.Delete(1);
    TPacket out;
    list.Get(1, out);
    EXPECT_EQ(out.command, 2u);
    EXPECT_EQ(list.Count(), 4);
    EXPECT_THROW(list.Get(4, out), std::out_of_range);
    EXPECT_THROW(list.Get(-1, out), std::out_of_range);
    EXPECT_THROW(list.Delete(9), std::out_of_range);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}
