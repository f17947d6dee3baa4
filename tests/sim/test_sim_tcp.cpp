// gripper-sim as a child process, reached over TCP: framing, transactions,
// reports, locks, errors, client handling and every fault option.
#include "HXT_commands.h"
#include "SimulatorProcess.h"
#include "TcpPeer.h"
#include "convert.h"
#include "stat.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class SimTcp : public ::testing::Test {
protected:
    // Starts the simulator with extra options and connects to it.
    void Launch(const QStringList& args = {QStringLiteral("--referenced")})
    {
        ASSERT_TRUE(sim.Start(args)) << sim.Errors().toStdString();
        ASSERT_TRUE(peer.Connect(sim.TcpPort()));
    }

    TProtocolClient& client() { return peer.Client(); }

    uint16_t StatusOf(uint8_t command, const TByteArray& payload = {})
    {
        const auto a = client().Call(command, payload);
        EXPECT_TRUE(a.has_value()) << "no answer to " << CommandName(command);
        return a ? a->Status() : 0xFFFF;
    }

    TSimulatorProcess sim;
    TTcpPeer peer;
};

QByteArray Hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

} // namespace

TEST_F(SimTcp, AnswersAreWellFramed)
{
    Launch();
    client().Send(CMD_STOP);
    client().Send(CMD_GET_SYSINFO);
    ASSERT_TRUE(client().Next(CMD_GET_SYSINFO).has_value());
    EXPECT_EQ(peer.Raw(), Hex("AA AA AA 22 02 00 00 00 A7 2E") + Hex("AA AA AA 50 0A 00 00 00 01 02 03 01 4E 61 BC 00 44 7C"));
    const auto limits = client().Call(CMD_GET_SYSTEM_LIMITS);
    ASSERT_TRUE(limits.has_value());
    ASSERT_EQ(limits->Result().size(), 32u);
    EXPECT_FLOAT_EQ(SingleAt(limits->Result().data()), 110.0f);
}

TEST_F(SimTcp, MotionAnswersPendingThenItsFinalStatus)
{
    Launch({QStringLiteral("--homing-speed"), QStringLiteral("400")});
    EXPECT_EQ(StatusOf(CMD_GOTO, GotoPayload(20, 400)), E_NOT_INITIALIZED);
    const qint64 sent = client().Elapsed();
    client().Send(CMD_HOMING, {0});
    const auto pending = client().Next(CMD_HOMING);
    ASSERT_TRUE(pending.has_value());
    EXPECT_EQ(pending->Status(), E_CMD_PENDING);
    const auto final = client().Next(CMD_HOMING, 3000);
    ASSERT_TRUE(final.has_value());
    EXPECT_EQ(final->Status(), E_SUCCESS);
    EXPECT_GE(final->atMs - sent, 100) << "55 mm at 400 mm/s take well over 100 ms";

    client().Send(CMD_GOTO, GotoPayload(100, 400));
    ASSERT_EQ(client().Next(CMD_GOTO)->Status(), E_CMD_PENDING);
    // A client takes the first packet with its command byte as the answer:
    // the new request's answer comes before the replaced motion's result.
    client().Send(CMD_GOTO, GotoPayload(50, 400));
    const auto second = client().Next(CMD_GOTO);
    const auto aborted = client().Next(CMD_GOTO);
    const auto done = client().Next(CMD_GOTO, 3000);
    ASSERT_TRUE(aborted && second && done);
    EXPECT_EQ(second->Status(), E_CMD_PENDING);
    EXPECT_EQ(aborted->Status(), E_CMD_ABORTED);
    EXPECT_EQ(done->Status(), E_SUCCESS);
    const auto pos = client().Call(CMD_GET_POS);
    ASSERT_TRUE(pos.has_value());
    EXPECT_FLOAT_EQ(SingleAt(pos->Result().data()), 50.0f);
}

TEST_F(SimTcp, ReportsComeAtTheRequestedPeriod)
{
    Launch();
    const auto answer = client().Call(CMD_GET_SYSTEM_STATE, {0x01, 0x32, 0x00});
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->Status(), E_SUCCESS);
    EXPECT_EQ(answer->Result().size(), 4u);
    client().Queue().clear();
    client().Pump(1000);
    std::vector<qint64> times;
    for (const TReceived& r : client().Queue()) {
        EXPECT_EQ(r.Command(), CMD_GET_SYSTEM_STATE);
        EXPECT_EQ(r.Status(), E_SUCCESS);
        EXPECT_EQ(r.Result(), (TByteArray{0x01, 0, 0, 0}));
        times.push_back(r.atMs);
    }
    ASSERT_GE(times.size(), 15u);
    ASSERT_LE(times.size(), 22u);
    const double mean = double(times.back() - times.front()) / double(times.size() - 1);
    EXPECT_NEAR(mean, 50.0, 10.0);

    client().Send(CMD_GET_SYSTEM_STATE, {0x00, 0x00, 0x00});
    client().Pump(100); // the answer and any report already on its way
    client().Queue().clear();
    client().Pump(200);
    EXPECT_TRUE(client().Queue().empty());
}

