// The gripper object against a peer that garbles its stream: stray bytes
// between frames, bad checksums, frames split with a pause. Whatever the peer
// sends intact must arrive, in order and decoded as sent; what it garbles
// must be dropped without a wrong result.
#include "RobustTestSupport.h"

#include "Framing.h"
#include "HXT_commands.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cmath>

namespace {

using FaultyPeerTest = RobustTest;

// The answers of the simulator with its default gripper.
constexpr int32_t DefaultSerial = 12345678;
constexpr float DefaultStroke = 110.0f;
constexpr float DefaultStartPosition = 55.0f;

// One of three information requests, chosen by `round`; true when it
// succeeded with the simulator's values, false when it failed without
// touching its record. Any other outcome fails the test.
bool InformationExchange(THXT& gripper, int round)
{
    switch (round % 3) {
    case 0: {
        TSystemInfo info;
        info.SerialNumber = -1;
        const TStat status = gripper.GetSystemInfo(info);
        if (status == E_SUCCESS) {
            EXPECT_EQ(info.SerialNumber, DefaultSerial) << round;
            EXPECT_EQ(info.FirmwareRevision, 259) << round;
            return true;
        }
        EXPECT_EQ(status, E_CMD_FAILED) << round;
        EXPECT_EQ(info.SerialNumber, -1) << round;
        return false;
    }
    case 1: {
        TSystemLimits limits;
        limits.Stroke = -1.0f;
        const TStat status = gripper.GetSystemLimits(limits);
        if (status == E_SUCCESS) {
            EXPECT_FLOAT_EQ(limits.Stroke, DefaultStroke) << round;
            EXPECT_FLOAT_EQ(limits.MaxSpeed, 420.0f) << round;
            return true;
        }
        EXPECT_EQ(status, E_CMD_FAILED) << round;
        EXPECT_EQ(limits.Stroke, -1.0f) << round;
        return false;
    }
    default: {
        TGraspingStats stats;
        stats.NumGrasps = -1;
        const TStat status = gripper.GetGraspingStats(stats, false);
        if (status == E_SUCCESS) {
            EXPECT_EQ(stats.NumGrasps, 0) << round;
            return true;
        }
        EXPECT_EQ(status, E_CMD_FAILED) << round;
        EXPECT_EQ(stats.NumGrasps, -1) << round;
        return false;
    }
    }
}

TEST_F(FaultyPeerTest, GarbageBetweenFramesLosesNothing)
{
    // Half of all frames come after 1 to 8 stray bytes (never 0xAA).
    ASSERT_TRUE(StartSimulator({"--garbage-rate", "0.5", "--seed", "3", "--referenced"}));
    ASSERT_TRUE(ConnectTo(Sim.TcpPort()));
    int positionEvents = 0;
    Gripper->OnPosition = [&](QObject*) { ++positionEvents; };
    ASSERT_EQ(Gripper->AutoUpdatePosition(true, 10, false), E_SUCCESS);
    ASSERT_EQ(Gripper->AutoUpdateSystemState(true, 10, false), E_SUCCESS);

    for (int round = 0; round < 30; ++round)
        EXPECT_TRUE(InformationExchange(*Gripper, round)) << round;

    // A motion with its final result while the reports keep coming.
    TStat final = E_CMD_PENDING;
    int finals = 0;
    ASSERT_EQ(Gripper->Goto(30.0f, 200.0f, [&](QObject*, int, TStat status, const TByteArray&) {
        final = status;
        ++finals;
    }), E_CMD_PENDING);
    ASSERT_TRUE(WaitFor([&] { return finals > 0; }, 5000));
    EXPECT_EQ(final, E_SUCCESS);
    EXPECT_TRUE(WaitFor([&] { return std::fabs(Gripper->Position() - 30.0f) < 0.01f; }, 2000)) << Gripper->Position();
    EXPECT_EQ(Gripper->SystemState() & 0x1u, 0x1u); // referenced, from a report
    EXPECT_GT(positionEvents, 10);

    ASSERT_EQ(Gripper->AutoUpdatePosition(false, 0, false), E_SUCCESS);
    ASSERT_EQ(Gripper->AutoUpdateSystemState(false, 0, false), E_SUCCESS);
    EXPECT_EQ(finals, 1);
    EXPECT_GT(SimulatorSentFrames(Sim).garbage, 10);
    ExpectEverySentFrameReceived();
    EXPECT_TRUE(Driver.Messages.empty());
}

TEST_F(FaultyPeerTest, CorruptedFramesAreDroppedAndLaterExchangesSucceed)
{
    // With this seed the fourth frame of the connection is the first one the
    // simulator corrupts, so one answer of the first six is lost.
    ASSERT_TRUE(StartSimulator({"--corrupt-rate", "0.25", "--seed", "13"}));
    ASSERT_TRUE(ConnectTo(Sim.TcpPort()));
    int failures = 0;
    bool previousFailed = false;
    for (int round = 0; round < 6; ++round) {
        const bool ok = InformationExchange(*Gripper, round);
        // A lost answer never spoils the exchange after it.
        EXPECT_FALSE(previousFailed && !ok) << round;
        previousFailed = !ok;
        failures += ok ? 0 : 1;
    }
    EXPECT_EQ(failures, SimulatorSentFrames(Sim).corrupted);
    EXPECT_GE(failures, 1);

    // Reports: the corrupted ones vanish, the others carry the true value.
    std::vector<float> positions;
    Gripper->OnPosition = [&](QObject*) { positions.push_back(Gripper->Position()); };
    ASSERT_EQ(Gripper->AutoUpdatePosition(true, 10, false), E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return positions.size() >= 30; }, 3000)) << positions.size();
    for (float p : positions)
        EXPECT_EQ(p, DefaultStartPosition);
    Gripper->Disconnect();
    EXPECT_EQ(Disconnects, 1);

    // Everything that left the simulator intact was received, in order, up to
    // the disconnect.
    const TSentFrames sent = SimulatorSentFrames(Sim);
    const QStringList received = ReceivedFrames(*Log);
    EXPECT_GT(sent.corrupted, failures);
    ASSERT_LE(received.size(), sent.intact.size());
    EXPECT_EQ(received.join(QLatin1Char('\n')).toStdString(),
              sent.intact.mid(0, received.size()).join(QLatin1Char('\n')).toStdString());
    // The answers, and the reports (counted with the answer that switched
    // them on, which carries the position too).
    EXPECT_GE(received.size(), 6 - failures + 30);
    EXPECT_TRUE(Driver.Messages.empty());
}

