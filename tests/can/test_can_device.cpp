// The CAN device against a scripted driver: the order and arguments of the
// driver calls, every failure path of Open, Write and Close, the receive
// thread's hand-off, back-pressure and stop, and the lost-link path.
#include "CanTestSupport.h"
#include "FakeNtcan.h"

#include <QElapsedTimer>

#include <memory>
#include <numeric>

namespace {

class CanDeviceFakeTest : public CanDeviceTest {
protected:
    void SetUp() override
    {
        CanDeviceTest::SetUp();
        Fake().Reset();
        Device = std::make_unique<TCANDevice>(nullptr, TFakeNtcan::Api());
        AttachOperator(*Device);
        Watch(*Device);
    }

    void TearDown() override
    {
        Device.reset();
        CanDeviceTest::TearDown();
    }

    static TFakeNtcan& Fake() { return TFakeNtcan::Instance(); }

    // Opens "Net 3" and waits for OnConnect.
    void OpenNet3()
    {
        ASSERT_EQ(Device->Open(QStringLiteral("Net 3")), E_SUCCESS);
        ASSERT_TRUE(WaitFor([this] { return Connects == 1; }));
    }

    std::unique_ptr<TCANDevice> Device;
};

TEST_F(CanDeviceFakeTest, PortNamesThatNameNoNetFailBeforeTheDialog)
{
    for (const char* name : {"not installed", "Net", "Net x", "Net -1", "NET 1", "Net 1a"})
        EXPECT_EQ(Device->Open(QString::fromLatin1(name)), E_NOT_FOUND) << name;
    EXPECT_EQ(DialogRuns, 0);
    EXPECT_TRUE(Fake().Opens.empty());
}

TEST_F(CanDeviceFakeTest, OpenPassesTheDriverArgumentsAndConnectsAtThePoll)
{
    IdText = QStringLiteral("0x64");
    Bitrate = NTCAN_BAUD_500;
    OpenNet3();

    ASSERT_EQ(Fake().Opens.size(), 1u);
    const TFakeOpen& open = Fake().Opens[0];
    EXPECT_EQ(open.Net, 3);
    EXPECT_EQ(open.Flags, 0u);
    EXPECT_EQ(open.TxQueueSize, 64);
    EXPECT_EQ(open.RxQueueSize, 64);
    EXPECT_EQ(open.TxTimeout, 100);
    EXPECT_EQ(open.RxTimeout, 100);
    EXPECT_EQ(Fake().Baudrates, std::vector<uint32_t>{NTCAN_BAUD_500});
    EXPECT_EQ(Fake().IdsAdded, std::vector<int32_t>{101});
    EXPECT_EQ(Device->TxId(), 100);
    EXPECT_TRUE(Device->IsOpen());
    EXPECT_NE(Device->NetHandle(), -1);
    EXPECT_EQ(Disconnects, 0);
}

TEST_F(CanDeviceFakeTest, EveryOpenStartsAt250KbitAndKeepsTheIdentifier)
{
    IdText = QStringLiteral("0x64");
    Bitrate = NTCAN_BAUD_1000;
    OpenNet3();
    EXPECT_EQ(ShownBitrateText, QStringLiteral("250 kBit/s"));
    EXPECT_EQ(ShownIdText, QStringLiteral("100"));

    IdText.clear();
    Bitrate = -1;
    ASSERT_EQ(Device->Open(QStringLiteral("Net 3")), E_SUCCESS);
    EXPECT_EQ(ShownBitrateText, QStringLiteral("250 kBit/s"));
    EXPECT_EQ(ShownIdText, QStringLiteral("0x64"));
    EXPECT_EQ(Fake().Baudrates, (std::vector<uint32_t>{NTCAN_BAUD_1000, NTCAN_BAUD_250}));
}

TEST_F(CanDeviceFakeTest, CancelledDialogChangesNothing)
{
    Accept = false;
    EXPECT_EQ(Device->Open(QStringLiteral("Net 1")), E_CMD_ABORTED);
    EXPECT_TRUE(Fake().Opens.empty());
    EXPECT_EQ(Device->NetHandle(), -1);

    Accept = true;
    OpenNet3();
    const NTCAN_HANDLE handle = Device->NetHandle();
    Accept = false;
    EXPECT_EQ(Device->Open(QStringLiteral("Net 1")), E_CMD_ABORTED);
    EXPECT_TRUE(Device->IsOpen());
    EXPECT_EQ(Device->NetHandle(), handle);
    EXPECT_EQ(Disconnects, 0);
}

TEST_F(CanDeviceFakeTest, FailedOpenStepsLeaveNoNetOpen)
{
    struct TCase {
        NTCAN_RESULT TFakeNtcan::*Failing;
        TStat Expected;
        size_t ClosedNets;
    };
    const TCase cases[] = {
        {&TFakeNtcan::OpenResult, E_IO_ERROR, 0},
        {&TFakeNtcan::BaudrateResult, E_INVALID_PARAMETER, 1},
        {&TFakeNtcan::IdAddResult, E_INSUFFICIENT_RESOURCES, 1},
    };
    for (const TCase& c : cases) {
        Fake().Reset();
        Fake().*c.Failing = NTCAN_INVALID_PARAMETER;
        EXPECT_EQ(Device->Open(QStringLiteral("Net 2")), c.Expected);
        EXPECT_EQ(Device->NetHandle(), -1);
        EXPECT_FALSE(Device->IsOpen());
        EXPECT_TRUE(Fake().OpenHandles().empty());
        EXPECT_EQ(Fake().Closed.size(), c.ClosedNets);
        // Nothing left to close: Close reports the device as not open.
        EXPECT_EQ(Device->Close(), E_NOT_OPENED);
    }
    Settle(120);
    EXPECT_EQ(Connects, 0);
    EXPECT_EQ(Disconnects, 0);
}

TEST_F(CanDeviceFakeTest, IdentifierWithoutASuccessorIsRefused)
{
    IdText = QStringLiteral("2147483647");
    EXPECT_EQ(Device->Open(QStringLiteral("Net 0")), E_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(Device->NetHandle(), -1);
    EXPECT_TRUE(Fake().OpenHandles().empty());
}

TEST_F(CanDeviceFakeTest, WriteCutsTheBytesIntoFramesOfEightWithTxId)
{
    IdText = QStringLiteral("100");
    OpenNet3();
    std::vector<uint8_t> bytes(16);
    std::iota(bytes.begin(), bytes.end(), uint8_t{1});

    EXPECT_EQ(Device->Write(bytes.data(), 0), E_SUCCESS);
    EXPECT_TRUE(Fake().Sent.empty());

    EXPECT_EQ(Device->Write(bytes.data(), 9), E_SUCCESS);
    EXPECT_EQ(Device->Write(bytes.data(), 16), E_SUCCESS);
    ASSERT_EQ(Fake().Sent.size(), 4u);
    const int lengths[] = {8, 1, 8, 8};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Fake().Sent[i].id, 100);
        EXPECT_EQ(Fake().Sent[i].len, lengths[i]);
    }
    EXPECT_EQ(Fake().Sent[1].data[0], 9);
    EXPECT_EQ(Fake().Sent[3].data[7], 16);
}

