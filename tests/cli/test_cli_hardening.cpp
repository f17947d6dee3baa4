// krm-cli's stop paths and its bounds, end to end against the simulator:
// termination signals wherever the run is, motions whose answers do not
// come, values that cannot be checked, scripts beyond their bounds, a live
// session through a pipe, and lost output.
#include "CliTestSupport.h"
#include "SimulatorProcess.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// True once the process has ended, at the latest after `timeoutMs`.
bool Ends(QProcess& process, int timeoutMs)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}

void Signal(QProcess& process, int signalNumber) { ::kill(static_cast<pid_t>(process.processId()), signalNumber); }

// The lines krm-cli printed on standard error.
QStringList ErrorLines(QProcess& process)
{
    return QString::fromUtf8(process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
}

// Reads standard output until it holds `count` lines in all.
bool WaitForLines(QProcess& process, QByteArray& out, qsizetype count, int timeoutMs = 10000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (out.count('\n') < count) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(100);
        out += process.readAllStandardOutput();
    }
    return true;
}

// Resident memory of a running process, in kB.
qint64 ResidentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

TEST(CliSignals, AnInterruptEndsTheWholeRunWhereverItIs)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--referenced")}));

    // During a watch: the commands after it do not run.
    QProcess watch;
    ASSERT_TRUE(StartCli(watch, OverTcp(sim.TcpPort(), Words("watch , goto 100 100 , state"))));
    ASSERT_TRUE(SimLogs(sim, QStringLiteral("RX 45h GET_FORCE")));
    Signal(watch, SIGINT);
    ASSERT_TRUE(Ends(watch, 5000));
    EXPECT_EQ(watch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.exitCode(), 1);
    EXPECT_TRUE(ErrorLines(watch).contains(QStringLiteral("krm-cli: interrupted by SIGINT")));
    EXPECT_FALSE(sim.Errors().contains(QStringLiteral("GOTO")));

    // A watch repeated in a block: SIGTERM ends the block too.
    QProcess loop;
    ASSERT_TRUE(StartCli(loop, OverTcp(sim.TcpPort(), Words("repeat 5 , watch 5 , end"))));
    ASSERT_TRUE(SimLogs(sim, QStringLiteral("RX 45h GET_FORCE"), 3)); // on and off by the first watch, on by this one
    Signal(loop, SIGTERM);
    ASSERT_TRUE(Ends(loop, 5000));
    EXPECT_EQ(loop.exitCode(), 1);
    EXPECT_TRUE(ErrorLines(loop).contains(QStringLiteral("krm-cli: interrupted by SIGTERM")));

    // SIGHUP during a motion: STOP first.
    QProcess motion;
    ASSERT_TRUE(StartCli(motion, OverTcp(sim.TcpPort(), Words("goto 0 5"))));
    ASSERT_TRUE(SimLogs(sim, QStringLiteral("RX 21h GOTO")));
    Signal(motion, SIGHUP);
    ASSERT_TRUE(Ends(motion, 5000));
    EXPECT_EQ(motion.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(motion.exitCode(), 1);
    EXPECT_TRUE(SimLogs(sim, QStringLiteral("RX 22h STOP")));
}

