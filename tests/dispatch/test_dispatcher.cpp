// The dispatcher over a device the test controls: device list, connecting,
// failed opening and sending, the receive path and the packet queue, and the
// list of asynchronous result handlers.
#include "DispatchTestSupport.h"

#include "AsyncResultEventList.h"

#include <QThread>

#include <stdexcept>

namespace {

class DispatcherTest : public DispatchTest {
protected:
    TCommand* Dispatcher() const { return Gripper->Dispatcher(); }
};

TEST_F(DispatcherTest, DeviceListInOrderWithRangeCheck)
{
    ASSERT_EQ(Dispatcher()->DeviceCount(), 4);
    EXPECT_EQ(Dispatcher()->Devices(0)->Description, "Serial (RS232)");
    EXPECT_EQ(Dispatcher()->Devices(1)->Description, "Ethernet");
    EXPECT_EQ(Dispatcher()->Devices(2)->Description, "CAN-Bus");
    EXPECT_EQ(Dispatcher()->Devices(3), Fake);
    try {
        Dispatcher()->Devices(4);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Index out of bounds (4).");
    }
    EXPECT_THROW(Dispatcher()->Devices(-1), std::out_of_range);
}

TEST_F(DispatcherTest, NotConnectedResults)
{
    TByteArray data;
    TStat status = E_SUCCESS;
    EXPECT_FALSE(Gripper->Execute(0x22, {}, data, status));
    EXPECT_EQ(Gripper->Stop(), E_CMD_FAILED);
    TSystemInfo info;
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_CMD_FAILED);
    EXPECT_EQ(Gripper->Homing(0, nullptr), E_NOT_OPENED);
    EXPECT_EQ(Gripper->Goto(1.0f, 1.0f, nullptr), E_NOT_OPENED);
    TPacket p;
    p.command = 0x22;
    EXPECT_EQ(Dispatcher()->SendPacket(p), E_NOT_INITIALIZED);
    EXPECT_EQ(Log->PacketCount(), 0);
}

TEST_F(DispatcherTest, ConnectOpensTheChosenDeviceAndForwardsItsEvents)
{
    int connects = 0;
    Gripper->OnConnect = [&](QObject*) { ++connects; };
    ASSERT_TRUE(ConnectFake());
    EXPECT_EQ(Dispatcher()->CurrentDevice(), Fake);
    EXPECT_EQ(DialogRuns, 1);
    ASSERT_TRUE(WaitFor([&] { return connects == 1; }));

    // Sending writes one whole frame.
    TPacket p;
    p.command = 0x24;
    p.length = 3;
    p.data = {0x61, 0x63, 0x6B};
    EXPECT_EQ(Dispatcher()->SendPacket(p), E_SUCCESS);
    EXPECT_EQ(Fake->Written, Bytes(Hex("AA AA AA 24 03 00 61 63 6B DC B9")));
}

TEST_F(DispatcherTest, ConnectReportClearsBothStatesButKeepsThePosition)
{
    int connects = 0;
    int stateEvents = 0;
    Gripper->OnConnect = [&](QObject* sender) {
        EXPECT_EQ(sender, Gripper);
        ++connects;
    };
    Gripper->OnSystemState = [&](QObject*) { ++stateEvents; };
    Gripper->OnGraspingState = [&](QObject*) { ++stateEvents; };
    ASSERT_TRUE(ConnectFake());
    ASSERT_TRUE(WaitFor([&] { return connects == 1; }, 1000));
    Fake->Feed(Frame(0x40, Hex("00 00 01 10 00 00")) + Frame(0x41, Hex("00 00 03")) +
               Frame(0x43, Hex("00 00 00 00 48 41")));
    ASSERT_TRUE(WaitFor([&] { return Log->PacketCount() == 3; }, 1000));
    EXPECT_EQ(Gripper->SystemState(), 0x1001u);
    EXPECT_EQ(Gripper->GraspingState(), 3);

    // The transport reports itself connected again (as after a reconnect
    // without an intervening disconnect report): both states start afresh.
    ASSERT_TRUE(Fake->OnConnect);
    Fake->OnConnect(Fake);
    EXPECT_EQ(connects, 2);
    EXPECT_EQ(Gripper->SystemState(), 0u);
    EXPECT_EQ(Gripper->GraspingState(), 0);
    EXPECT_FLOAT_EQ(Gripper->Position(), 12.5f);
    EXPECT_EQ(stateEvents, 2);
}