TEST_F(CanDeviceFakeTest, RefusedFrameEndsTheWrite)
{
    OpenNet3();
    Fake().SendResult = NTCAN_TX_ERROR;
    const uint8_t bytes[20] = {};
    EXPECT_EQ(Device->Write(bytes, 20), E_WRITE_ERROR);
    EXPECT_TRUE(Fake().Sent.empty());
    EXPECT_TRUE(Device->IsOpen());
}

TEST_F(CanDeviceFakeTest, ClosedDeviceRefusesIo)
{
    uint8_t buffer[4] = {};
    EXPECT_EQ(Device->Write(buffer, 4), E_NOT_OPENED);
    EXPECT_EQ(Device->Read(buffer, 4), -1);
    EXPECT_EQ(Device->BytesAvailable(), 0);
    EXPECT_EQ(Device->Close(), E_NOT_OPENED);
    EXPECT_EQ(Disconnects, 0);
    EXPECT_TRUE(Fake().Ioctls.empty());
}

TEST_F(CanDeviceFakeTest, CloseAbortsTheReadStopsTheThreadAndClosesTheNet)
{
    OpenNet3();
    const NTCAN_HANDLE handle = Device->NetHandle();
    ASSERT_TRUE(WaitFor([] { return Fake().ReadCalls() > 0; }));

    EXPECT_EQ(Device->Close(), E_SUCCESS);
    ASSERT_FALSE(Fake().Ioctls.empty());
    EXPECT_TRUE(std::all_of(Fake().Ioctls.begin(), Fake().Ioctls.end(),
        [](uint32_t request) { return request == NTCAN_IOCTL_ABORT_RX; }));
    EXPECT_EQ(Fake().Closed, std::vector<NTCAN_HANDLE>{handle});
    EXPECT_EQ(Device->NetHandle(), -1);
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_EQ(Disconnects, 1);

    // The thread is gone: no more reads after the close.
    const int reads = Fake().ReadCalls();
    Settle(150);
    EXPECT_EQ(Fake().ReadCalls(), reads);
    EXPECT_EQ(Device->Close(), E_NOT_OPENED);
    EXPECT_EQ(Disconnects, 1);
}