TEST_F(FaultyPeerTest, FramesSplitWithinTheGapLimitArrive)
{
    ASSERT_TRUE(StartSimulator({"--split-pause", "50"}));
    ASSERT_TRUE(ConnectTo(Sim.TcpPort()));
    for (int round = 0; round < 6; ++round)
        EXPECT_TRUE(InformationExchange(*Gripper, round)) << round;
    EXPECT_EQ(Gripper->Stop(), E_SUCCESS);
    ExpectEverySentFrameReceived();
}

TEST_F(FaultyPeerTest, FrameSplitPastTheGapLimitIsDropped)
{
    // Well above the 100 ms gap limit, so that a busy machine cannot merge
    // the two halves into one read.
    ASSERT_TRUE(StartSimulator({"--split-pause", "300"}));
    ASSERT_TRUE(ConnectTo(Sim.TcpPort()));
    // The three seconds of waiting in vain do not stop the event loop.
    int timerTicks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++timerTicks; });
    ticker.start();
    EXPECT_FALSE(InformationExchange(*Gripper, 0));
    // A starved timer would not tick at all; a busy machine may let through
    // far fewer than the 300 of an idle one.
    EXPECT_GE(timerTicks, 20);
    Settle(400); // the second half of the answer has come and gone
    EXPECT_TRUE(ReceivedFrames(*Log).isEmpty()) << ReceivedFrames(*Log).join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(SimulatorSentFrames(Sim).intact.size(), 1);
    EXPECT_TRUE(Driver.Messages.empty());
}

TEST_F(FaultyPeerTest, AssemblerRecoversForTheFrameAfterASplitOne)
{
    // A peer that answers STOP with "axis blocked" split after its fifth byte
    // with a pause past the gap limit, then at once with a whole "success".
    const TByteArray blocked = BuildFrame(CMD_STOP, TByteArray{0x1D, 0x00}.data(), 2);
    const TByteArray success = BuildFrame(CMD_STOP, TByteArray{0x00, 0x00}.data(), 2);
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket* peer = nullptr;
    QByteArray requests;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, [&] {
            requests += peer->readAll();
            if (requests.size() < 8)
                return;
            requests.clear();
            peer->write(reinterpret_cast<const char*>(blocked.data()), 5);
            peer->flush();
            QTimer::singleShot(300, peer, [&] {
                peer->write(reinterpret_cast<const char*>(blocked.data()) + 5, static_cast<qint64>(blocked.size()) - 5);
                peer->write(reinterpret_cast<const char*>(success.data()), static_cast<qint64>(success.size()));
                peer->flush();
            });
        });
    });
    ASSERT_TRUE(ConnectTo(server.serverPort()));

    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Gripper->Stop(), E_SUCCESS) << round;
        const QStringList received = ReceivedFrames(*Log);
        ASSERT_EQ(received.size(), round + 1);
        EXPECT_EQ(received.back(), QStringLiteral("AA AA AA 22 02 00 00 00 A7 2E"));
    }
}

} // namespace