TEST_F(DispatcherTest, FailedOpenLeavesNoDeviceAndNoConnectionEvents)
{
    Fake->OpenResult = E_IO_ERROR;
    DeviceChoice = 3;
    EXPECT_EQ(Gripper->Connect(), E_IO_ERROR);
    EXPECT_EQ(Dispatcher()->CurrentDevice(), nullptr);
    EXPECT_FALSE(Gripper->IsConnected());
    EXPECT_FALSE(Fake->OnConnect);
    EXPECT_FALSE(Fake->OnDisconnect);
    EXPECT_TRUE(Fake->OnDataAvailable);
}

TEST_F(DispatcherTest, FailedWriteKeepsPacketHandling)
{
    int positions = 0;
    Gripper->OnPosition = [&](QObject*) { ++positions; };
    ASSERT_TRUE(ConnectFake());
    Fake->WriteResult = E_WRITE_ERROR;
    EXPECT_EQ(Gripper->Stop(), E_CMD_FAILED);
    EXPECT_EQ(Gripper->Grasp(1.0f, 1.0f, nullptr), E_CMD_FAILED);
    EXPECT_EQ(Log->PacketCount(), 0); // a failed send is not logged
    Fake->Feed(Frame(0x43, Hex("00 00 00 00 48 41")));
    EXPECT_TRUE(WaitFor([&] { return positions == 1; }, 1000));
    EXPECT_FLOAT_EQ(Gripper->Position(), 12.5f);
}

TEST_F(DispatcherTest, ReadsAtMost4096BytesPerNotification)
{
    ASSERT_TRUE(ConnectFake());
    int handled = 0;
    Gripper->OnPosition = [&](QObject*) { ++handled; };
    QByteArray burst;
    while (burst.size() < 5000)
        burst += Frame(0x43, Hex("00 00 00 00 48 41"));
    const int frames = static_cast<int>(burst.size() / 14);
    Fake->Feed(burst);
    ASSERT_FALSE(Fake->ReadSizes.empty());
    EXPECT_EQ(Fake->ReadSizes[0], 4096);
    ASSERT_TRUE(WaitFor([&] { return handled == frames; }));
    EXPECT_EQ(Fake->BytesAvailable(), 0);
}

TEST_F(DispatcherTest, FullQueueDropsPacketsButStillAnnouncesThem)
{
    ASSERT_TRUE(ConnectFake());
    int announced = 0;
    Dispatcher()->OnPacket = [&](QObject* sender) {
        EXPECT_EQ(sender, Dispatcher());
        ++announced;
    };
    const QByteArray frame = Frame(0x22, Hex("00 00"));
    for (int i = 0; i < TCommand::MaxPackets + 1; ++i)
        Fake->Feed(frame);
    EXPECT_EQ(Dispatcher()->PacketCount(), TCommand::MaxPackets);
    // The announcements follow once the data notifications have returned.
    EXPECT_EQ(announced, 0);
    EXPECT_TRUE(WaitFor([&] { return announced == TCommand::MaxPackets + 1; }, 1000));
    EXPECT_EQ(Dispatcher()->PacketCount(), TCommand::MaxPackets);
}

