// Transactions of the gripper object against a scripted gripper on a
// loopback TCP port: the worked byte sequences, asynchronous results, state
// reports, timeouts, wrong lengths and nesting.
#include "DispatchTestSupport.h"

#include "HXT_commands.h"

#include <QElapsedTimer>

#include <cstring>

namespace {

class TransactionTest : public DispatchTest {
protected:
    void SetUp() override
    {
        DispatchTest::SetUp();
        ASSERT_TRUE(ConnectTcp(Peer.Port()));
        ASSERT_TRUE(WaitFor([this] { return Peer.HasClient(); }));
        Gripper->OnSystemState = [this](QObject* sender) {
            EXPECT_EQ(sender, Gripper);
            ++SystemStateEvents;
        };
        Gripper->OnGraspingState = [this](QObject*) { ++GraspingStateEvents; };
        Gripper->OnPosition = [this](QObject*) { ++PositionEvents; };
    }

    // Sends unrequested bytes and waits until the gripper object took them.
    void Unsolicited(const QByteArray& bytes)
    {
        const int before = Log->PacketCount();
        Peer.Send(bytes);
        ASSERT_TRUE(WaitFor([&] { return Log->PacketCount() > before; }));
    }

    TScriptedGripper Peer;
    int SystemStateEvents = 0;
    int GraspingStateEvents = 0;
    int PositionEvents = 0;
};

TEST_F(TransactionTest, CommandsSendTheirExactFrames)
{
    const struct {
        const char* name;
        std::function<TStat()> call;
        const char* frame;
    } cases[] = {
        {"Stop", [&] { return Gripper->Stop(); }, "AA AA AA 22 00 00 0E 76"},
        {"FastStop", [&] { return Gripper->FastStop(); }, "AA AA AA 23 00 00 AC 1C"},
        {"FastStopAck", [&] { return Gripper->FastStopAck(); }, "AA AA AA 24 03 00 61 63 6B DC B9"},
        {"GetSystemLimits", [&] { TSystemLimits l; return Gripper->GetSystemLimits(l); }, "AA AA AA 53 00 00 3D 38"},
        {"GetSystemInfo", [&] { TSystemInfo i; return Gripper->GetSystemInfo(i); }, "AA AA AA 50 00 00 DB 87"},
        {"GetGraspingStats", [&] { TGraspingStats s; return Gripper->GetGraspingStats(s, false); },
         "AA AA AA 42 01 00 00 42 89"},
        {"AutoUpdateSystemState", [&] { return Gripper->AutoUpdateSystemState(true, 50, true); },
         "AA AA AA 40 03 00 03 32 00 15 CD"},
        {"AutoUpdatePosition", [&] { return Gripper->AutoUpdatePosition(true, 100, true); },
         "AA AA AA 43 03 00 03 64 00 52 AB"},
        {"Goto", [&] { return Gripper->Goto(10.0f, 50.0f, nullptr); },
         "AA AA AA 21 09 00 00 00 00 20 41 00 00 48 42 F2 B1"},
    };
    for (const auto& c : cases) {
        const QByteArray frame = Hex(c.frame);
        Peer.Answer(static_cast<uint8_t>(frame[3]), Frame(static_cast<uint8_t>(frame[3]), Hex("00 00")));
        Peer.Requests.clear();
        c.call();
        ASSERT_EQ(Peer.Requests.size(), 1u) << c.name;
        EXPECT_EQ(Peer.Requests[0].toHex(' ').toUpper(), frame.toHex(' ').toUpper()) << c.name;
    }
}

TEST_F(TransactionTest, PayloadsOfMotionAndSettings)
{
    for (uint8_t cmd : {0x25, 0x26, 0x30, 0x32, 0x41, 0x42, 0x43})
        Peer.Answer(cmd, Frame(cmd, Hex("00 00")));
    auto payloadOf = [&](const std::function<void()>& call) {
        Peer.Requests.clear();
        call();
        EXPECT_EQ(Peer.Requests.size(), 1u);
        return Peer.Requests.empty() ? QByteArray() : Peer.Requests[0].mid(6, Peer.Requests[0].size() - 8);
    };
    EXPECT_EQ(payloadOf([&] { Gripper->Grasp(8.0f, 50.0f, nullptr); }), Hex("00 00 00 41 00 00 48 42"));
    EXPECT_EQ(payloadOf([&] { Gripper->Release(8.0f, 50.0f, nullptr); }), Hex("00 00 00 41 00 00 48 42"));
    EXPECT_EQ(payloadOf([&] { Gripper->SetAcceleration(1.0f); }), Hex("00 00 80 3F"));
    EXPECT_EQ(payloadOf([&] { Gripper->SetForceLimit(12.5f); }), Hex("00 00 48 41"));
    EXPECT_EQ(payloadOf([&] { Gripper->AutoUpdateGraspingState(false, 0x1234, true); }), Hex("00 00 00"));
    EXPECT_EQ(payloadOf([&] { Gripper->AutoUpdatePosition(true, 0x1234, false); }), Hex("01 34 12"));
    EXPECT_EQ(payloadOf([&] { Gripper->AutoUpdatePosition(true, 0x51234, true); }), Hex("03 34 12"));
    TGraspingStats stats;
    EXPECT_EQ(payloadOf([&] { Gripper->GetGraspingStats(stats, true); }), Hex("01"));
}

TEST_F(TransactionTest, HomingPendingThenFinalResults)
{
    Peer.Answer(0x20, Hex("AA AA AA 20 02 00 1A 00 FC 32"));
    TResultRecorder results;
    EXPECT_EQ(Gripper->Homing(0, results.Handler()), E_CMD_PENDING);
    ASSERT_EQ(Peer.Requests.size(), 1u);
    EXPECT_EQ(Peer.Requests[0], Hex("AA AA AA 20 01 00 00 8F 83"));
    EXPECT_TRUE(results.Calls.empty());

    Unsolicited(Hex("AA AA AA 20 02 00 00 00 B3 FD"));
    ASSERT_EQ(results.Calls.size(), 1u);
    EXPECT_EQ(results.Calls[0].id, 0x20);
    EXPECT_EQ(results.Calls[0].status, E_SUCCESS);
    EXPECT_TRUE(results.Calls[0].data.empty());

    // The handler stays registered: a third packet calls it again.
    Unsolicited(Hex("AA AA AA 20 02 00 1D 00 45 BF"));
    ASSERT_EQ(results.Calls.size(), 2u);
    EXPECT_EQ(results.Calls[1].status, E_AXIS_BLOCKED);

    const std::vector<QString> expected{
        "TX PACKET: ID=20h, Length=1: 00", "RX PACKET: ID=20h, Length=2: 1A 00", "RX PACKET: ID=20h, Length=2: 00 00",
        "RX PACKET: ID=20h, Length=2: 1D 00"};
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(TransactionTest, FinalResultCarriesItsResultBytes)
{
    Peer.Answer(0x21, Hex("AA AA AA 21 02 00 1A 00 67 CB"));
    TResultRecorder results;
    EXPECT_EQ(Gripper->Goto(10.0f, 50.0f, results.Handler()), E_CMD_PENDING);
    Unsolicited(Frame(0x21, Hex("00 00 07 08")));
    ASSERT_EQ(results.Calls.size(), 1u);
    EXPECT_EQ(results.Calls[0].data, (TByteArray{0x07, 0x08}));
}

TEST_F(TransactionTest, ImmediateSuccessRegistersNothingAndDropsAnOlderHandler)
{
    Peer.Answer(0x25, Frame(0x25, Hex("1A 00")));
    TResultRecorder first;
    TResultRecorder second;
    EXPECT_EQ(Gripper->Grasp(8.0f, 50.0f, first.Handler()), E_CMD_PENDING);
    Peer.Answer(0x25, Frame(0x25, Hex("00 00")));
    EXPECT_EQ(Gripper->Grasp(8.0f, 50.0f, second.Handler()), E_SUCCESS);
    Unsolicited(Frame(0x25, Hex("00 00")));
    EXPECT_TRUE(first.Calls.empty());
    EXPECT_TRUE(second.Calls.empty());

    // An error status of the immediate answer is returned as it is.
    Peer.Answer(0x25, Frame(0x25, Hex("03 00")));
    EXPECT_EQ(Gripper->Grasp(8.0f, 50.0f, second.Handler()), E_NOT_INITIALIZED);
}

TEST_F(TransactionTest, SystemInfoDecodes)
{
    Peer.Answer(0x50, Hex("AA AA AA 50 0A 00 00 00 01 02 03 01 4E 61 BC 00 44 7C"));
    TSystemInfo info;
    ASSERT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS);
    EXPECT_EQ(info.GripperType, 1);
    EXPECT_EQ(info.HardwareRevision, 2);
    EXPECT_EQ(info.FirmwareRevision, 259);
    EXPECT_EQ(info.SerialNumber, 12345678);
}

TEST_F(TransactionTest, SystemLimitsAndGraspingStatsDecode)
{
    QByteArray limits;
    for (float v : {110.0f, 5.0f, 420.0f, 100.0f, 5000.0f, 5.0f, 80.0f, 120.0f})
        limits.append(reinterpret_cast<const char*>(&v), 4);
    Peer.Answer(0x53, Frame(0x53, Hex("00 00") + limits));
    TSystemLimits l;
    ASSERT_EQ(Gripper->GetSystemLimits(l), E_SUCCESS);
    EXPECT_FLOAT_EQ(l.Stroke, 110.0f);
    EXPECT_FLOAT_EQ(l.MinSpeed, 5.0f);
    EXPECT_FLOAT_EQ(l.MaxSpeed, 420.0f);
    EXPECT_FLOAT_EQ(l.MinAcceleration, 100.0f);
    EXPECT_FLOAT_EQ(l.MaxAcceleration, 5000.0f);
    EXPECT_FLOAT_EQ(l.MinForce, 5.0f);
    EXPECT_FLOAT_EQ(l.MaxForce, 80.0f);
    EXPECT_FLOAT_EQ(l.Extra, 120.0f);

    Peer.Answer(0x42, Frame(0x42, Hex("00 00 40 E2 01 00 FF FF 02 01")));
    TGraspingStats stats;
    ASSERT_EQ(Gripper->GetGraspingStats(stats, false), E_SUCCESS);
    EXPECT_EQ(stats.NumGrasps, 123456);
    EXPECT_EQ(stats.NumNotFound, 65535);
    EXPECT_EQ(stats.NumLost, 258);
}

TEST_F(TransactionTest, WrongLengthAnswersFailAndLeaveRecordsAlone)
{
    TSystemLimits limits;
    limits.Stroke = -1.0f;
    for (int size : {31, 33}) {
        Peer.Answer(0x53, Frame(0x53, Hex("00 00") + QByteArray(size, '\x01')));
        EXPECT_EQ(Gripper->GetSystemLimits(limits), E_CMD_FAILED) << size;
        EXPECT_EQ(limits.Stroke, -1.0f);
    }
    Peer.Answer(0x53, Frame(0x53, Hex("10 00") + QByteArray(32, '\x01')));
    EXPECT_EQ(Gripper->GetSystemLimits(limits), E_ACCESS_DENIED);
    EXPECT_EQ(limits.Stroke, -1.0f);

    TSystemInfo info;
    info.SerialNumber = 42;
    // A refusal carries no record: the gripper's own status is told.
    Peer.Answer(0x50, Frame(0x50, Hex("0E 00")));
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_CMD_UNKNOWN);
    EXPECT_EQ(info.SerialNumber, 42);
    Peer.Answer(0x50, Frame(0x50, Hex("00 00 01 02")));
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_CMD_FAILED);
    EXPECT_EQ(Gripper->LastTransactionFault(), "the gripper's answer carries 2 result bytes instead of 8");
    EXPECT_EQ(info.SerialNumber, 42);

    // Shorter than the status word: no usable answer at all.
    Peer.Answer(0x22, Frame(0x22, Hex("00")));
    EXPECT_EQ(Gripper->Stop(), E_CMD_FAILED);
    Peer.Answer(0x22, Frame(0x22, QByteArray()));
    TByteArray data;
    TStat status = E_SUCCESS;
    EXPECT_FALSE(Gripper->Execute(0x22, {}, data, status));
}