TEST_F(CanDeviceFakeTest, CloseNeverWaitsOutAReadOfTheReceiveThread)
{
    // A read that Close failed to release would wait the whole 2 s and count
    // as timed out; the thread is caught at any point of its loop by closing
    // again and again while frames arrive.
    Fake().RxWaitMs = 2000;
    for (int round = 0; round < 20; ++round) {
        OpenNet3();
        ASSERT_TRUE(WaitFor([] { return Fake().ReadCalls() > 0; }));
        Fake().QueueRead(MakeMsg(101, {1, 2, 3}));
        Settle(round % 4);
        ASSERT_EQ(Device->Close(), E_SUCCESS);
        ASSERT_EQ(Fake().TimedOutReads(), 0) << "round " << round;
        Connects = 0;
    }
}

TEST_F(CanDeviceFakeTest, OpenWhileOpenClosesFirst)
{
    OpenNet3();
    const NTCAN_HANDLE first = Device->NetHandle();
    ASSERT_EQ(Device->Open(QStringLiteral("Net 4")), E_SUCCESS);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_EQ(Fake().Closed, std::vector<NTCAN_HANDLE>{first});
    ASSERT_TRUE(WaitFor([this] { return Connects == 2; }));
    EXPECT_EQ(Fake().OpenHandles(), std::set<NTCAN_HANDLE>{Device->NetHandle()});
}

TEST_F(CanDeviceFakeTest, ParametersOfTheDialogAreKeptAndOpenTheSameNetAgainWithoutIt)
{
    IdText = QStringLiteral("0x2A");
    Bitrate = NTCAN_BAUD_125;
    OpenNet3();
    const TCANParams chosen{FakeInterface(3), NTCAN_BAUD_125, 0x2A};
    EXPECT_EQ(Device->Params(), TConnectionParams(chosen));

    Device->Close();
    const int runs = DialogRuns;
    ASSERT_EQ(Device->OpenWith(*Device->Params()), E_SUCCESS);
    EXPECT_EQ(DialogRuns, runs) << "explicit parameters ask no one";
    EXPECT_EQ(Fake().Opens.back().Net, 3);
    EXPECT_EQ(Fake().Baudrates.back(), NTCAN_BAUD_125);
    EXPECT_EQ(Fake().IdsAdded.back(), 0x2B);
    EXPECT_EQ(Device->TxId(), 0x2A);

    const size_t opens = Fake().Opens.size();
    EXPECT_EQ(Device->OpenWith(TCANParams{FakeInterface(25)}), E_NOT_FOUND);
    EXPECT_EQ(Device->OpenWith(TTCPParams{QStringLiteral("127.0.0.1"), 1000}), E_INVALID_PARAMETER);
    EXPECT_EQ(Fake().Opens.size(), opens);
    EXPECT_TRUE(Device->IsOpen()) << "refused parameters leave the open net alone";
    EXPECT_EQ(Device->Params(), TConnectionParams(chosen));
}

TEST_F(CanDeviceFakeTest, DestroyingAnOpenDeviceClosesTheNetSilently)
{
    OpenNet3();
    Device.reset();
    EXPECT_EQ(Disconnects, 0);
    EXPECT_TRUE(Fake().OpenHandles().empty());
}

TEST_F(CanDeviceFakeTest, PortListHoldsTheNetsThatOpen)
{
    Fake().PresentNets = {1, 4, 20};
    QStringList ports{QStringLiteral("stale")};
    Device->GetPortList(ports);
    EXPECT_EQ(ports, (QStringList{QStringLiteral("Net 1"), QStringLiteral("Net 4"), QStringLiteral("Net 20")}));
    EXPECT_EQ(Fake().Opens.size(), 21u);
    EXPECT_TRUE(Fake().OpenHandles().empty());

    Fake().PresentNets.clear();
    Device->GetPortList(ports);
    EXPECT_EQ(ports, QStringList{QStringLiteral("not installed")});
}

