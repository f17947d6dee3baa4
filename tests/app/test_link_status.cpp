// The connection at a glance and reconnecting, end to end against the
// gripper simulator: the status bar per interface, Reconnect without dialogs
// (also after a restart of the program), and reconnecting by itself after the
// simulator was stopped and started again on the same port.
#include "AppTestSupport.h"
#include "CommLogForm.h"
#include "Framing.h"
#include "HXT_commands.h"
#include "IniFile.h"
#include "MainForm.h"
#include "Reconnector.h"
#include "SimulatorProcess.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int ReconnectTimeoutMs = 10000;

// A peer on a loopback port that takes every connection and spoils it, in
// turn: answers the first request as a failed GET_SYSTEM_LIMITS and keeps
// the link, hangs up at once, or hangs up when the first request comes.
class TSpoilingPeer : public QObject {
public:
    bool Start()
    {
        connect(&FServer, &QTcpServer::newConnection, this, &TSpoilingPeer::Accept);
        return FServer.listen(QHostAddress::LocalHost);
    }
    quint16 Port() const { return FServer.serverPort(); }
    int Accepted() const { return FAccepted; }
    // Connections spoiled after their first request came.
    int SpoiledAfterRequest() const { return FSpoiledAfterRequest; }

private:
    void Accept()
    {
        while (QTcpSocket* socket = FServer.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            switch (FAccepted++ % 3) {
            case 0:
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    socket->readAll();
                    ++FSpoiledAfterRequest;
                    const uint8_t failed[] = {E_CMD_FAILED, 0};
                    const TByteArray frame = BuildFrame(CMD_GET_SYSTEM_LIMITS, failed, sizeof failed);
                    socket->write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
                });
                break;
            case 1:
                socket->disconnectFromHost();
                break;
            default:
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    ++FSpoiledAfterRequest;
                    socket->abort();
                });
                break;
            }
        }
    }

    QTcpServer FServer;
    int FAccepted = 0;
    int FSpoiledAfterRequest = 0;
};

class LinkStatusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Log = std::make_unique<TCommLog>();
        NewWindow();
    }

    void TearDown() override
    {
        Window.reset();
        Log.reset();
        Simulator.Stop();
    }

    // A fresh main window, as after a restart of the program.
    void NewWindow()
    {
        Window.reset();
        Window = std::make_unique<TMainWin>();
        Window->show();
    }

    // The whole text: a long path is shortened in the status bar itself.
    QString Status() const { return Window->lbConnection->toolTip(); }

    bool WaitForStatus(const QString& pattern, int timeoutMs = 5000)
    {
        const QRegularExpression expected(pattern);
        return WaitFor([&] { return expected.match(Status()).hasMatch(); }, timeoutMs);
    }

    QString MessageTexts() const
    {
        QStringList texts;
        for (const TRecordedMessage& m : Driver.Messages)
            texts << m.text;
        return texts.join(QLatin1Char('|'));
    }

    TAppDriver Driver;
    TSimulatorProcess Simulator;
    std::unique_ptr<TCommLog> Log;
    std::unique_ptr<TMainWin> Window;
};

TEST_F(LinkStatusTest, StatusBarNamesEachInterfaceWithStateAndPackets)
{
    const QString link = Driver.SettingsFolder() + QStringLiteral("/gripper-tty");
    TIniFile uart(Driver.SettingsFolder() + QStringLiteral("/uart.cfg"));
    ASSERT_TRUE(uart.WriteString(QStringLiteral("Common"), QStringLiteral("Portname"), link));
    ASSERT_TRUE(Simulator.Start({QStringLiteral("--pty"), link, QStringLiteral("--can"), QStringLiteral("virtualcan:can0")}))
        << Simulator.Errors().toStdString();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(link); }));
    EXPECT_EQ(Status(), QStringLiteral("disconnected"));

    ASSERT_TRUE(Driver.Connect(*Window, Simulator.TcpPort())) << MessageTexts().toStdString();
    const QString tcp = QStringLiteral("TCP 127\\.0\\.0\\.1:%1").arg(Simulator.TcpPort());
    // The limits and the three report requests went out; reports come in.
    ASSERT_TRUE(WaitForStatus(QStringLiteral("^%1 \\| connected \\| sent 8, received ([2-9]|\\d\\d+), checksum-dropped 0$").arg(tcp)))
        << Status().toStdString();
    Window->Disconnect1->trigger();
    EXPECT_TRUE(WaitForStatus(QStringLiteral("^%1 \\| disconnected \\| sent 8, received \\d+, checksum-dropped 0$").arg(tcp)))
        << Status().toStdString();

    Driver.InterfaceChoice = TAppDriver::TInterfaceChoice::Serial;
    ASSERT_TRUE(Driver.Connect(*Window, 0)) << MessageTexts().toStdString();
    EXPECT_TRUE(WaitForStatus(QStringLiteral("^Serial %1 1200 \\| connected \\| sent [4-9], received [1-9]").arg(
        QRegularExpression::escape(link)))) << Status().toStdString();
    Window->Disconnect1->trigger();

    if (!Simulator.Output().contains(QStringLiteral("can virtualcan:can0")))
        GTEST_SKIP() << "virtual CAN bus unavailable: " << Simulator.Errors().toStdString();
    Driver.InterfaceChoice = TAppDriver::TInterfaceChoice::Can;
    ASSERT_TRUE(Driver.Connect(*Window, 0)) << MessageTexts().toStdString();
    EXPECT_TRUE(Driver.OfferedPort.startsWith(QStringLiteral("Net "))) << Driver.OfferedPort.toStdString();
    EXPECT_TRUE(Driver.OfferedPort.endsWith(QStringLiteral(" (virtualcan:can0)"))) << Driver.OfferedPort.toStdString();
    EXPECT_TRUE(WaitForStatus(QStringLiteral("^CAN virtualcan:can0 250 kBit/s id 100 \\| connected \\| sent [4-9], received [1-9]")))
        << Status().toStdString();
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
}