TEST_F(TransactionTest, ExecuteReturnsStatusAndResultBytes)
{
    Peer.Answer(0x22, Hex("AA AA AA 22 02 00 00 00 A7 2E"));
    TByteArray data{0x55};
    TStat status = E_CMD_FAILED;
    ASSERT_TRUE(Gripper->Execute(0x22, {}, data, status));
    EXPECT_EQ(status, E_SUCCESS);
    EXPECT_TRUE(data.empty());

    // The status is the low byte of the status word.
    Peer.Answer(0x31, Frame(0x31, Hex("1D 01 00 00 7A 44")));
    ASSERT_TRUE(Gripper->Execute(0x31, {}, data, status));
    EXPECT_EQ(status, E_AXIS_BLOCKED);
    EXPECT_EQ(data, (TByteArray{0x00, 0x00, 0x7A, 0x44}));
}

TEST_F(TransactionTest, UnrequestedStateReports)
{
    Unsolicited(Hex("AA AA AA 43 06 00 00 00 00 00 48 41 01 CF"));
    EXPECT_FLOAT_EQ(Gripper->Position(), 12.5f);
    EXPECT_EQ(PositionEvents, 1);
    Unsolicited(Hex("AA AA AA 41 03 00 00 00 04 5A 02"));
    EXPECT_EQ(Gripper->GraspingState(), 4);
    EXPECT_EQ(GraspingStateEvents, 1);
    Unsolicited(Hex("AA AA AA 40 06 00 00 00 01 10 00 00 E5 D1"));
    EXPECT_EQ(Gripper->SystemState(), 0x00001001u);
    EXPECT_EQ(SystemStateEvents, 1);
    Unsolicited(Hex("AA AA AA 40 06 00 00 00 01 00 00 00 65 BD"));
    EXPECT_EQ(Gripper->SystemState(), 0x00000001u);
    EXPECT_EQ(SystemStateEvents, 2);
}