TEST_F(CanDeviceFakeTest, ReceivedBytesReachTheHandlerInOrder)
{
    OpenNet3();
    Fake().QueueRead(MakeMsg(101, {1, 2, 3}));
    Fake().QueueRead(MakeMsg(101, {}));
    // A frame claiming more than 8 data bytes gives its 8 bytes only.
    Fake().QueueRead(MakeMsg(101, {4, 5, 6, 7, 8, 9, 10, 11, 0xEE, 0xEE, 0xEE, 0xEE}));
    ASSERT_TRUE(WaitFor([this] { return Received.size() >= 11; }));
    Settle(50);
    EXPECT_EQ(Received, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST_F(CanDeviceFakeTest, BytesLeftByTheHandlerAreHandedOutAgain)
{
    ReadLimit = 3;
    OpenNet3();
    Fake().QueueRead(MakeMsg(101, {1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(WaitFor([this] { return Received.size() == 8; }));
    EXPECT_EQ(Received, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(CanDeviceFakeTest, FullQueueHoldsTheThreadUntilTheMainThreadReads)
{
    ReadInHandler = false;
    OpenNet3();
    std::vector<uint8_t> expected;
    for (int frame = 0; frame < 75; ++frame) {
        CMSG msg;
        msg.id = 101;
        msg.len = 8;
        for (int i = 0; i < 8; ++i) {
            msg.data[i] = static_cast<uint8_t>(frame * 8 + i);
            expected.push_back(msg.data[i]);
        }
        Fake().QueueRead(msg);
    }
    ASSERT_TRUE(WaitFor([this] { return Device->BytesAvailable() == 511; }));
    Settle(250); // the thread keeps retrying the byte that does not fit
    EXPECT_EQ(Device->BytesAvailable(), 511);

    ReadInHandler = true;
    ASSERT_TRUE(WaitFor([this] { return Received.size() >= 600; }));
    EXPECT_EQ(Received, expected);
}

TEST_F(CanDeviceFakeTest, CloseReleasesAThreadWaitingOnAFullQueue)
{
    ReadInHandler = false;
    OpenNet3();
    for (int frame = 0; frame < 70; ++frame)
        Fake().QueueRead(MakeMsg(101, {1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(WaitFor([this] { return Device->BytesAvailable() == 511; }));
    EXPECT_EQ(Device->Close(), E_SUCCESS);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_TRUE(Fake().OpenHandles().empty());
}

TEST_F(CanDeviceFakeTest, CloseWhileTheThreadWaitsForTheMainThread)
{
    OpenNet3();
    // The notification cannot run while the main thread is busy here, so the
    // thread waits in its hand-off when Close starts.
    Fake().QueueRead(MakeMsg(101, {1}));
    while (Fake().PendingReads() > 0)
        QTest::qSleep(1);
    QTest::qSleep(50);
    EXPECT_EQ(Device->Close(), E_SUCCESS);
    EXPECT_FALSE(Device->IsOpen());
    // The notification still queued does not reach the handler of a closed
    // device.
    Settle(50);
    EXPECT_EQ(Notifications, 0);
}

TEST_F(CanDeviceFakeTest, CloseFromInsideTheNotificationDoesNotDeadlock)
{
    OpenNet3();
    Device->OnDataAvailable = [this](TDevice* sender, int32_t) {
        ++Notifications;
        sender->Close();
    };
    Fake().QueueRead(MakeMsg(101, {1, 2}));
    ASSERT_TRUE(WaitFor([this] { return Disconnects == 1; }));
    EXPECT_EQ(Notifications, 1);
    EXPECT_EQ(Device->NetHandle(), -1);
    EXPECT_TRUE(Fake().OpenHandles().empty());
}

TEST_F(CanDeviceFakeTest, LostNetClosesTheDeviceAndReportsOnce)
{
    OpenNet3();
    Fake().QueueRead(MakeMsg(101, {0x42}));
    Fake().QueueRead(CMSG(), NTCAN_NET_LOST);
    ASSERT_TRUE(WaitFor([this] { return Disconnects == 1; }));
    Settle(150);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_EQ(Device->NetHandle(), -1);
    EXPECT_TRUE(Fake().OpenHandles().empty());
    // The bytes that arrived before the loss were handed out.
    EXPECT_EQ(Received, std::vector<uint8_t>{0x42});
    ASSERT_EQ(ErrorCount(), 1);
    EXPECT_EQ(Messages[0].text, TDevice::LinkLostPrefix + canResultText(NTCAN_NET_LOST));
    // No thread keeps reading afterwards.
    const int reads = Fake().ReadCalls();
    Settle(150);
    EXPECT_EQ(Fake().ReadCalls(), reads);
}

} // namespace
