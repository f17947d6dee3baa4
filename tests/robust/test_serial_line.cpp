// The same faults over a serial line: the simulator's pseudo-terminal with
// stray bytes between frames, and a hang-up after which a fresh terminal
// takes the link.
#include "RobustTestSupport.h"

#include "DeviceComponent.h"
#include "IniFile.h"

#include <QFileInfo>

namespace {

using SerialLineTest = RobustTest;

TEST_F(SerialLineTest, GarbageAndAHangUpOnTheSerialLine)
{
    // uart.cfg names the simulator's terminal, so the interface dialog offers it.
    const QString link = Driver.SettingsFolder() + QStringLiteral("/gripper-tty");
    TIniFile uart(Driver.SettingsFolder() + QStringLiteral("/uart.cfg"));
    ASSERT_TRUE(uart.WriteString(QStringLiteral("Common"), QStringLiteral("Portname"), link));
    ASSERT_TRUE(StartSimulator({"--pty", link, "--garbage-rate", "0.5", "--seed", "5", "--close-after", "12"}));
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(link); }));
    Driver.InterfaceChoice = TAppDriver::TInterfaceChoice::Serial;
    ASSERT_EQ(Gripper->Connect(), E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return Connects == 1; }));
    EXPECT_EQ(Driver.OfferedPort, link);

    for (int round = 0; round < 3; ++round) {
        TSystemInfo info;
        ASSERT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS) << round;
        EXPECT_EQ(info.SerialNumber, 12345678);
    }
    // Reports until the simulator hangs up after its twelfth frame.
    ASSERT_EQ(Gripper->AutoUpdatePosition(true, 10, false), E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return Disconnects == 1; }));
    Settle(200);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_FALSE(Gripper->IsConnected());
    EXPECT_EQ(MessagesStartingWith(TDevice::LinkLostPrefix), 1);
    EXPECT_EQ(Driver.Messages.size(), 1u);
    EXPECT_GT(SimulatorSentFrames(Sim).garbage, 0);
    ExpectEverySentFrameReceived();

    // A fresh terminal behind the same link.
    ASSERT_TRUE(WaitFor([&] { return Sim.Output().count(QStringLiteral("pty ")) == 2; }));
    ASSERT_EQ(Gripper->Connect(), E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return Connects == 2; }));
    // The dispatcher closed the lost port again before opening it, and a
    // serial device reports every close, also of a closed port.
    EXPECT_EQ(Disconnects, 2);
    TSystemInfo info;
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS);
    EXPECT_EQ(info.SerialNumber, 12345678);
    Settle(100);
    EXPECT_EQ(Driver.Messages.size(), 1u);
}

} // namespace