TEST_F(TransactionTest, MalformedOrFailedReportsChangeOnlyWhatIsDocumented)
{
    Unsolicited(Frame(0x43, Hex("00 00 00 00 48 41")));
    Unsolicited(Frame(0x41, Hex("00 00 03")));
    Unsolicited(Frame(0x40, Hex("00 00 01 10 00 00")));
    const int events = PositionEvents + GraspingStateEvents + SystemStateEvents;

    // Non-success status: nothing changes.
    Unsolicited(Frame(0x43, Hex("10 00 00 00 20 41")));
    Unsolicited(Frame(0x40, Hex("10 00 00 00")));
    EXPECT_FLOAT_EQ(Gripper->Position(), 12.5f);
    EXPECT_EQ(Gripper->SystemState(), 0x1001u);

    // Wrong lengths carry no value: everything kept, no events.
    Unsolicited(Frame(0x43, Hex("00 00 00 00 20")));
    Unsolicited(Frame(0x41, Hex("00 00 03 03")));
    Unsolicited(Frame(0x40, Hex("00 00 01 00 00")));
    EXPECT_FLOAT_EQ(Gripper->Position(), 12.5f);
    EXPECT_EQ(Gripper->GraspingState(), 3);
    EXPECT_EQ(Gripper->SystemState(), 0x1001u);

    // A packet of length 1 is logged and does nothing else.
    TResultRecorder results;
    Peer.Answer(0x40, Frame(0x40, Hex("1A 00")));
    Gripper->ExecuteAsync(0x40, {}, results.Handler());
    Unsolicited(Frame(0x40, Hex("00")));
    EXPECT_TRUE(results.Calls.empty());
    EXPECT_EQ(LogLines().back(), "RX PACKET: ID=40h, Length=1: 00");
    EXPECT_EQ(PositionEvents + GraspingStateEvents + SystemStateEvents, events);
}

