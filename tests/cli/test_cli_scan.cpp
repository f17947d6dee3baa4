// krm-cli scan end to end: a simulator on a pseudo-terminal at a line speed of
// its own and over TCP is listed with the connection string that opens it;
// a port held by another program is named on standard error.
#include "CliTestSupport.h"
#include "SimulatorProcess.h"

#include <QSerialPort>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(CliScan, ListsWhatAnswersAndNamesAPortInUse)
{
    QTemporaryDir dir;
    const QString tty = dir.filePath(QStringLiteral("tty"));
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--pty"), tty, QStringLiteral("--baud"), QStringLiteral("2400"),
        QStringLiteral("--serial"), QStringLiteral("31")}));
    const QString tcp = QStringLiteral("tcp:127.0.0.1:%1").arg(sim.TcpPort());

    const TCliRun run = RunCli({QStringLiteral("--json"), QStringLiteral("scan"), QStringLiteral("--only"),
        QStringLiteral("serial:") + tty, tcp});
    EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const QList<QJsonObject> found = run.Objects();
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0][QStringLiteral("Connection")].toString(), QStringLiteral("serial:%1@2400").arg(tty));
    EXPECT_EQ(found[0][QStringLiteral("SerialNumber")].toInt(), 31);
    EXPECT_EQ(found[1][QStringLiteral("Connection")].toString(), tcp);

    // What scan printed opens the gripper.
    const TCliRun info = RunCli({QStringLiteral("--connect"), found[0][QStringLiteral("Connection")].toString(),
        QStringLiteral("info")});
    EXPECT_EQ(info.ExitCode, 0) << info.Err.toStdString();

    QSerialPort holder;
    holder.setPortName(tty);
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    const TCliRun held = RunCli({QStringLiteral("scan"), QStringLiteral("--only"), QStringLiteral("serial:") + tty});
    EXPECT_EQ(held.ExitCode, 1);
    EXPECT_TRUE(held.Out.isEmpty());
    EXPECT_TRUE(held.Err.contains(QStringLiteral("is in use by another program"))) << held.Err.toStdString();
}

TEST(CliScan, RefusesBadUsageBeforeTryingAnything)
{
    for (const QStringList& args : {QStringList{QStringLiteral("scan"), QStringLiteral("--only")},
             QStringList{QStringLiteral("scan"), QStringLiteral("--baud"), QStringLiteral("300"), QStringLiteral("--only"),
                 QStringLiteral("serial:/nonexistent")},
             QStringList{QStringLiteral("scan"), QStringLiteral("--only"), QStringLiteral("serial:")},
             QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:1"), QStringLiteral("scan")}}) {
        const TCliRun run = RunCli(args);
        EXPECT_EQ(run.ExitCode, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.Err.startsWith(QStringLiteral("krm-cli: scan: "))) << run.Err.toStdString();
    }
    const TCliRun help = RunCli({QStringLiteral("--help")});
    EXPECT_TRUE(help.Out.contains(QStringLiteral("the full sweep of all line speeds at\n    most 2.5 s")));
    EXPECT_TRUE(help.Out.contains(QStringLiteral("writes nothing but the system-information request")));
}
