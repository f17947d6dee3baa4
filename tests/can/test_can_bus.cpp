// The CAN driver layer and the CAN device on the Qt virtual CAN bus, with a
// QCanBusDevice of the test as the other node.
#include "CanTestSupport.h"
#include "VirtualBusPeer.h"

#include <QThread>

#include <atomic>
#include <future>
#include <memory>

namespace {

// Frames of 8 data bytes with identifier `id`, counting up from 0.
std::vector<uint8_t> SendCountingFrames(TVirtualBusPeer& peer, QCanBusFrame::FrameId id, int frames)
{
    std::vector<uint8_t> bytes;
    for (int f = 0; f < frames; ++f) {
        QByteArray data;
        for (int i = 0; i < 8; ++i) {
            const auto b = static_cast<uint8_t>(f * 8 + i);
            data.append(static_cast<char>(b));
            bytes.push_back(b);
        }
        peer.Send(QCanBusFrame(id, data));
    }
    return bytes;
}

class NtcanBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseVirtualBus();
        Peer = std::make_unique<TVirtualBusPeer>();
        ASSERT_TRUE(Peer->Connected());
        ASSERT_EQ(canOpen(0, 0, 64, 64, 100, 100, &Handle), NTCAN_SUCCESS);
        ASSERT_EQ(canIdAdd(Handle, SyncId), NTCAN_SUCCESS);
        ASSERT_TRUE(SyncWithPeer());
    }

    // Exchanges sync frames both ways until each end has heard the other.
    bool SyncWithPeer()
    {
        QDeadlineTimer deadline(5000);
        bool heard = false;
        while (!heard && !deadline.hasExpired()) {
            Peer->Send(QCanBusFrame(SyncId, QByteArray()));
            CMSG msg;
            heard = ReadRaw(msg) == NTCAN_SUCCESS && msg.id == SyncId;
        }
        bool reached = false;
        while (heard && !reached && !deadline.hasExpired()) {
            CMSG sync;
            sync.id = SyncId;
            int32_t count = 1;
            canSend(Handle, &sync, &count);
            reached = WaitFor([this] { return Peer->SyncFrames > 0; }, 200);
        }
        return heard && reached;
    }

    void TearDown() override
    {
        canClose(Handle);
        Peer.reset();
    }

    // One canRead (receive timeout 100 ms) with the main thread's event loop
    // running, so the peer's frames travel while the read waits.
    NTCAN_RESULT ReadRaw(CMSG& msg)
    {
        auto read = std::async(std::launch::async, [this, &msg] {
            int32_t count = 1;
            return canRead(Handle, &msg, &count, nullptr);
        });
        WaitFor([&] { return read.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return read.get();
    }

    // ReadRaw, passing over late sync frames.
    NTCAN_RESULT ReadOnce(CMSG& msg)
    {
        NTCAN_RESULT result = ReadRaw(msg);
        while (result == NTCAN_SUCCESS && msg.id == SyncId)
            result = ReadRaw(msg);
        return result;
    }

    // Reads until a frame comes or 5 s have passed without one.
    NTCAN_RESULT ReadFrame(CMSG& msg)
    {
        QDeadlineTimer deadline(5000);
        NTCAN_RESULT result = ReadOnce(msg);
        while (result == NTCAN_RX_TIMEOUT && !deadline.hasExpired())
            result = ReadOnce(msg);
        return result;
    }

    std::unique_ptr<TVirtualBusPeer> Peer;
    NTCAN_HANDLE Handle = -1;
};

TEST_F(NtcanBusTest, NetsAreTheInterfacesFound)
{
    NTCAN_HANDLE other = -1;
    ASSERT_EQ(canOpen(1, 0, 64, 64, 100, 100, &other), NTCAN_SUCCESS);
    EXPECT_NE(other, Handle);
    EXPECT_EQ(canClose(other), NTCAN_SUCCESS);
    EXPECT_EQ(canClose(other), NTCAN_INVALID_HANDLE);
    EXPECT_EQ(canOpen(2, 0, 64, 64, 100, 100, &other), NTCAN_NET_NOT_FOUND);
    EXPECT_EQ(canOpen(-1, 0, 64, 64, 100, 100, &other), NTCAN_NET_NOT_FOUND);
    EXPECT_EQ(canOpen(0, 0, 0, 64, 100, 100, &other), NTCAN_INVALID_PARAMETER);
    EXPECT_EQ(canOpen(0, 0, 64, 64, 100, 100, nullptr), NTCAN_INVALID_PARAMETER);
}

TEST_F(NtcanBusTest, ReadDeliversOnlyEnabledIdentifiers)
{
    CMSG msg;
    // Only the marker is enabled: the frame before it passes by.
    ASSERT_EQ(canIdAdd(Handle, 0x1FF), NTCAN_SUCCESS);
    Peer->Send(QCanBusFrame(0x101, QByteArray("\x07", 1)));
    Peer->Send(QCanBusFrame(0x1FF, QByteArray()));
    ASSERT_EQ(ReadFrame(msg), NTCAN_SUCCESS);
    EXPECT_EQ(msg.id, 0x1FF);

    ASSERT_EQ(canIdAdd(Handle, 0x101), NTCAN_SUCCESS);
    QCanBusFrame extended(0x101, QByteArray("\x09", 1));
    extended.setExtendedFrameFormat(true);
    Peer->Send(QCanBusFrame(0x100, QByteArray("\x09", 1)));
    Peer->Send(QCanBusFrame(0x101, QByteArray("\x01\x02", 2)));
    Peer->Send(extended);
    Peer->Send(QCanBusFrame(0x102, QByteArray("\x09", 1)));
    Peer->Send(QCanBusFrame(0x101, QByteArray("\x03", 1)));

    ASSERT_EQ(ReadFrame(msg), NTCAN_SUCCESS);
    EXPECT_EQ(msg.id, 0x101);
    ASSERT_EQ(msg.len, 2);
    EXPECT_EQ(msg.data[0], 1);
    EXPECT_EQ(msg.data[1], 2);
    ASSERT_EQ(ReadFrame(msg), NTCAN_SUCCESS);
    ASSERT_EQ(msg.len, 1);
    EXPECT_EQ(msg.data[0], 3);
    // Frames arrive in order: the ones between were there and were dropped.
    EXPECT_EQ(ReadOnce(msg), NTCAN_RX_TIMEOUT);

    for (int32_t invalid : {-1, 0x40000000, NTCAN_20B_BASE | 0x40000000})
        EXPECT_EQ(canIdAdd(Handle, invalid), NTCAN_INVALID_PARAMETER) << invalid;
    EXPECT_EQ(canIdAdd(Handle, NTCAN_20B_BASE | 0x101), NTCAN_SUCCESS);
    Peer->Send(extended);
    ASSERT_EQ(ReadFrame(msg), NTCAN_SUCCESS);
    EXPECT_EQ(msg.id, NTCAN_20B_BASE | 0x101);

    // Identifiers above 0x7FF are 29-bit identifiers, flag or not.
    EXPECT_EQ(canIdAdd(Handle, 0x800), NTCAN_SUCCESS);
    QCanBusFrame above(0x800, QByteArray("\x04", 1));
    above.setExtendedFrameFormat(true);
    Peer->Send(QCanBusFrame(0x101, QByteArray("\x05", 1)));
    Peer->Send(above);
    ASSERT_EQ(ReadFrame(msg), NTCAN_SUCCESS);
    EXPECT_EQ(msg.data[0], 5);
    ASSERT_EQ(ReadFrame(msg), NTCAN_SUCCESS);
    EXPECT_EQ(msg.id, NTCAN_20B_BASE | 0x800);
    EXPECT_EQ(msg.data[0], 4);
}

TEST_F(NtcanBusTest, FramesLongerThanEightBytesGiveTheirFirstEight)
{
    ASSERT_EQ(canIdAdd(Handle, 0x101), NTCAN_SUCCESS);
    QCanBusFrame frame(0x101, QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C", 12));
    frame.setFlexibleDataRateFormat(true);
    Peer->EnableFlexibleDataRate();
    Peer->Send(frame);
    CMSG msg;
    ASSERT_EQ(ReadFrame(msg), NTCAN_SUCCESS);
    EXPECT_EQ(msg.len, 8);
    EXPECT_EQ(msg.data[7], 8);
}

TEST_F(NtcanBusTest, AbortReleasesAWaitingReadOnly)
{
    NTCAN_HANDLE slow = -1;
    ASSERT_EQ(canOpen(1, 0, 64, 64, 100, 60000, &slow), NTCAN_SUCCESS);
    std::atomic<bool> started = false;
    auto read = std::async(std::launch::async, [&] {
        CMSG msg;
        int32_t count = 1;
        started = true;
        return canRead(slow, &msg, &count, nullptr);
    });
    while (!started)
        QThread::msleep(1);
    QThread::msleep(50);
    EXPECT_EQ(canIoctl(slow, NTCAN_IOCTL_ABORT_RX, nullptr), NTCAN_SUCCESS);
    EXPECT_EQ(read.get(), NTCAN_OPERATION_ABORTED);

    // An abort with no read waiting does not end the next read early.
    EXPECT_EQ(canIoctl(Handle, NTCAN_IOCTL_ABORT_RX, nullptr), NTCAN_SUCCESS);
    CMSG msg;
    EXPECT_EQ(ReadOnce(msg), NTCAN_RX_TIMEOUT);
    EXPECT_EQ(canIoctl(Handle, 1, nullptr), NTCAN_INVALID_PARAMETER);
    canClose(slow);
}

TEST_F(NtcanBusTest, CloseReleasesAWaitingRead)
{
    NTCAN_HANDLE slow = -1;
    ASSERT_EQ(canOpen(1, 0, 64, 64, 100, 60000, &slow), NTCAN_SUCCESS);
    std::atomic<bool> started = false;
    auto read = std::async(std::launch::async, [&] {
        CMSG msg;
        int32_t count = 1;
        started = true;
        return canRead(slow, &msg, &count, nullptr);
    });
    while (!started)
        QThread::msleep(1);
    QThread::msleep(50);
    EXPECT_EQ(canClose(slow), NTCAN_SUCCESS);
    EXPECT_EQ(read.get(), NTCAN_INVALID_HANDLE);
}

TEST_F(NtcanBusTest, SendReachesThePeer)
{
    CMSG msgs[2];
    msgs[0].id = 0x100;
    msgs[0].len = 3;
    msgs[0].data[0] = 0xAA;
    msgs[1].id = NTCAN_20B_BASE | 0x12345;
    msgs[1].len = 0;
    int32_t count = 2;
    ASSERT_EQ(canSend(Handle, msgs, &count), NTCAN_SUCCESS);
    EXPECT_EQ(count, 2);
    CMSG above;
    above.id = 0x800;
    count = 1;
    ASSERT_EQ(canSend(Handle, &above, &count), NTCAN_SUCCESS);
    ASSERT_TRUE(WaitFor([this] { return Peer->Received.size() == 3; }));
    EXPECT_EQ(Peer->Received[2].frameId(), 0x800u);
    EXPECT_TRUE(Peer->Received[2].hasExtendedFrameFormat());
    EXPECT_EQ(Peer->Received[0].frameId(), 0x100u);
    EXPECT_EQ(Peer->Received[0].payload(), QByteArray("\xAA\x00\x00", 3));
    EXPECT_FALSE(Peer->Received[0].hasExtendedFrameFormat());
    EXPECT_EQ(Peer->Received[1].frameId(), 0x12345u);
    EXPECT_TRUE(Peer->Received[1].hasExtendedFrameFormat());

    CMSG bad;
    bad.id = 0x40000000;
    count = 1;
    EXPECT_EQ(canSend(Handle, &bad, &count), NTCAN_INVALID_PARAMETER);
    EXPECT_EQ(count, 0);
    bad.id = 0x100;
    bad.len = 9;
    count = 1;
    EXPECT_EQ(canSend(Handle, &bad, &count), NTCAN_INVALID_PARAMETER);
}

TEST_F(NtcanBusTest, BitratesOfTheTableAreAccepted)
{
    for (uint32_t code : {NTCAN_BAUD_10, NTCAN_BAUD_250, NTCAN_BAUD_1000})
        EXPECT_EQ(canSetBaudrate(Handle, code), NTCAN_SUCCESS) << code;
    EXPECT_EQ(canSetBaudrate(Handle, 3), NTCAN_INVALID_PARAMETER);
    EXPECT_EQ(canSetBaudrate(Handle + 1000, NTCAN_BAUD_250), NTCAN_INVALID_HANDLE);
}

TEST_F(NtcanBusTest, VanishedInterfaceEndsItsNetOnly)
{
    NTCAN_HANDLE second = -1;
    ASSERT_EQ(canOpen(1, 0, 64, 64, 100, 100, &second), NTCAN_SUCCESS);
    OfferSecondNet(false);
    QDeadlineTimer deadline(5000);
    NTCAN_RESULT result = NTCAN_RX_TIMEOUT;
    CMSG msg;
    while (result == NTCAN_RX_TIMEOUT && !deadline.hasExpired()) {
        int32_t count = 1;
        result = canRead(second, &msg, &count, nullptr);
    }
    OfferSecondNet(true);
    EXPECT_EQ(result, NTCAN_NET_LOST);
    int32_t count = 1;
    EXPECT_EQ(canSend(second, &msg, &count), NTCAN_NET_LOST);
    EXPECT_EQ(canClose(second), NTCAN_SUCCESS);

    // Net 0 goes on.
    ASSERT_EQ(canIdAdd(Handle, 0x101), NTCAN_SUCCESS);
    Peer->Send(QCanBusFrame(0x101, QByteArray("\x06", 1)));
    ASSERT_EQ(ReadFrame(msg), NTCAN_SUCCESS);
    EXPECT_EQ(msg.data[0], 6);
}

TEST_F(NtcanBusTest, ClosedHandleRefusesEverything)
{
    NTCAN_HANDLE closed = -1;
    ASSERT_EQ(canOpen(1, 0, 64, 64, 100, 100, &closed), NTCAN_SUCCESS);
    ASSERT_EQ(canClose(closed), NTCAN_SUCCESS);
    CMSG msg;
    int32_t count = 1;
    EXPECT_EQ(canRead(closed, &msg, &count, nullptr), NTCAN_INVALID_HANDLE);
    EXPECT_EQ(canSend(closed, &msg, &count), NTCAN_INVALID_HANDLE);
    EXPECT_EQ(canIdAdd(closed, 1), NTCAN_INVALID_HANDLE);
    EXPECT_EQ(canIoctl(closed, NTCAN_IOCTL_ABORT_RX, nullptr), NTCAN_INVALID_HANDLE);
}

class CanDeviceBusTest : public CanDeviceTest {
protected:
    void SetUp() override
    {
        CanDeviceTest::SetUp();
        UseVirtualBus();
        Peer = std::make_unique<TVirtualBusPeer>();
        ASSERT_TRUE(Peer->Connected());
        Device = std::make_unique<TCANDevice>(nullptr);
        AttachOperator(*Device);
        Watch(*Device);
    }

    void TearDown() override
    {
        Device.reset();
        Peer.reset();
        CanDeviceTest::TearDown();
    }

    void OpenNet0()
    {
        ASSERT_EQ(Device->Open(QStringLiteral("Net 0")), E_SUCCESS);
        ASSERT_TRUE(WaitFor([this] { return Connects == 1; }));
        ASSERT_TRUE(SyncWithPeer());
    }

    // Sends a byte to the device until it arrives, then drops it: from then
    // on the bus server delivers every frame of the peer to the device.
    bool SyncWithPeer()
    {
        const bool reading = ReadInHandler;
        ReadInHandler = false;
        QDeadlineTimer deadline(5000);
        while (Device->BytesAvailable() == 0 && !deadline.hasExpired()) {
            Peer->Send(QCanBusFrame(101, QByteArray("\xA5", 1)));
            WaitFor([this] { return Device->BytesAvailable() > 0; }, 500);
        }
        Settle(50);
        uint8_t drop[RxQueueBytes];
        const bool synced = Device->Read(drop, RxQueueBytes) > 0;
        ReadInHandler = reading;
        Notifications = 0;
        return synced;
    }

    static constexpr int32_t RxQueueBytes = 512;

    std::unique_ptr<TVirtualBusPeer> Peer;
    std::unique_ptr<TCANDevice> Device;
};

TEST_F(CanDeviceBusTest, PortListShowsTheVirtualNets)
{
    QStringList ports;
    Device->GetPortList(ports);
    EXPECT_EQ(ports, (QStringList{QStringLiteral("Net 0"), QStringLiteral("Net 1")}));
}

TEST_F(CanDeviceBusTest, SendsWithTheIdentifierAndReceivesOnlyTheNext)
{
    IdText = QStringLiteral("100");
    OpenNet0();
    const uint8_t packet[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(Device->Write(packet, 9), E_SUCCESS);
    ASSERT_TRUE(WaitFor([this] { return Peer->Received.size() == 2; }));
    EXPECT_EQ(Peer->Received[0].frameId(), 100u);
    EXPECT_EQ(Peer->Received[0].payload(), QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    EXPECT_EQ(Peer->Received[1].frameId(), 100u);
    EXPECT_EQ(Peer->Received[1].payload(), QByteArray("\x09", 1));

    Peer->Send(QCanBusFrame(101, QByteArray("\x01\x02\x03", 3)));
    Peer->Send(QCanBusFrame(102, QByteArray("\xEE", 1)));
    Peer->Send(QCanBusFrame(100, QByteArray("\xEE", 1)));
    Peer->Send(QCanBusFrame(101, QByteArray("\x04", 1)));
    ASSERT_TRUE(WaitFor([this] { return Received.size() >= 4; }));
    Settle(100);
    EXPECT_EQ(Received, (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(CanDeviceBusTest, NoByteIsLostWhenMoreArriveThanTheQueueHolds)
{
    ReadInHandler = false;
    OpenNet0();
    const std::vector<uint8_t> sent = SendCountingFrames(*Peer, 101, 75);
    ASSERT_TRUE(WaitFor([this] { return Device->BytesAvailable() == 511; }));
    Settle(300);
    EXPECT_EQ(Device->BytesAvailable(), 511);

    ReadInHandler = true;
    ASSERT_TRUE(WaitFor([this] { return Received.size() >= 600; }));
    EXPECT_EQ(Received, sent);
}

TEST_F(CanDeviceBusTest, CloseWhileTheThreadWaitsForFramesAndOpenAgain)
{
    OpenNet0();
    Settle(150);
    EXPECT_EQ(Device->Close(), E_SUCCESS);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_EQ(Device->NetHandle(), -1);

    // The bus is still there for the next connection.
    ASSERT_EQ(Device->Open(QStringLiteral("Net 0")), E_SUCCESS);
    ASSERT_TRUE(WaitFor([this] { return Connects == 2; }));
    Peer->Send(QCanBusFrame(101, QByteArray("\x05", 1)));
    ASSERT_TRUE(WaitFor([this] { return Received.size() == 1; }));
    EXPECT_EQ(Received[0], 5);
}

TEST_F(CanDeviceBusTest, UnpluggedInterfaceClosesTheDeviceOnce)
{
    ASSERT_EQ(Device->Open(QStringLiteral("Net 1")), E_SUCCESS);
    ASSERT_TRUE(WaitFor([this] { return Connects == 1; }));
    OfferSecondNet(false);
    const bool closed = WaitFor([this] { return Disconnects == 1; });
    OfferSecondNet(true);
    ASSERT_TRUE(closed);
    Settle(200);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_EQ(Device->NetHandle(), -1);
    ASSERT_EQ(ErrorCount(), 1);
    EXPECT_EQ(Messages[0].text, TDevice::LinkLostPrefix + canResultText(NTCAN_NET_LOST));
}

TEST_F(CanDeviceBusTest, CloseWhileTheThreadWaitsOnAFullQueue)
{
    ReadInHandler = false;
    OpenNet0();
    SendCountingFrames(*Peer, 101, 70);
    ASSERT_TRUE(WaitFor([this] { return Device->BytesAvailable() == 511; }));
    EXPECT_EQ(Device->Close(), E_SUCCESS);
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_EQ(Disconnects, 1);
}

} // namespace
