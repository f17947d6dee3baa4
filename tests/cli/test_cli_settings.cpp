// krm-cli takes every connection value from its command line: it reads and
// writes no settings files, so whatever stands where they would lie (beside
// a copy of the program) is left alone and never stops a connect.
#include "CliTestSupport.h"
#include "SimulatorProcess.h"
#include "../common/SpecialFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// The names in `dir`, in order, as one line.
std::string Entries(const QTemporaryDir& dir)
{
    return QDir(dir.path())
        .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)
        .join(u' ')
        .toStdString();
}

TEST(CliSettings, NoSettingsFileIsWrittenAndNoneStopsAConnect)
{
    QTemporaryDir ttyDir;
    const QString tty = ttyDir.filePath(QStringLiteral("gripper-tty"));
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start({QStringLiteral("--pty"), tty}));
    const QDeadlineTimer deadline(5000);
    while (!sim.Output().contains(QStringLiteral("pty ")) && !deadline.hasExpired())
        QTest::qWait(20);

    QTemporaryDir dir;
    const QString cli = dir.filePath(QStringLiteral("krm-cli"));
    ASSERT_TRUE(QFile::copy(CliPath(), cli));
    const QList<QStringList> runs = {
        OverTcp(sim.TcpPort(), {QStringLiteral("info")}),
        {QStringLiteral("--serial"), tty + QStringLiteral("@115200"), QStringLiteral("info")},
    };
    for (const QStringList& args : runs) {
        const TCliRun run = RunCliAt(cli, args, {}, 20000);
        EXPECT_EQ(run.ExitCode, 0) << args.join(u' ').toStdString() << ": " << run.Err.toStdString();
    }
    EXPECT_EQ(Entries(dir), "krm-cli") << "no settings file beside the program";

    // Where the files would lie: a FIFO (read, it would wait for ever), a
    // link to a device node where the test may make one (else a link that
    // loops) and a folder.
    ASSERT_TRUE(MakeFifo(dir.filePath(QStringLiteral("tcp.cfg"))));
    QStringList names = {QStringLiteral("tcp.cfg"), QStringLiteral("uart.cfg"), QStringLiteral("can.cfg")};
    const QString node = dir.filePath(QStringLiteral("node"));
    if (MakeCharDevice(node)) {
        names << QStringLiteral("node");
        ASSERT_TRUE(MakeLink(node, dir.filePath(QStringLiteral("uart.cfg"))));
    } else {
        ASSERT_TRUE(MakeLink(QStringLiteral("uart.cfg"), dir.filePath(QStringLiteral("uart.cfg"))));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("can.cfg")));
    const std::string before = Entries(dir);
    std::map<QString, TFileIdentity> identities;
    for (const QString& name : names)
        identities[name] = IdentityOf(dir.filePath(name));
    for (const QStringList& args : runs) {
        const TCliRun run = RunCliAt(cli, args, {}, 20000);
        EXPECT_EQ(run.ExitCode, 0) << args.join(u' ').toStdString() << ": " << run.Err.toStdString();
        EXPECT_EQ(run.Err, QString());
    }
    EXPECT_EQ(Entries(dir), before);
    for (const QString& name : names)
        EXPECT_EQ(IdentityOf(dir.filePath(name)), identities[name]) << name.toStdString();
}

} // namespace
