#pragma once
// Runs krm-cli as a child process and collects what it printed.
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

class QTemporaryDir;
class TSimulatorProcess;

struct TCliRun {
    int ExitCode = -1;
    QString Out;
    QString Err;
    // Standard output as lines, without the empty last one.
    QStringList Lines() const;
    // Every line of standard output parsed as a JSON object; a line that is
    // not one fails the calling test.
    QList<QJsonObject> Objects() const;
};

QString CliPath();
// Runs krm-cli with `args`, feeding `input` to its standard input, and waits
// for it to end (at most `timeoutMs`; it is killed then, ExitCode -1).
TCliRun RunCli(const QStringList& args, const QByteArray& input = {}, int timeoutMs = 30000);
// Starts krm-cli with `args` in `process`; with `stdoutFd` given, its
// standard output is that descriptor (a pipe end the test holds) instead of
// the process's channel, and with `fileSizeLimit` above 0 it runs with that
// RLIMIT_FSIZE. False when it did not start.
bool StartCli(QProcess& process, const QStringList& args, int stdoutFd = -1, long fileSizeLimit = 0);
// RunCli with the krm-cli at `program` (a copy elsewhere).
TCliRun RunCliAt(const QString& program, const QStringList& args, const QByteArray& input = {}, int timeoutMs = 30000);
// The words of `text`, split at single spaces.
QStringList Words(const char* text);
// Writes `bytes` to the file `name` in `dir`; its path.
QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
// "--tcp 127.0.0.1:PORT" followed by `args`.
QStringList OverTcp(quint16 port, const QStringList& args);

// Waits until the simulator's frame log (stderr, --verbose) contains `text`
// at least `count` times.
bool SimLogs(TSimulatorProcess& sim, const QString& text, int count = 1, int timeoutMs = 5000);
