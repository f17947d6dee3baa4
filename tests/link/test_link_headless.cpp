// The gripper object of the widget-free link in a program without widgets:
// connections with explicit parameters against the simulator over TCP, a
// pseudo-terminal and the virtual CAN bus, packets through the log sink, a
// lost link through the report event, and a connection made again from the
// parameters of the last one.
#include "HXTForm.h"
#include "HXT_commands.h"
#include "IniFile.h"
#include "SimulatorProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

struct TLogged {
    uint8_t Command;
    bool Received;
};

struct TReport {
    TTransportReport Kind;
    QString Text;
};

class HeadlessLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        SetSettingsFolderOverride(Folder.path());
        // The devices open their settings files when they are made.
        Gripper = std::make_unique<THXT>();
        Gripper->OnConnect = [this](QObject*) { ++Connects; };
        Gripper->OnDisconnect = [this](QObject*) { ++Disconnects; };
        Gripper->OnTransportReport = [this](QObject* sender, TTransportReport kind, const QString& text) {
            EXPECT_EQ(sender, Gripper.get());
            Reports.push_back({kind, text});
        };
        Gripper->PacketLog = [this](const TPacket& p, bool received) {
            Logged.push_back({static_cast<uint8_t>(p.command & 0xFF), received});
        };
    }

    void TearDown() override
    {
        Gripper.reset();
        SetSettingsFolderOverride(QString());
    }

    // Connects with `params` and waits until the transport is usable.
    bool ConnectWith(const TConnectionParams& params)
    {
        const int before = Connects;
        const TStat status = Gripper->Connect(params);
        EXPECT_EQ(status, E_SUCCESS) << StatusName(status);
        return status == E_SUCCESS && WaitFor([&] { return Connects > before && Gripper->IsConnected(); });
    }

    // Runs a motion command and waits for its final result.
    TStat Motion(const std::function<TStat(TAsyncResultEvent)>& start)
    {
        std::optional<TStat> final;
        const TStat first = start([&](QObject*, int, TStat status, const TByteArray&) { final = status; });
        if (first != E_CMD_PENDING)
            return first;
        return WaitFor([&] { return final.has_value(); }, 20000) ? *final : E_TIMEOUT;
    }

    QTemporaryDir Folder;
    TSimulatorProcess Sim;
    std::unique_ptr<THXT> Gripper;
    int Connects = 0;
    int Disconnects = 0;
    std::vector<TReport> Reports;
    std::vector<TLogged> Logged;
};

TEST_F(HeadlessLink, TcpWithExplicitParametersRunsTheTypedOperations)
{
    ASSERT_TRUE(Sim.Start()) << Sim.Errors().toStdString();
    EXPECT_FALSE(Gripper->ConnectionParams().has_value());
    const TTCPParams params{QStringLiteral("127.0.0.1"), Sim.TcpPort()};
    ASSERT_TRUE(ConnectWith(params));
    EXPECT_EQ(Gripper->ConnectionParams(), TConnectionParams(params));

    TSystemLimits limits;
    ASSERT_EQ(Gripper->GetSystemLimits(limits), E_SUCCESS);
    ASSERT_GT(limits.Stroke, 0.0f);
    ASSERT_EQ(Logged.size(), 2u);
    EXPECT_EQ(Logged[0].Command, CMD_GET_SYSTEM_LIMITS);
    EXPECT_FALSE(Logged[0].Received);
    EXPECT_EQ(Logged[1].Command, CMD_GET_SYSTEM_LIMITS);
    EXPECT_TRUE(Logged[1].Received);

    EXPECT_EQ(Motion([&](TAsyncResultEvent done) { return Gripper->Homing(0, done); }), E_SUCCESS);
    EXPECT_EQ(Motion([&](TAsyncResultEvent done) { return Gripper->Goto(limits.Stroke / 2, limits.MaxSpeed / 2, done); }),
        E_SUCCESS);
    const auto gotoAnswers = std::count_if(Logged.begin(), Logged.end(),
        [](const TLogged& entry) { return entry.Command == CMD_GOTO && entry.Received; });
    EXPECT_EQ(gotoAnswers, 2) << "pending answer and final result of GOTO";
    EXPECT_TRUE(Reports.empty());
}

TEST_F(HeadlessLink, LastParametersConnectAgainAndALostLinkIsReportedOnce)
{
    ASSERT_TRUE(Sim.Start()) << Sim.Errors().toStdString();
    ASSERT_TRUE(ConnectWith(TTCPParams{QStringLiteral(" 127.0.0.1 "), Sim.TcpPort()}));
    Gripper->Disconnect();
    EXPECT_TRUE(WaitFor([&] { return Disconnects == 1; }));
    const std::optional<TConnectionParams> last = Gripper->ConnectionParams();
    ASSERT_TRUE(last.has_value()) << "a disconnect keeps the parameters of the last connection";
    EXPECT_EQ(std::get<TTCPParams>(*last).Host, QStringLiteral("127.0.0.1"));

    ASSERT_TRUE(ConnectWith(*last));
    TSystemInfo info;
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS);

    Sim.Stop();
    ASSERT_TRUE(WaitFor([&] { return !Reports.empty(); }));
    WaitFor([] { return false; }, 200);
    ASSERT_EQ(Reports.size(), 1u);
    EXPECT_EQ(Reports[0].Kind, TTransportReport::LinkLost);
    EXPECT_TRUE(Reports[0].Text.startsWith(TDevice::LinkLostPrefix)) << Reports[0].Text.toStdString();
    EXPECT_EQ(Disconnects, 2);
    EXPECT_FALSE(Gripper->IsConnected());
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_CMD_FAILED);
}