TEST_F(SimTcp, FastStopLocksUntilAcknowledged)
{
    Launch();
    EXPECT_EQ(StatusOf(CMD_FAST_STOP), E_SUCCESS);
    const auto state = client().Call(CMD_GET_SYSTEM_STATE);
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(IntAt(state->Result().data()) & 0x1000, 0x1000);
    EXPECT_EQ(StatusOf(CMD_GOTO, GotoPayload(20, 400)), E_ACCESS_DENIED);
    EXPECT_EQ(StatusOf(CMD_FAST_STOP_ACK, {'a', 'c', 'k'}), E_SUCCESS);
    EXPECT_EQ(StatusOf(CMD_GOTO, GotoPayload(20, 400)), E_CMD_PENDING);
}

TEST_F(SimTcp, ErrorsAndBadChecksums)
{
    Launch();
    EXPECT_EQ(StatusOf(CMD_GOTO, GotoPayload(20, 1000)), E_RANGE_ERROR);
    EXPECT_EQ(StatusOf(CMD_GOTO, {0, 1, 2}), E_CMD_FORMAT_ERROR);
    EXPECT_EQ(StatusOf(0x29), E_CMD_UNKNOWN);
    // A request with a broken checksum is ignored; the next one is answered.
    peer.Socket().write(Hex("AA AA AA 50 00 00 DB 88"));
    client().Send(CMD_GET_SYSTEM_LIMITS);
    ASSERT_TRUE(client().Next(CMD_GET_SYSTEM_LIMITS).has_value());
    EXPECT_FALSE(client().Next(CMD_GET_SYSINFO, 200).has_value());
    // STOP whose wrong checksum folds to 0 over the whole frame (right: 0E 76).
    peer.Socket().write(Hex("AA AA AA 22 00 00 87 D7"));
    client().Send(CMD_GET_SYSTEM_LIMITS);
    ASSERT_TRUE(client().Next(CMD_GET_SYSTEM_LIMITS).has_value());
    EXPECT_FALSE(client().Next(CMD_STOP, 200).has_value());
}

TEST_F(SimTcp, ANewClientReplacesTheOldOne)
{
    Launch();
    TTcpPeer second;
    ASSERT_TRUE(second.Connect(sim.TcpPort()));
    EXPECT_TRUE(peer.Socket().state() == QAbstractSocket::UnconnectedState
        || peer.Socket().waitForDisconnected(2000));
    const auto info = second.Client().Call(CMD_GET_SYSINFO);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->Status(), E_SUCCESS);
}

TEST_F(SimTcp, DroppedCommandsGetNoAnswer)
{
    Launch({QStringLiteral("--referenced"), QStringLiteral("--drop"), QStringLiteral("GET_SYSINFO,0x21")});
    client().Send(CMD_GET_SYSINFO);
    client().Send(CMD_GOTO, GotoPayload(50, 400));
    EXPECT_EQ(StatusOf(CMD_GET_SYSTEM_LIMITS), E_SUCCESS);
    client().Pump(300);
    EXPECT_FALSE(client().Next(CMD_GET_SYSINFO, 0).has_value());
    EXPECT_FALSE(client().Next(CMD_GOTO, 0).has_value()) << "neither pending nor final";
}

TEST_F(SimTcp, ForcedStatusReplacesTheAnswer)
{
    Launch({QStringLiteral("--force-status"), QStringLiteral("GET_SYSTEM_LIMITS=E_ACCESS_DENIED"),
        QStringLiteral("--force-status"), QStringLiteral("0x20=29")});
    const auto limits = client().Call(CMD_GET_SYSTEM_LIMITS);
    ASSERT_TRUE(limits.has_value());
    EXPECT_EQ(limits->Status(), E_ACCESS_DENIED);
    EXPECT_TRUE(limits->Result().empty());
    EXPECT_EQ(StatusOf(CMD_HOMING, {0}), E_AXIS_BLOCKED);
    const auto state = client().Call(CMD_GET_SYSTEM_STATE);
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(IntAt(state->Result().data()) & 0x3, 0) << "homing did not run";
}

TEST_F(SimTcp, CorruptedChecksumsAreNotAccepted)
{
    Launch({QStringLiteral("--corrupt-rate"), QStringLiteral("1")});
    client().Send(CMD_GET_SYSINFO);
    client().Pump(300);
    EXPECT_TRUE(client().Queue().empty());
    EXPECT_EQ(peer.Raw().size(), 18) << "the frame itself still arrives";
}

