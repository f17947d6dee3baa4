// krm-cli on the gripper library: what a missing answer looks like, that a
// silent gripper makes `stop` wait once, and that --log records faulty frames
// as rows `decode` counts.
#include "CliTestSupport.h"
#include "SimulatorProcess.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(CliEngine, NoAnswerIsSaidInWordsNotAsTheGrippersOwnStatus)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--drop"), QStringLiteral("GET_SYSINFO,STOP")}));
    const TCliRun text = RunCli(OverTcp(sim.TcpPort(), Words("--timeout 1 info")));
    EXPECT_EQ(text.ExitCode, 1);
    EXPECT_TRUE(text.Err.contains(QStringLiteral("command 1: info: no answer from the gripper within 1 s"))) << text.Err.toStdString();
    EXPECT_FALSE(text.Err.contains(QStringLiteral("Command failed")));

    const TCliRun json = RunCli(OverTcp(sim.TcpPort(), Words("--json --timeout 1 info")));
    EXPECT_EQ(json.ExitCode, 1);
    const QList<QJsonObject> objects = json.Objects();
    ASSERT_EQ(objects.size(), 1);
    EXPECT_EQ(objects[0][QStringLiteral("status")].toString(), QStringLiteral("NO_ANSWER"));
    EXPECT_TRUE(objects[0][QStringLiteral("code")].isNull());

    // A silent gripper makes stop wait once: no limits are read first.
    QElapsedTimer clock;
    clock.start();
    const TCliRun stop = RunCli(OverTcp(sim.TcpPort(), Words("stop")));
    EXPECT_EQ(stop.ExitCode, 1);
    EXPECT_LT(clock.elapsed(), 5500);
    EXPECT_TRUE(stop.Err.contains(QStringLiteral("command 1: stop: no answer from the gripper within 3 s"))) << stop.Err.toStdString();
    sim.Stop();
    EXPECT_FALSE(sim.Errors().contains(QStringLiteral("GET_SYSTEM_LIMITS")));
}

TEST(CliEngine, TheLogRecordsStrayBytesThatDecodeCountsAsFaults)
{
    TSimulatorProcess sim;
    // Every frame comes after 1 to 8 bytes of garbage.
    ASSERT_TRUE(sim.Start({QStringLiteral("--garbage-rate"), QStringLiteral("1")}));
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("packets.csv"));
    const TCliRun run = RunCli(OverTcp(sim.TcpPort(), {QStringLiteral("--log"), log, QStringLiteral("info")}));
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const TCliRun decoded = RunCli({QStringLiteral("decode"), log});
    EXPECT_EQ(decoded.ExitCode, 1) << decoded.Out.toStdString();
    EXPECT_TRUE(decoded.Out.contains(QStringLiteral("between frames"))) << decoded.Out.toStdString();
    EXPECT_TRUE(decoded.Out.contains(QStringLiteral("2 packets (csv); 1 fault found"))) << decoded.Out.toStdString();
}

} // namespace