TEST(CliSignals, AnInterruptWhileReadingAScriptOrConnectingGivesOne)
{
    // A script that is a FIFO nobody writes to.
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("script"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess reading;
    ASSERT_TRUE(StartCli(reading, {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:9"), QStringLiteral("run"), fifo}));
    // A writer can open the FIFO once krm-cli holds it for reading.
    int writer = -1;
    const QDeadlineTimer opened(5000);
    while ((writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && !opened.hasExpired())
        QTest::qWait(20);
    ASSERT_GE(writer, 0);
    Signal(reading, SIGINT);
    ASSERT_TRUE(Ends(reading, 5000));
    ::close(writer);
    EXPECT_EQ(reading.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(reading.exitCode(), 1);

    // A listener whose queue of connections is full never completes the
    // connection.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    QProcess connecting;
    ASSERT_TRUE(StartCli(connecting, OverTcp(ntohs(address.sin_port), Words("info"))));
    // Its socket exists once it tries to connect.
    const QDeadlineTimer tried(5000);
    const auto hasSocket = [&] {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(connecting.processId()));
        for (const QString& fd : fds.entryList(QDir::System)) {
            char target[64] = {};
            if (::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1) > 0 &&
                QByteArray(target).startsWith("socket:"))
                return true;
        }
        return false;
    };
    while (!hasSocket() && !tried.hasExpired())
        QTest::qWait(20);
    QTest::qWait(100);
    Signal(connecting, SIGINT);
    ASSERT_TRUE(Ends(connecting, 5000));
    EXPECT_EQ(connecting.exitCode(), 1);
    EXPECT_TRUE(ErrorLines(connecting).contains(QStringLiteral("krm-cli: interrupted by SIGINT")));
    for (const int fd : fillers)
        ::close(fd);
    ::close(listener);
}

TEST(CliSignals, AMotionWhoseFirstAnswerNeverComesIsStopped)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--referenced"), QStringLiteral("--drop"), QStringLiteral("GOTO")}));
    const TCliRun timedOut = RunCli(OverTcp(sim.TcpPort(), Words("--timeout 1 goto 0 5")));
    EXPECT_EQ(timedOut.ExitCode, 1);
    EXPECT_TRUE(timedOut.Err.contains(QStringLiteral("command 1: goto: no answer within 1 s; sending STOP"))) << timedOut.Err.toStdString();
    EXPECT_TRUE(SimLogs(sim, QStringLiteral("RX 22h STOP")));

    // Ctrl+C while the answer is still awaited: STOP at once, not after the
    // answer's time is up.
    QProcess cli;
    ASSERT_TRUE(StartCli(cli, OverTcp(sim.TcpPort(), Words("raw GOTO 0 0.0f 5.0f"))));
    ASSERT_TRUE(SimLogs(sim, QStringLiteral("RX 21h GOTO"), 2));
    Signal(cli, SIGINT);
    EXPECT_TRUE(SimLogs(sim, QStringLiteral("RX 22h STOP"), 2, 1500));
    ASSERT_TRUE(Ends(cli, 5000));
    EXPECT_EQ(cli.exitCode(), 1);
}

TEST(CliSignals, ASecondInterruptEndsTheWaitForStopsAnswer)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--referenced"), QStringLiteral("--drop"), QStringLiteral("GOTO,STOP")}));
    QProcess cli;
    ASSERT_TRUE(StartCli(cli, OverTcp(sim.TcpPort(), Words("goto 0 5"))));
    ASSERT_TRUE(SimLogs(sim, QStringLiteral("RX 21h GOTO")));
    Signal(cli, SIGINT);
    ASSERT_TRUE(SimLogs(sim, QStringLiteral("RX 22h STOP")));
    Signal(cli, SIGINT);
    // STOP's answer would be awaited 3 s.
    ASSERT_TRUE(Ends(cli, 1500));
    EXPECT_EQ(cli.exitCode(), 1);
}

TEST(CliSignals, TheStopAfterATimeoutWaitsAtMostASecondMore)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--referenced"), QStringLiteral("--drop"), QStringLiteral("STOP")}));
    QProcess cli;
    ASSERT_TRUE(StartCli(cli, OverTcp(sim.TcpPort(), Words("--timeout 0.5 goto 0 5"))));
    ASSERT_TRUE(SimLogs(sim, QStringLiteral("RX 22h STOP")));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Ends(cli, 10000));
    // 1 s at most after STOP went out; an answer's whole 3 s before.
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(cli.readAllStandardError()).contains(QStringLiteral("goto: E_TIMEOUT")));
}

TEST(CliLimits, WithoutUsableLimitsNoValueIsSent)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--referenced"), QStringLiteral("--force-status"),
        QStringLiteral("GET_SYSTEM_LIMITS=E_CMD_FAILED")}));
    for (const char* command : {"accel 1e30", "info , goto 50 100", "force-limit 20"}) {
        const TCliRun run = RunCli(OverTcp(sim.TcpPort(), Words(command)));
        EXPECT_EQ(run.ExitCode, 3) << command;
        EXPECT_TRUE(run.Err.contains(QStringLiteral("not sent: its values cannot be checked, because the system limits could not be "
                                                    "read (E_CMD_FAILED: Command failed)")))
            << run.Err.toStdString();
        EXPECT_TRUE(run.Out.isEmpty()) << command;
    }
    // Commands without values still run.
    const TCliRun plain = RunCli(OverTcp(sim.TcpPort(), Words("info , state , accel")));
    EXPECT_EQ(plain.ExitCode, 0) << plain.Err.toStdString();
    EXPECT_EQ(plain.Lines().size(), 3);
    sim.Stop();
    for (const char* name : {"SET_ACCELERATION", "GOTO", "SET_FORCE_LIMIT"})
        EXPECT_FALSE(sim.Errors().contains(QLatin1String(name))) << name;
}

