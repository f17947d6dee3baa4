// A peer that hangs up in the middle of a session: the last answer before the
// hang-up still arrives, the lost link is reported once, the display falls
// back to its disconnected look, and connecting again works.
#include "RobustTestSupport.h"

#include "DeviceComponent.h"
#include "MainForm.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QToolButton>

namespace {

using LostLinkTest = RobustTest;

TEST_F(LostLinkTest, GripperObjectReportsTheLostLinkOnceAndReconnects)
{
    // Eight frames per connection: two answers, then reports.
    ASSERT_TRUE(StartSimulator({"--close-after", "8"}));
    ASSERT_TRUE(ConnectTo(Sim.TcpPort()));
    TSystemInfo info;
    ASSERT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS);
    ASSERT_EQ(Gripper->AutoUpdateSystemState(true, 10, false), E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return Disconnects == 1; }));
    Settle(200);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_FALSE(Gripper->IsConnected());
    EXPECT_EQ(Gripper->SystemState(), 0u);
    EXPECT_EQ(MessagesStartingWith(TDevice::LinkLostPrefix), 1);
    EXPECT_EQ(Driver.Messages.size(), 1u);
    // The frames sent before the hang-up all arrived.
    EXPECT_EQ(ReceivedFrames(*Log).size(), 8);
    ExpectEverySentFrameReceived();
    EXPECT_EQ(Gripper->Stop(), E_CMD_FAILED);

    ASSERT_TRUE(ConnectTo(Sim.TcpPort()));
    info.SerialNumber = 0;
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS);
    EXPECT_EQ(info.SerialNumber, 12345678);
    Gripper->Disconnect();
    EXPECT_EQ(Disconnects, 2);
    Settle(100);
    EXPECT_EQ(Driver.Messages.size(), 1u); // the operator's disconnect is no error
}

TEST_F(LostLinkTest, MainWindowFallsBackToTheDisconnectedLookAndReconnects)
{
    // Connecting takes eight frames (limits, three report requests, the
    // acceleration and force limit readings, the speed and force report
    // requests; the reports come only on change, and nothing moves); three
    // information requests make eleven.
    ASSERT_TRUE(StartSimulator({"--close-after", "11"}));
    Gripper.reset();
    TMainWin window;
    window.show();
    ASSERT_TRUE(Driver.Connect(window, Sim.TcpPort()));
    EXPECT_EQ(window.lbSystemstate->text(), QStringLiteral("00000000h"));
    int disconnects = 0;
    THXT* gripper = window.Gripper();
    const TNotifyEvent windowHandler = gripper->OnDisconnect;
    gripper->OnDisconnect = [&](QObject* sender) {
        ++disconnects;
        windowHandler(sender);
    };

    for (int i = 0; i < 3; ++i) {
        TSystemInfo info;
        EXPECT_EQ(gripper->GetSystemInfo(info), E_SUCCESS) << i;
    }
    ASSERT_TRUE(WaitFor([&] { return window.Connect1->isEnabled(); }));
    Settle(200);
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(window.Disconnect1->isEnabled());
    EXPECT_EQ(window.lbSystemstate->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(window.lbGraspingState->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(window.lbPosition->text(), QStringLiteral("[n/a]"));
    EXPECT_FALSE(window.btnGoto->isEnabled());
    EXPECT_FALSE(window.btnEmergencyStop->isEnabled());
    ASSERT_EQ(Driver.Messages.size(), 1u);
    EXPECT_TRUE(Driver.Messages[0].text.startsWith(TDevice::LinkLostPrefix)) << Driver.Messages[0].text.toStdString();

    ASSERT_TRUE(Driver.Connect(window, Sim.TcpPort()));
    EXPECT_TRUE(window.btnGoto->isEnabled());
    EXPECT_EQ(window.lbSystemstate->text(), QStringLiteral("00000000h"));
    EXPECT_EQ(window.lbGraspingState->text(), QStringLiteral("idle"));
    EXPECT_TRUE(window.Disconnect1->isEnabled());
    Settle(100);
    EXPECT_EQ(Driver.Messages.size(), 1u);
}

TEST_F(LostLinkTest, HangUpRightAfterTheLimitsLeavesTheWindowDisconnected)
{
    // The simulator hangs up right behind its answer to the limits request,
    // in the middle of the window's connect sequence.
    ASSERT_TRUE(StartSimulator({"--close-after", "1"}));
    Gripper.reset();
    TMainWin window;
    window.show();
    Driver.HostPort = Sim.TcpPort();
    window.Connect1->trigger();
    ASSERT_TRUE(WaitFor([&] { return !Driver.Messages.empty(); }, 8000));
    Settle(200);
    EXPECT_FALSE(window.Gripper()->IsConnected());
    EXPECT_TRUE(window.Connect1->isEnabled());
    EXPECT_FALSE(window.Disconnect1->isEnabled());
    EXPECT_FALSE(window.btnGoto->isEnabled());
    EXPECT_FALSE(window.btnEmergencyStop->isEnabled());
    EXPECT_EQ(window.lbSystemstate->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(MessagesStartingWith(TDevice::LinkLostPrefix), 1);
}

TEST_F(LostLinkTest, LinkLostDuringAWaitEndsItWithoutWaitingOut)
{
    // A peer that hangs up when a request comes: no answer can follow, so
    // the transaction fails when the link goes, not after the answer time.
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost));
    QObject::connect(&peer, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = peer.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->abort(); });
    });
    ASSERT_TRUE(ConnectTo(peer.serverPort()));
    bool waitedOut = false;
    QTimer::singleShot(THXT::AnswerTimeoutMs / 2, [&] { waitedOut = true; });
    TSystemInfo info;
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_CMD_FAILED);
    EXPECT_FALSE(waitedOut);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_FALSE(Gripper->IsConnected());
}

} // namespace