TEST_F(TransactionTest, HandlerRunsBeforeTheStateUpdate)
{
    Peer.Answer(0x43, Frame(0x43, Hex("1A 00")));
    float positionSeenByHandler = -1.0f;
    Gripper->ExecuteAsync(0x43, Bytes(Hex("03 64 00")),
                          [&](QObject*, int, TStat, const TByteArray&) { positionSeenByHandler = Gripper->Position(); });
    Unsolicited(Frame(0x43, Hex("00 00 00 00 48 41")));
    EXPECT_FLOAT_EQ(positionSeenByHandler, 0.0f);
    EXPECT_FLOAT_EQ(Gripper->Position(), 12.5f);
}

TEST_F(TransactionTest, TimeoutStillHandlesOtherPackets)
{
    // No answer to STOP; a position report comes in during the wait.
    QTimer::singleShot(300, [this] { Peer.Send(Frame(0x43, Hex("00 00 00 00 48 41"))); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Gripper->Stop(), E_CMD_FAILED);
    const qint64 elapsed = clock.elapsed();
    EXPECT_GT(elapsed, 3000);
    EXPECT_LT(elapsed, 4500);
    EXPECT_EQ(PositionEvents, 1);
    EXPECT_FLOAT_EQ(Gripper->Position(), 12.5f);
    const std::vector<QString> expected{"TX PACKET: ID=22h, Length=0", "RX PACKET: ID=43h, Length=6: 00 00 00 00 48 41"};
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(TransactionTest, OtherCommandsDuringTheWaitDoNotEndIt)
{
    // The final result of an earlier motion and a report arrive before the
    // answer; all three are handled, only the answer ends the wait.
    Peer.Answer(0x20, Frame(0x20, Hex("1A 00")));
    TResultRecorder homing;
    ASSERT_EQ(Gripper->Homing(0, homing.Handler()), E_CMD_PENDING);
    Peer.Answer(0x50, Frame(0x20, Hex("00 00")) + Frame(0x40, Hex("00 00 02 00 00 00")) +
                          Hex("AA AA AA 50 0A 00 00 00 01 02 03 01 4E 61 BC 00 44 7C"));
    TSystemInfo info;
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS);
    EXPECT_EQ(info.SerialNumber, 12345678);
    ASSERT_EQ(homing.Calls.size(), 1u);
    EXPECT_EQ(homing.Calls[0].status, E_SUCCESS);
    EXPECT_EQ(Gripper->SystemState(), 2u);
}

TEST_F(TransactionTest, PacketsQueuedBehindTheAnswerAreHandledAfterwards)
{
    // Answer and report in one write: the report must not wait for the next
    // packet to arrive.
    Peer.Answer(0x22, Frame(0x22, Hex("00 00")) + Frame(0x43, Hex("00 00 00 00 48 41")));
    EXPECT_EQ(Gripper->Stop(), E_SUCCESS);
    ASSERT_TRUE(WaitFor([this] { return PositionEvents == 1; }, 1000));
    EXPECT_FLOAT_EQ(Gripper->Position(), 12.5f);
}

TEST_F(TransactionTest, NestedExecuteInsideAnotherWait)
{
    Peer.Answer(0x22, Frame(0x22, Hex("00 00")), 400);
    Peer.Answer(0x50, Hex("AA AA AA 50 0A 00 00 00 01 02 03 01 4E 61 BC 00 44 7C"));
    TStat innerStatus = E_CMD_FAILED;
    TSystemInfo info;
    bool innerDone = false;
    bool outerDoneBeforeInner = false;
    bool outerDone = false;
    QTimer::singleShot(50, [&] {
        outerDoneBeforeInner = outerDone;
        innerStatus = Gripper->GetSystemInfo(info);
        innerDone = true;
    });
    EXPECT_EQ(Gripper->Stop(), E_SUCCESS);
    outerDone = true;
    EXPECT_TRUE(innerDone);
    EXPECT_FALSE(outerDoneBeforeInner);
    EXPECT_EQ(innerStatus, E_SUCCESS);
    EXPECT_EQ(info.FirmwareRevision, 259);
    // Between exchanges, packets are handled as they come.
    Unsolicited(Frame(0x43, Hex("00 00 00 00 48 41")));
    EXPECT_EQ(PositionEvents, 1);
}

TEST_F(TransactionTest, HandlerMayRunATransactionWhileMorePacketsAreQueued)
{
    // The final result and a report arrive in one chunk; the result handler
    // stops the gripper, which waits for its own answer in the middle of
    // handling that chunk.
    Peer.Answer(0x20, Frame(0x20, Hex("1A 00")));
    TStat stopStatus = E_CMD_FAILED;
    ASSERT_EQ(Gripper->Homing(0, [&](QObject*, int, TStat, const TByteArray&) { stopStatus = Gripper->Stop(); }),
              E_CMD_PENDING);
    Peer.Answer(0x22, Frame(0x22, Hex("00 00")), 20);
    Unsolicited(Frame(0x20, Hex("00 00")) + Frame(0x43, Hex("00 00 00 00 48 41")));
    ASSERT_TRUE(WaitFor([&] { return stopStatus == E_SUCCESS; }, 2000));
    EXPECT_EQ(PositionEvents, 1);
    const std::vector<QString> expected{"TX PACKET: ID=20h, Length=1: 00",
                                        "RX PACKET: ID=20h, Length=2: 1A 00",
                                        "RX PACKET: ID=20h, Length=2: 00 00",
                                        "TX PACKET: ID=22h, Length=0",
                                        "RX PACKET: ID=43h, Length=6: 00 00 00 00 48 41",
                                        "RX PACKET: ID=22h, Length=2: 00 00"};
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(TransactionTest, ReconnectResetsStatesButNotPosition)
{
    int connects = 0;
    int disconnects = 0;
    Gripper->OnConnect = [&](QObject* sender) {
        EXPECT_EQ(sender, Gripper);
        ++connects;
    };
    Gripper->OnDisconnect = [&](QObject*) { ++disconnects; };
    Unsolicited(Frame(0x43, Hex("00 00 00 00 48 41")));
    Unsolicited(Frame(0x41, Hex("00 00 03")));
    Unsolicited(Frame(0x40, Hex("00 00 01 10 00 00")));
    const int events = PositionEvents + GraspingStateEvents + SystemStateEvents;

    Gripper->Disconnect();
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(Gripper->IsConnected());
    EXPECT_EQ(Gripper->SystemState(), 0u);
    EXPECT_EQ(Gripper->GraspingState(), 0);

    ASSERT_TRUE(ConnectTcp(Peer.Port()));
    ASSERT_TRUE(WaitFor([&] { return connects == 1; }));
    EXPECT_EQ(Gripper->SystemState(), 0u);
    EXPECT_EQ(Gripper->GraspingState(), 0);
    EXPECT_FLOAT_EQ(Gripper->Position(), 12.5f);
    EXPECT_EQ(PositionEvents + GraspingStateEvents + SystemStateEvents, events);
    ASSERT_TRUE(WaitFor([this] { return Peer.HasClient(); }));
    Unsolicited(Frame(0x41, Hex("00 00 03")));
    EXPECT_EQ(Gripper->GraspingState(), 3);
}

TEST_F(TransactionTest, CancelledConnectKeepsTheConnection)
{
    CancelDialogs = true;
    EXPECT_EQ(Gripper->Connect(), E_CMD_ABORTED);
    EXPECT_TRUE(Gripper->IsConnected());
    CancelDialogs = false;
    Peer.Answer(0x22, Frame(0x22, Hex("00 00")));
    EXPECT_EQ(Gripper->Stop(), E_SUCCESS);
}

TEST_F(TransactionTest, OversizedRequestFailsAndKeepsPacketHandling)
{
    TByteArray data;
    TStat status = E_SUCCESS;
    EXPECT_FALSE(Gripper->Execute(0x51, TByteArray(70000, 0x41), data, status));
    EXPECT_EQ(Log->PacketCount(), 0);
    EXPECT_TRUE(Peer.Requests.empty());
    Unsolicited(Frame(0x43, Hex("00 00 00 00 48 41")));
    EXPECT_EQ(PositionEvents, 1);
}

} // namespace
