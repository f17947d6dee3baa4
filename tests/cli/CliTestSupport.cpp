#include "CliTestSupport.h"

#include "SimulatorProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

QStringList TCliRun::Lines() const
{
    QStringList lines = Out.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QList<QJsonObject> TCliRun::Objects() const
{
    QList<QJsonObject> objects;
    for (const QString& line : Lines()) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(document.isObject()) << line.toStdString();
        objects.append(document.object());
    }
    return objects;
}

QString CliPath() { return QStringLiteral(KRM_CLI_PATH); }

TCliRun RunCli(const QStringList& args, const QByteArray& input, int timeoutMs)
{
    return RunCliAt(CliPath(), args, input, timeoutMs);
}

TCliRun RunCliAt(const QString& program, const QStringList& args, const QByteArray& input, int timeoutMs)
{
    QProcess process;
    process.start(program, args);
    TCliRun run;
    if (!process.waitForStarted(5000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(3000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.ExitCode = process.exitCode();
    }
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

bool StartCli(QProcess& process, const QStringList& args, int stdoutFd, long fileSizeLimit)
{
    process.setChildProcessModifier([stdoutFd, fileSizeLimit] {
        if (stdoutFd >= 0)
            ::dup2(stdoutFd, STDOUT_FILENO);
        if (fileSizeLimit > 0) {
            const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    });
    process.start(CliPath(), args);
    return process.waitForStarted(5000);
}

QStringList Words(const char* text) { return QString::fromLatin1(text).split(u' '); }

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return file.fileName();
}

QStringList OverTcp(quint16 port, const QStringList& args)
{
    return QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(port)} + args;
}

bool SimLogs(TSimulatorProcess& sim, const QString& text, int count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (sim.Errors().count(text) < count) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}