TEST(CliLimits, LongDurationsAndBareStateAnswersAreRefused)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--force-status"), QStringLiteral("GET_SYSTEM_STATE=E_SUCCESS")}));
    for (const char* command : {"watch 1e300", "watch 86401", "wait 86400001"}) {
        const TCliRun run = RunCli(OverTcp(sim.TcpPort(), Words(command)), {}, 10000);
        EXPECT_EQ(run.ExitCode, 2) << command;
        EXPECT_TRUE(run.Err.contains(QStringLiteral("(a day)"))) << run.Err.toStdString();
    }
    // The status word alone carries no state.
    const TCliRun state = RunCli(OverTcp(sim.TcpPort(), Words("state")));
    EXPECT_EQ(state.ExitCode, 1);
    EXPECT_TRUE(state.Err.contains(QStringLiteral("state: the gripper's answer carries 0 result bytes instead of 4"))) << state.Err.toStdString();
    EXPECT_TRUE(state.Out.isEmpty()) << state.Out.toStdString();
}

TEST(CliScripts, ScriptsBeyondTheirBoundsAreRefusedNamingTheLine)
{
    QTemporaryDir dir;
    const QStringList offline{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:9"), QStringLiteral("run")};
    const auto refused = [&](const QString& script, const QString& message) {
        const TCliRun run = RunCli(offline + QStringList{script});
        EXPECT_EQ(run.ExitCode, 2) << message.toStdString();
        EXPECT_TRUE(run.Err.contains(script + message)) << run.Err.toStdString();
    };
    refused(WriteFile(dir, QStringLiteral("deep.txt"), QByteArray("repeat 1\n").repeated(15000) + QByteArray("end\n").repeated(15000)),
        QStringLiteral(":65: repeat: more than 64 repeat blocks inside one another"));
    refused(WriteFile(dir, QStringLiteral("lines.txt"), QByteArray("# nothing\n").repeated(100001)),
        QStringLiteral(":100001: more than 100000 script lines in one run"));
    refused(WriteFile(dir, QStringLiteral("long.txt"), QByteArray(300 * 1024, 'a')), QStringLiteral(":1: line longer than 262144 bytes"));
    refused(WriteFile(dir, QStringLiteral("big.txt"), (u'#' + QByteArray(250 * 1024, 'a') + '\n').repeated(17)),
        QStringLiteral(":17: more than 4194304 bytes (4 MiB) of scripts in one run"));

    // 64 levels are fine.
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start());
    const QString deepest = WriteFile(dir, QStringLiteral("deepest.txt"),
        QByteArray("repeat 1\n").repeated(64) + QByteArray("wait 0\n") + QByteArray("end\n").repeated(64));
    const TCliRun run = RunCli(OverTcp(sim.TcpPort(), {QStringLiteral("run"), deepest}));
    EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Lines(), QStringList{QStringLiteral("wait: No error")});
}

TEST(CliScripts, RunStdinRunsEachLineAsItArrives)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--part-width"), QStringLiteral("15")}));
    QProcess cli;
    ASSERT_TRUE(StartCli(cli, OverTcp(sim.TcpPort(), Words("--json run -"))));
    QByteArray out;
    cli.write("home\n");
    ASSERT_TRUE(WaitForLines(cli, out, 1)) << out.toStdString();
    cli.write("repeat 2\n  grasp 20 50\n  release 60 200\nend\n");
    ASSERT_TRUE(WaitForLines(cli, out, 5)) << out.toStdString();
    cli.write("goto 30 100\n");
    ASSERT_TRUE(WaitForLines(cli, out, 6)) << out.toStdString();
    const TCliRun lines{0, QString::fromUtf8(out), {}};
    const QList<QJsonObject> o = lines.Objects();
    ASSERT_EQ(o.size(), 6);
    EXPECT_EQ(o[0]["command"].toString(), QStringLiteral("home"));
    EXPECT_EQ(o[3]["command"].toString(), QStringLiteral("grasp"));
    EXPECT_NEAR(o[5]["Position"].toDouble(), 30.0, 0.01);
    // A fault ends the run at its line, after the lines before it ran.
    cli.write("goto 30 1000\nstate\n");
    ASSERT_TRUE(Ends(cli, 10000));
    EXPECT_EQ(cli.exitCode(), 2);
    EXPECT_TRUE(QString::fromUtf8(cli.readAllStandardError()).contains(QStringLiteral("stdin:7: goto: SPEED 1000 is outside")));
}

