// The gripper object end to end against the gripper simulator over TCP.
#include "DispatchTestSupport.h"

#include "SimulatorProcess.h"

#include <cmath>

namespace {

class GripperSimTest : public DispatchTest {
protected:
    bool StartAndConnect(const QStringList& args = {})
    {
        if (!Sim.Start(args)) {
            ADD_FAILURE() << "simulator did not start: " << Sim.Errors().toStdString();
            return false;
        }
        return ConnectTcp(Sim.TcpPort());
    }

    TSimulatorProcess Sim;
};

TEST_F(GripperSimTest, ReadsInformationAndLimits)
{
    ASSERT_TRUE(StartAndConnect({"--serial", "4711", "--stroke", "80"}));
    TSystemInfo info;
    ASSERT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS);
    EXPECT_EQ(info.GripperType, 1);
    EXPECT_EQ(info.HardwareRevision, 2);
    EXPECT_EQ(info.FirmwareRevision, 259);
    EXPECT_EQ(info.SerialNumber, 4711);
    TSystemLimits limits;
    ASSERT_EQ(Gripper->GetSystemLimits(limits), E_SUCCESS);
    EXPECT_FLOAT_EQ(limits.Stroke, 80.0f);
    EXPECT_FLOAT_EQ(limits.MaxSpeed, 420.0f);
    TGraspingStats stats;
    EXPECT_EQ(Gripper->GetGraspingStats(stats, false), E_SUCCESS);
    EXPECT_EQ(Gripper->Stop(), E_SUCCESS);
    // Every exchange is in the log, request before answer.
    ASSERT_GE(Log->PacketCount(), 8);
    EXPECT_EQ(Log->LineText(0), "TX PACKET: ID=50h, Length=0");
    EXPECT_TRUE(Log->LineText(1).startsWith("RX PACKET: ID=50h, Length=10: 00 00 01 02 03 01"));
}

TEST_F(GripperSimTest, HomingThenGotoWithLiveReports)
{
    ASSERT_TRUE(StartAndConnect({"--homing-speed", "400"}));
    int positions = 0;
    Gripper->OnPosition = [&](QObject*) { ++positions; };
    ASSERT_EQ(Gripper->AutoUpdatePosition(true, 20, false), E_SUCCESS);
    ASSERT_EQ(Gripper->AutoUpdateSystemState(true, 50, true), E_SUCCESS);

    EXPECT_EQ(Gripper->Goto(10.0f, 100.0f, nullptr), E_NOT_INITIALIZED);

    TResultRecorder homing;
    ASSERT_EQ(Gripper->Homing(0, homing.Handler()), E_CMD_PENDING);
    ASSERT_TRUE(WaitFor([&] { return !homing.Calls.empty(); }, 8000));
    EXPECT_EQ(homing.Calls[0].status, E_SUCCESS);
    // The next system-state report shows the fingers referenced.
    EXPECT_TRUE(WaitFor([&] { return (Gripper->SystemState() & 0x1) != 0; }, 1000));

    TResultRecorder move;
    ASSERT_EQ(Gripper->Goto(20.0f, 200.0f, move.Handler()), E_CMD_PENDING);
    ASSERT_TRUE(WaitFor([&] { return !move.Calls.empty(); }, 8000));
    EXPECT_EQ(move.Calls[0].status, E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return std::fabs(Gripper->Position() - 20.0f) < 0.01f; }, 2000)) << Gripper->Position();
    EXPECT_GT(positions, 3);
}

TEST_F(GripperSimTest, LostConnectionReportsDisconnect)
{
    ASSERT_TRUE(StartAndConnect({"--close-after", "3"}));
    int disconnects = 0;
    Gripper->OnDisconnect = [&](QObject*) { ++disconnects; };
    ASSERT_EQ(Gripper->AutoUpdateGraspingState(true, 10, false), E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return disconnects == 1; }));
    EXPECT_FALSE(Gripper->IsConnected());
    EXPECT_EQ(Gripper->GraspingState(), 0);
    EXPECT_EQ(Gripper->Stop(), E_CMD_FAILED);
    EXPECT_EQ(Gripper->Homing(0, nullptr), E_NOT_OPENED);
}

} // namespace