TEST_F(DispatcherTest, FrameHeldBackForAFullQueueIsNotCutByTheGapRule)
{
    ASSERT_TRUE(ConnectFake());
    // A handler that leaves the packets queued: one short of full, with the
    // first half of the next frame in the assembler and the device empty.
    Dispatcher()->OnPacket = [](QObject*) {};
    const QByteArray frame = Frame(0x22, Hex("00 00"));
    Fake->Feed(frame.repeated(TCommand::MaxPackets - 1) + frame.left(5));
    ASSERT_TRUE(WaitFor([&] { return Fake->BytesAvailable() == 0; }, 1000));
    ASSERT_EQ(Dispatcher()->PacketCount(), TCommand::MaxPackets - 1);

    // A transaction waits and takes packets slowly: the rest of the frame
    // and one more arrive at once but stay in the device for lack of room
    // for longer than the gap limit.
    Dispatcher()->OnPacket = nullptr;
    Fake->Feed(frame.mid(5) + frame);
    EXPECT_EQ(Fake->BytesAvailable(), frame.size() * 2 - 5);
    QThread::msleep(TFrameAssembler::GapLimitMs + 50);
    TPacket p;
    for (int i = 0; i < 64; ++i)
        ASSERT_TRUE(Dispatcher()->GetPacket(p));
    ASSERT_TRUE(WaitFor([&] { return Fake->BytesAvailable() == 0; }, 1000));
    EXPECT_EQ(Dispatcher()->PacketCount(), TCommand::MaxPackets - 1 - 64 + 2);
}

TEST_F(DispatcherTest, ReconnectStartsAssemblyAndQueueAfresh)
{
    ASSERT_TRUE(ConnectFake());
    Dispatcher()->OnPacket = nullptr; // keep packets queued
    Fake->Feed(Frame(0x22, Hex("00 00")));
    EXPECT_EQ(Dispatcher()->PacketCount(), 1);

    // Disconnecting keeps what is queued.
    int disconnects = 0;
    Gripper->OnDisconnect = [&](QObject*) { ++disconnects; };
    Gripper->Disconnect();
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(Dispatcher()->PacketCount(), 1);

    ASSERT_TRUE(ConnectFake());
    EXPECT_EQ(Dispatcher()->PacketCount(), 0);
    // A frame cut off by the reconnect does not combine with later bytes.
    const QByteArray frame = Frame(0x22, Hex("00 00"));
    Fake->Feed(frame.left(6));
    ASSERT_TRUE(ConnectFake());
    EXPECT_EQ(disconnects, 2); // connecting again closed the open device first
    Fake->Feed(frame.mid(6) + frame);
    EXPECT_EQ(Dispatcher()->PacketCount(), 1);
}

TEST_F(DispatcherTest, ProcessByteAssemblesAndAnnounces)
{
    ASSERT_TRUE(ConnectFake());
    int announced = 0;
    Dispatcher()->OnPacket = [&](QObject*) { ++announced; };
    for (char b : Hex("00 AA AA 01 AA AA AA 22 02 00 00 00 A7 2E"))
        Dispatcher()->ProcessByte(static_cast<uint8_t>(b));
    EXPECT_EQ(announced, 1);
    TPacket p;
    ASSERT_TRUE(Dispatcher()->GetPacket(p));
    EXPECT_EQ(p.command, 0x22u);
    EXPECT_EQ(p.length, 2);
    EXPECT_FALSE(Dispatcher()->GetPacket(p));
}

TEST(AsyncResultEventList, OneHandlerPerCommandByte)
{
    TAsyncResultEventList list;
    int calledA = 0;
    int calledB = 0;
    list.Add(0x20, [&](QObject*, int, TStat, const TByteArray&) { ++calledA; });
    list.Add(0x21, [&](QObject*, int, TStat, const TByteArray&) { ++calledB; });
    list.Add(0x20, [&](QObject*, int, TStat, const TByteArray&) { calledA += 10; });
    EXPECT_EQ(list.Count(), 2);
    list.Find(0x20)(nullptr, 0x20, E_SUCCESS, {});
    EXPECT_EQ(calledA, 10);
    list.Remove(0x20);
    EXPECT_FALSE(list.Find(0x20));
    EXPECT_TRUE(list.Find(0x21));
    list.Remove(0x55);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(calledB, 0);
}

} // namespace