TEST(CliScripts, RunStdinKeepsItsMemoryFlat)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start());
    QProcess cli;
    // Under AddressSanitizer freed memory would wait in its quarantine.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
        environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":quarantine_size_mb=0:thread_local_quarantine_size_kb=0"));
    cli.setProcessEnvironment(environment);
    ASSERT_TRUE(StartCli(cli, OverTcp(sim.TcpPort(), Words("run -"))));
    QByteArray out;
    cli.write(QByteArray("wait 0\n").repeated(20000));
    ASSERT_TRUE(WaitForLines(cli, out, 20000, 60000));
    const qint64 before = ResidentKb(cli.processId());
    cli.write(QByteArray("wait 0\n").repeated(200000));
    ASSERT_TRUE(WaitForLines(cli, out, 220000, 120000));
    const qint64 after = ResidentKb(cli.processId());
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 8 * 1024) << before << " kB, then " << after << " kB";
    cli.closeWriteChannel();
    ASSERT_TRUE(Ends(cli, 10000));
    EXPECT_EQ(cli.exitCode(), 0);
}

TEST(CliOutput, AFailedWriteToStandardOutputEndsTheRun)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--referenced")}));
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::close(fds[0]); // nobody reads
    QProcess cli;
    ASSERT_TRUE(StartCli(cli, OverTcp(sim.TcpPort(), Words("state , goto 50 100")), fds[1]));
    ::close(fds[1]);
    ASSERT_TRUE(Ends(cli, 10000));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_EQ(ErrorLines(cli).join(u'\n').toStdString(), "krm-cli: standard output: cannot write: Broken pipe");
    sim.Stop();
    EXPECT_FALSE(sim.Errors().contains(QStringLiteral("GOTO")));
}

TEST(CliOutput, WatchEndsWhenItsReaderGoesAway)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start());
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    QProcess cli;
    ASSERT_TRUE(StartCli(cli, OverTcp(sim.TcpPort(), Words("watch")), fds[1]));
    ::close(fds[1]);
    // Read the first line, as `head -1` does, and go away.
    QByteArray first;
    char c = 0;
    pollfd p{fds[0], POLLIN, 0};
    while (!first.endsWith('\n') && ::poll(&p, 1, 5000) == 1 && ::read(fds[0], &c, 1) == 1)
        first += c;
    ::close(fds[0]);
    EXPECT_TRUE(first.contains("GET_")) << first.toStdString();
    ASSERT_TRUE(Ends(cli, 5000));
    EXPECT_EQ(cli.exitCode(), 1);
    const QStringList errors = ErrorLines(cli);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("krm-cli: standard output: cannot write: "))) << errors[0].toStdString();
}

TEST(CliOutput, AFailedLogWriteStopsTheMotionAndEndsTheRun)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--verbose"), QStringLiteral("--referenced")}));
    QTemporaryDir dir;
    // Where the row of the first command begins, from a run with `limits`:
    // a goto reads the limits first.
    const QString learn = dir.filePath(QStringLiteral("learn.csv"));
    ASSERT_EQ(RunCli(OverTcp(sim.TcpPort(), {QStringLiteral("--log"), learn, QStringLiteral("limits")})).ExitCode, 0);
    QFile learned(learn);
    ASSERT_TRUE(learned.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = learned.readAll().split('\n');
    ASSERT_GE(rows.size(), 4);
    const qsizetype firstCommandRow = rows[0].size() + rows[1].size() + rows[2].size() + 3; // header, limits out and in

    // The file may not grow past a few bytes into the GOTO's row.
    QProcess cli;
    const QString log = dir.filePath(QStringLiteral("packets.csv"));
    ASSERT_TRUE(StartCli(cli, OverTcp(sim.TcpPort(), {QStringLiteral("--log"), log, QStringLiteral("goto"), QStringLiteral("0"),
                                          QStringLiteral("5")}),
        -1, static_cast<long>(firstCommandRow + 8)));
    ASSERT_TRUE(Ends(cli, 10000));
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_EQ(ErrorLines(cli).join(u'\n'), QStringLiteral("krm-cli: --log: cannot write \"%1\": File too large").arg(log));
    EXPECT_TRUE(SimLogs(sim, QStringLiteral("RX 22h STOP")));
}

} // namespace
