// krm-cli runs against the simulator: scripts, the packet log, exit statuses
// for lost and missing connections, Ctrl+C and the motion timeout, and the
// serial line over a pseudo-terminal.
#include "CliTestSupport.h"
#include "SimulatorProcess.h"

#include "Framing.h"
#include "PacketLogCsv.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <gtest/gtest.h>

namespace {

int Grasps(const TCliRun& run)
{
    int count = 0;
    for (const QJsonObject& object : run.Objects())
        count += object["command"].toString() == QLatin1String("grasp") ? 1 : 0;
    return count;
}

TEST(CliScripts, RepeatBlocksNestAndCommentsAreSkipped)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--part-width"), QStringLiteral("15")}));
    QTemporaryDir dir;
    const QString script = WriteFile(dir, QStringLiteral("cycle.txt"),
        "# home once, then grasp and release the part four times\n"
        "home\n"
        "\n"
        "repeat 2\n"
        "  repeat 2   # inner block\n"
        "    grasp 20 50\n"
        "    release 60 200\n"
        "  end\n"
        "  wait 10\n"
        "end\n"
        "stats\n");
    const TCliRun run = RunCli(OverTcp(sim.TcpPort(), {QStringLiteral("--json"), QStringLiteral("run"), script}));
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(Grasps(run), 4);
    EXPECT_EQ(run.Objects().last()["NumGrasps"].toInt(), 4);

    // The same from standard input, after a command of the command line.
    const TCliRun piped = RunCli(OverTcp(sim.TcpPort(), Words("--json stats --reset , run -")),
        "repeat 3\ngrasp 20 50\nrelease 60 200\nend\nstats\n");
    ASSERT_EQ(piped.ExitCode, 0) << piped.Err.toStdString();
    EXPECT_EQ(piped.Objects().last()["NumGrasps"].toInt(), 3);
}

TEST(CliScripts, FaultsNameTheLineAndStopTheScript)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start());
    QTemporaryDir dir;
    const QString bad = WriteFile(dir, QStringLiteral("bad.txt"), "home\nrepeat 2\n  goto 50 abc\nend\n");
    const TCliRun syntax = RunCli(OverTcp(sim.TcpPort(), {QStringLiteral("run"), bad}));
    EXPECT_EQ(syntax.ExitCode, 2);
    EXPECT_TRUE(syntax.Err.contains(bad + QStringLiteral(":3: goto: SPEED \"abc\" is not a number"))) << syntax.Err.toStdString();
    EXPECT_TRUE(syntax.Out.isEmpty());

    const QString open = WriteFile(dir, QStringLiteral("open.txt"), "repeat 2\nhome\n");
    EXPECT_TRUE(RunCli(OverTcp(sim.TcpPort(), {QStringLiteral("run"), open})).Err.contains(open + QStringLiteral(":1: repeat without end")));

    // Without a part every grasp fails: the script stops at the first one,
    // or with --keep-going runs on and still ends with status 1.
    const QString loop = WriteFile(dir, QStringLiteral("loop.txt"), "home\nrepeat 3\ngrasp 20 50\nrelease 60 200\nend\n");
    const TCliRun stops = RunCli(OverTcp(sim.TcpPort(), {QStringLiteral("--json"), QStringLiteral("run"), loop}));
    EXPECT_EQ(stops.ExitCode, 1);
    EXPECT_EQ(Grasps(stops), 1);
    EXPECT_TRUE(stops.Err.contains(loop + QStringLiteral(":3: grasp: E_CMD_FAILED: Command failed"))) << stops.Err.toStdString();
    const TCliRun goes = RunCli(OverTcp(sim.TcpPort(), {QStringLiteral("--json"), QStringLiteral("--keep-going"), QStringLiteral("run"), loop}));
    EXPECT_EQ(goes.ExitCode, 1);
    EXPECT_EQ(Grasps(goes), 3);
}

TEST(CliLog, RowsMatchTheFramesOnTheWire)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose")}));
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("packets.csv"));
    const TCliRun run = RunCli(OverTcp(sim.TcpPort(), {QStringLiteral("--log"), log, QStringLiteral("info"), QStringLiteral(","),
                                                          QStringLiteral("home"), QStringLiteral(","), QStringLiteral("raw"),
                                                          QStringLiteral("0x99"), QStringLiteral("1")}));
    ASSERT_EQ(run.ExitCode, 1) << run.Err.toStdString();
    sim.Stop();

    // The simulator's view: "[tcp] RX 53h GET_SYSTEM_LIMITS: AA AA AA 53 ...".
    QStringList wire;
    static const QRegularExpression frameLine(QStringLiteral("\\] (RX|TX) [0-9a-f]{2}h [^:]+: ([0-9A-F ]+)$"));
    for (const QString& line : sim.Errors().split(u'\n')) {
        const auto match = frameLine.match(line);
        if (match.hasMatch())
            wire.append((match.captured(1) == QLatin1String("RX") ? QStringLiteral("TX ") : QStringLiteral("RX ")) + match.captured(2));
    }

    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readLine().trimmed(), PacketLogHeader().toUtf8());
    file.seek(0);
    std::vector<TLogRecord> records;
    QString error;
    ASSERT_TRUE(ReadPacketLog(file, records, error)) << error.toStdString();
    QStringList logged;
    qint64 lastTime = 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const TLogRecord& r : records) {
        EXPECT_GE(r.sinceConnectUs, lastTime);
        lastTime = r.sinceConnectUs;
        ASSERT_TRUE(r.wallMs.has_value());
        EXPECT_LE(now - *r.wallMs, 60000);
        const TByteArray frame = BuildFrame(static_cast<uint8_t>(r.packet.command), r.packet.data.data(), r.packet.data.size());
        QStringList bytes;
        for (const uint8_t b : frame)
            bytes.append(QString::asprintf("%02X", b));
        logged.append((r.received ? QStringLiteral("RX ") : QStringLiteral("TX ")) + bytes.join(u' '));
    }
    EXPECT_EQ(logged, wire);
    file.seek(0);
    const QStringList rows = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(rows.last().endsWith(QStringLiteral(",RX,0x99,unknown ID(153),2,E_CMD_UNKNOWN,Unknown command,0E 00")))
        << rows.last().toStdString();
    EXPECT_TRUE(rows.filter(QStringLiteral(",TX,0x20,HOMING,1,,direction 0,00")).size() == 1) << rows.join(u'\n').toStdString();
    const int size = static_cast<int>(records.size());
    EXPECT_GE(size, 7); // info, homing with its final result, raw (no command needs the limits)
}