TEST_F(LinkStatusTest, ReconnectUsesTheLastConnectionWithoutDialogsAlsoAfterARestart)
{
    EXPECT_FALSE(Window->Reconnect1->isEnabled()) << "nothing to reconnect to yet";
    ASSERT_TRUE(Simulator.Start());
    const quint16 port = Simulator.TcpPort();
    ASSERT_TRUE(Driver.Connect(*Window, port)) << MessageTexts().toStdString();
    const int dialogRuns = Driver.DialogRuns;

    Simulator.Stop();
    ASSERT_TRUE(WaitFor([&] { return !Driver.Messages.empty(); }));
    EXPECT_TRUE(Driver.Messages[0].text.startsWith(QStringLiteral("Connection to the gripper lost: ")))
        << MessageTexts().toStdString();
    EXPECT_TRUE(Status().contains(QStringLiteral(" | lost | "))) << Status().toStdString();
    EXPECT_TRUE(Window->Reconnect1->isEnabled());
    EXPECT_FALSE(Window->Disconnect1->isEnabled());

    ASSERT_TRUE(Simulator.Start({}, port)) << Simulator.Errors().toStdString();
    EXPECT_EQ(Window->Reconnect1->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
    Window->Reconnect1->trigger();
    ASSERT_TRUE(WaitFor([&] { return Window->Disconnect1->isEnabled(); })) << MessageTexts().toStdString();
    EXPECT_EQ(Driver.DialogRuns, dialogRuns) << "no dialog on Reconnect";
    EXPECT_TRUE(Window->btnGoto->isEnabled());
    EXPECT_FALSE(Window->Reconnect1->isEnabled());

    // The next start of the program reconnects with the remembered connection.
    NewWindow();
    EXPECT_TRUE(Status().startsWith(QStringLiteral("TCP 127.0.0.1:%1 | disconnected").arg(port))) << Status().toStdString();
    ASSERT_TRUE(Window->Reconnect1->isEnabled());
    Window->Reconnect1->trigger();
    ASSERT_TRUE(WaitFor([&] { return Window->Disconnect1->isEnabled(); })) << MessageTexts().toStdString();
    EXPECT_EQ(Driver.DialogRuns, dialogRuns);
    EXPECT_EQ(Driver.Messages.size(), 1u) << MessageTexts().toStdString();

    // The placement of the main window is where it was.
    TIniFile ini(Driver.SettingsFolder() + QStringLiteral("/Analyzer.ini"));
    EXPECT_GT(ini.ReadInteger(QStringLiteral("MainWin"), QStringLiteral("Width"), 0), 0);
}

TEST_F(LinkStatusTest, ReconnectsByItselfWhenTheSimulatorComesBack)
{
    EXPECT_FALSE(Window->AutoReconnect1->isChecked()) << "off by default";
    Window->AutoReconnect1->trigger();
    ASSERT_TRUE(Simulator.Start());
    const quint16 port = Simulator.TcpPort();
    ASSERT_TRUE(Driver.Connect(*Window, port)) << MessageTexts().toStdString();

    Simulator.Stop();
    ASSERT_TRUE(WaitForStatus(QStringLiteral("\\| lost, reconnecting in [12] s \\|"))) << Status().toStdString();
    EXPECT_TRUE(Window->Disconnect1->isEnabled()) << "the operator can stop the retries";
    const QRegularExpression lostLine(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d Connection to the gripper lost: "),
                                      QRegularExpression::MultilineOption);
    EXPECT_TRUE(lostLine.match(Window->AsyncLog->toPlainText()).hasMatch()) << Window->AsyncLog->toPlainText().toStdString();
    // An attempt is refused while the simulator is away: no box, and the
    // retries go on.
    WaitFor([] { return false; }, TReconnector::RetryIntervalMs + 500);
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
    EXPECT_TRUE(WaitForStatus(QStringLiteral("\\| lost, reconnecting in [12] s \\|"))) << Status().toStdString();

    ASSERT_TRUE(Simulator.Start({}, port)) << Simulator.Errors().toStdString();
    ASSERT_TRUE(WaitFor([&] { return Window->btnGoto->isEnabled(); }, ReconnectTimeoutMs)) << Status().toStdString();
    EXPECT_TRUE(WaitForStatus(QStringLiteral(" \\| connected \\| sent [4-9], "))) << Status().toStdString();
    EXPECT_TRUE(Driver.Messages.empty()) << "no box for the loss or the refused attempts: " << MessageTexts().toStdString();

    // Disconnect, or Connect (here cancelled), during the retries ends them.
    for (QAction* operatorChoice : {Window->Disconnect1, Window->Connect1}) {
        Simulator.Stop();
        ASSERT_TRUE(WaitForStatus(QStringLiteral("\\| lost, reconnecting in")));
        Driver.InterfaceChoice = TAppDriver::TInterfaceChoice::Cancel;
        operatorChoice->trigger();
        EXPECT_TRUE(Status().contains(QStringLiteral(" | disconnected | "))) << Status().toStdString();
        ASSERT_TRUE(Simulator.Start({}, port));
        WaitFor([] { return false; }, TReconnector::RetryIntervalMs + 1000);
        EXPECT_FALSE(Window->Disconnect1->isEnabled());
        EXPECT_TRUE(Status().contains(QStringLiteral(" | disconnected | "))) << Status().toStdString();
        Window->Reconnect1->trigger();
        ASSERT_TRUE(WaitFor([&] { return Window->btnGoto->isEnabled(); })) << MessageTexts().toStdString();
    }
    EXPECT_EQ(MessageTexts(), QStringLiteral("Cannot connect to target: Command aborted"));

    // The choice is remembered for the next start.
    NewWindow();
    EXPECT_TRUE(Window->AutoReconnect1->isChecked());
}

TEST_F(LinkStatusTest, ReconnectingByItselfOutlastsAPeerThatSpoilsEveryConnection)
{
    TSpoilingPeer peer;
    ASSERT_TRUE(peer.Start());
    Window->AutoReconnect1->trigger();
    // Long enough for an attempt to connect before the next one replaces it.
    Window->Reconnector()->SetRetryInterval(100);
    Driver.Connect(*Window, peer.Port());

    constexpr int Cycles = 210;
    ASSERT_TRUE(WaitFor([&] { return (peer.Accepted() >= Cycles && peer.SpoiledAfterRequest() >= 10) || !Driver.Messages.empty(); },
                        300000))
        << peer.Accepted() << " connections; " << MessageTexts().toStdString();
    EXPECT_TRUE(Driver.Messages.empty()) << "after " << peer.Accepted() << " connections: " << MessageTexts().toStdString();
    // The retries go on.
    const int reached = peer.Accepted();
    EXPECT_TRUE(WaitFor([&] { return peer.Accepted() >= reached + 3; }, 30000)) << Status().toStdString();

    // The operator's Disconnect still ends the retries.
    Window->Disconnect1->trigger();
    const int accepted = peer.Accepted();
    WaitFor([] { return false; }, 500);
    EXPECT_FALSE(Window->Reconnector()->Retrying());
    EXPECT_LE(peer.Accepted(), accepted + 1);
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();

    // Every limits request that got a failure or a hang-up for an answer is
    // one failed attempt in the results, with its time.
    const QRegularExpression unusable(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d Unable to retreive gripper limits\\.$"),
                                      QRegularExpression::MultilineOption);
    int unusableLines = 0;
    for (auto it = unusable.globalMatch(Window->AsyncLog->toPlainText()); it.hasNext(); it.next())
        ++unusableLines;
    EXPECT_LE(unusableLines, peer.SpoiledAfterRequest());
    EXPECT_GE(unusableLines, peer.SpoiledAfterRequest() - 1);
}

}