TEST_F(SimTcp, GarbageBetweenFramesIsSkipped)
{
    Launch({QStringLiteral("--garbage-rate"), QStringLiteral("1"), QStringLiteral("--seed"), QStringLiteral("5")});
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(StatusOf(CMD_GET_SYSINFO), E_SUCCESS);
    EXPECT_GT(peer.Raw().size(), 5 * 18);
    EXPECT_FALSE(peer.Raw().startsWith(Hex("AA AA AA")));
}

TEST_F(SimTcp, SplitFramesArriveInTwoParts)
{
    Launch({QStringLiteral("--split-pause"), QStringLiteral("150")});
    client().Send(CMD_GET_SYSINFO);
    for (int waited = 0; waited < 10000 && peer.Chunks().size() < 2; waited += 50)
        client().Pump(50);
    ASSERT_EQ(peer.Chunks().size(), 2u);
    EXPECT_GE(peer.Chunks()[1].atMs - peer.Chunks()[0].atMs, 120);
    EXPECT_EQ(peer.Raw(), Hex("AA AA AA 50 0A 00 00 00 01 02 03 01 4E 61 BC 00 44 7C"));
    EXPECT_TRUE(client().Queue().empty()) << "a pause over 100 ms inside a frame drops it";
}

TEST_F(SimTcp, DelayedAnswersKeepTheirOrder)
{
    Launch({QStringLiteral("--delay"), QStringLiteral("300")});
    const qint64 sent = client().Elapsed();
    client().Send(CMD_GET_SYSINFO);
    client().Send(CMD_GET_SYSTEM_LIMITS);
    const auto info = client().Next(CMD_GET_SYSINFO);
    ASSERT_TRUE(info.has_value());
    EXPECT_GE(info->atMs - sent, 280);
    ASSERT_TRUE(client().Next(CMD_GET_SYSTEM_LIMITS).has_value());
    EXPECT_EQ(static_cast<uint8_t>(peer.Raw()[3]), CMD_GET_SYSINFO);
}

TEST_F(SimTcp, ConnectionClosesAfterTheGivenNumberOfFrames)
{
    Launch({QStringLiteral("--close-after"), QStringLiteral("2")});
    EXPECT_EQ(StatusOf(CMD_GET_SYSINFO), E_SUCCESS);
    EXPECT_EQ(StatusOf(CMD_GET_SYSINFO), E_SUCCESS);
    EXPECT_TRUE(peer.Socket().state() == QAbstractSocket::UnconnectedState
        || peer.Socket().waitForDisconnected(2000));
    TTcpPeer again;
    ASSERT_TRUE(again.Connect(sim.TcpPort()));
    EXPECT_TRUE(again.Client().Call(CMD_GET_SYSINFO).has_value());
}

TEST_F(SimTcp, VerboseTracesEveryFrame)
{
    Launch({QStringLiteral("--verbose"), QStringLiteral("--drop"), QStringLiteral("STOP")});
    EXPECT_EQ(StatusOf(CMD_GET_SYSINFO), E_SUCCESS);
    client().Send(CMD_STOP);
    ASSERT_TRUE(WaitUntil([this] { return sim.Errors().contains(QStringLiteral("(dropped)")); }, 2000));
    const QString trace = sim.Errors();
    EXPECT_TRUE(trace.contains(QStringLiteral("[tcp] RX 50h GET_SYSINFO: AA AA AA 50 00 00 DB 87"))) << trace.toStdString();
    EXPECT_TRUE(trace.contains(
        QStringLiteral("[tcp] TX 50h GET_SYSINFO: AA AA AA 50 0A 00 00 00 01 02 03 01 4E 61 BC 00 44 7C")));
    EXPECT_TRUE(trace.contains(QStringLiteral("[tcp] TX 22h STOP: AA AA AA 22 02 00 00 00 A7 2E (dropped)")));
}

TEST(SimProcess, BadOptionsExitWithCode2)
{
    for (const QStringList& args : {QStringList{"--tcp", "x"}, QStringList{}, QStringList{"--tcp", "0", "--seed", "-3"}}) {
        QProcess p;
        p.start(TSimulatorProcess::ExecutablePath(), args);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 2) << args.join(' ').toStdString();
        EXPECT_FALSE(p.readAllStandardError().isEmpty());
    }
}

TEST(SimProcess, TerminationRemovesThePtyLink)
{
    const QString link = QDir::temp().filePath(QStringLiteral("krm-sim-term-%1").arg(QCoreApplication::applicationPid()));
    QProcess p;
    p.start(TSimulatorProcess::ExecutablePath(), {"--pty", link});
    ASSERT_TRUE(p.waitForStarted(3000));
    ASSERT_TRUE(p.waitForReadyRead(3000));
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardOutput()).startsWith("pty " + link + " -> /dev/pts/"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(3000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}