TEST_F(HeadlessLink, RefusedParametersOpenNothing)
{
    EXPECT_EQ(Gripper->Connect(), E_NOT_INITIALIZED) << "no interface chooser without the dialogs";
    EXPECT_EQ(Gripper->Connect(TTCPParams{QStringLiteral("  "), 1000}), E_IO_ERROR);
    EXPECT_EQ(Gripper->Connect(TTCPParams{QStringLiteral("127.0.0.1"), 0}), E_IO_ERROR);
    EXPECT_EQ(Gripper->Connect(TTCPParams{QStringLiteral("127.0.0.1"), 65536}), E_IO_ERROR);
    EXPECT_EQ(Gripper->Connect(TSerialParams{QStringLiteral("/dev/null"), 12345}), E_INVALID_PARAMETER)
        << "a line speed not offered";
    EXPECT_EQ(Gripper->Connect(TCANParams{{QStringLiteral("virtualcan"), QStringLiteral("no-such-bus")}}), E_NOT_FOUND);
    EXPECT_FALSE(Gripper->IsConnected());
    EXPECT_FALSE(Gripper->ConnectionParams().has_value());
    EXPECT_FALSE(QFileInfo::exists(Folder.filePath(QStringLiteral("tcp.cfg")))) << "nothing refused is remembered";
}

TEST_F(HeadlessLink, SerialLineToThePseudoTerminalOfTheSimulator)
{
    const QString link = QDir(Folder.path()).filePath(QStringLiteral("gripper-pty"));
    ASSERT_TRUE(Sim.Start({QStringLiteral("--pty"), link, QStringLiteral("--referenced")})) << Sim.Errors().toStdString();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(link).isSymLink(); }, 3000));
    const TSerialParams params{link, 115200};
    ASSERT_TRUE(ConnectWith(params));
    EXPECT_EQ(Gripper->ConnectionParams(), TConnectionParams(params));

    TSystemInfo info;
    EXPECT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS);
    EXPECT_NE(info.SerialNumber, 0);
    EXPECT_EQ(Motion([&](TAsyncResultEvent done) { return Gripper->Release(20, 50, done); }), E_SUCCESS);
    TIniFile settings(SettingsFilePath(QStringLiteral("uart.cfg")));
    EXPECT_EQ(settings.ReadInteger(QStringLiteral("common"), QStringLiteral("baudrate"), -1), 7)
        << "the line speed is remembered as the index of 115200";
}

// The CAN receive thread hands its notifications to a main thread that runs
// only a QCoreApplication's event loop.
TEST_F(HeadlessLink, CanBusOfTheVirtualPlugin)
{
    constexpr int32_t Id = 0x3A0;
    ASSERT_TRUE(Sim.Start({QStringLiteral("--can"), QStringLiteral("virtualcan:can0"), QStringLiteral("--can-id"),
        QString::number(Id), QStringLiteral("--referenced")}))
        << Sim.Errors().toStdString();
    WaitFor([&] { return Sim.Output().contains(QStringLiteral("can virtualcan:can0")) || !Sim.Running(); });
    if (Sim.Errors().contains(QStringLiteral("cannot join CAN bus")))
        GTEST_SKIP() << "virtual CAN bus unavailable: " << Sim.Errors().toStdString();
    ASSERT_TRUE(Sim.Output().contains(QStringLiteral("can virtualcan:can0"))) << Sim.Errors().toStdString();

    const TCANParams params{{QStringLiteral("virtualcan"), QStringLiteral("can0")}, NTCAN_BAUD_500, Id};
    ASSERT_TRUE(ConnectWith(params));
    EXPECT_EQ(Gripper->ConnectionParams(), TConnectionParams(params));

    TSystemLimits limits;
    ASSERT_EQ(Gripper->GetSystemLimits(limits), E_SUCCESS) << "32 result bytes arrive in five frames";
    EXPECT_GT(limits.Stroke, 0.0f);
    EXPECT_EQ(Motion([&](TAsyncResultEvent done) { return Gripper->Goto(limits.Stroke / 4, 50, done); }), E_SUCCESS);
    Gripper->Disconnect();
    EXPECT_FALSE(Gripper->IsConnected());
    EXPECT_TRUE(Reports.empty());
}

} // namespace