TEST(CliExit, ConnectionMissingOrLostGivesThree)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start());
    const quint16 port = sim.TcpPort();
    sim.Stop();
    const TCliRun refused = RunCli(OverTcp(port, {QStringLiteral("info")}));
    EXPECT_EQ(refused.ExitCode, 3);
    EXPECT_TRUE(refused.Err.contains(QStringLiteral("TCP 127.0.0.1:%1: cannot connect").arg(port))) << refused.Err.toStdString();

    // The simulator hangs up after its third frame: limits, info, then the
    // pending answer of the homing.
    ASSERT_TRUE(sim.Start({QStringLiteral("--close-after"), QStringLiteral("3")}));
    const TCliRun lost = RunCli(OverTcp(sim.TcpPort(), Words("info , home , info")));
    EXPECT_EQ(lost.ExitCode, 3);
    EXPECT_TRUE(lost.Err.contains(QStringLiteral("connection lost"))) << lost.Err.toStdString();
    EXPECT_TRUE(lost.Out.startsWith(QStringLiteral("info: No error"))) << lost.Out.toStdString();

    EXPECT_EQ(RunCli(Words("info")).ExitCode, 2);
    EXPECT_EQ(RunCli(Words("--serial /dev/null@1234 info")).ExitCode, 2);
}

TEST(CliSerial, APortThatIsGoneSaysSo)
{
    QTemporaryDir dir;
    const QString gone = dir.filePath(QStringLiteral("ttyUSB-unplugged"));
    const TCliRun run = RunCli({QStringLiteral("--serial"), gone, QStringLiteral("info")});
    EXPECT_EQ(run.ExitCode, 3);
    EXPECT_TRUE(run.Err.contains(QStringLiteral("cannot connect: General I/O-Error. The serial port %1 does not exist "
                                                "(unplugged?)")
                                     .arg(gone)))
        << run.Err.toStdString();
}

TEST(CliInterrupt, CtrlCDuringAMotionSendsStop)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--referenced")}));
    QProcess cli;
    cli.start(CliPath(), OverTcp(sim.TcpPort(), Words("goto 0 5 , state")));
    ASSERT_TRUE(cli.waitForStarted(5000));
    ASSERT_TRUE(SimLogs(sim, QStringLiteral("RX 21h GOTO")));
    QTest::qWait(200);
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 1);
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("goto: E_CMD_ABORTED: Command aborted"))) << err.toStdString();
    EXPECT_TRUE(SimLogs(sim, QStringLiteral("RX 22h STOP: AA AA AA 22 00 00 0E 76")));
    EXPECT_TRUE(cli.readAllStandardOutput().isEmpty()) << "state does not run after the interrupt";
}

TEST(CliInterrupt, AMotionWithoutResultInTimeIsStopped)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--referenced")}));
    const TCliRun run = RunCli(OverTcp(sim.TcpPort(), Words("--timeout 0.3 goto 0 5")));
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.Err.contains(QStringLiteral("goto: E_TIMEOUT: Timeout error"))) << run.Err.toStdString();
    EXPECT_TRUE(SimLogs(sim, QStringLiteral("RX 22h STOP")));
}

TEST(CliSerial, CommandsOverAPseudoTerminal)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("gripper-tty"));
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--pty"), link, QStringLiteral("--part-width"), QStringLiteral("15")}));
    const QDeadlineTimer deadline(5000);
    while (!sim.Output().contains(QStringLiteral("pty ")) && !deadline.hasExpired())
        QTest::qWait(20);
    const TCliRun run = RunCli({QStringLiteral("--serial"), link + QStringLiteral("@115200"), QStringLiteral("--json"),
        QStringLiteral("info"), QStringLiteral(","), QStringLiteral("home"), QStringLiteral(","), QStringLiteral("grasp"),
        QStringLiteral("20"), QStringLiteral("50"), QStringLiteral(","), QStringLiteral("state")});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const QList<QJsonObject> o = run.Objects();
    ASSERT_EQ(o.size(), 4);
    EXPECT_EQ(o[0]["SerialNumber"].toInt(), 12345678);
    EXPECT_EQ(o[3]["GraspingStateText"].toString(), QStringLiteral("holding"));
}

} // namespace
