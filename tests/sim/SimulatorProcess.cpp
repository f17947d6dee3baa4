#include "SimulatorProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <algorithm>

namespace {
constexpr int StartTimeoutMs = 5000;
constexpr int StopTimeoutMs = 3000;
}

TSimulatorProcess::~TSimulatorProcess() { Stop(); }

QString TSimulatorProcess::ExecutablePath() { return QStringLiteral(GRIPPER_SIM_PATH); }

bool TSimulatorProcess::Start(const QStringList& extraArgs, quint16 port)
{
    Stop();
    FStdout.clear();
    FStderr.clear();
    FPort = 0;
    FProcess.start(ExecutablePath(), QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(port)} + extraArgs);
    if (!FProcess.waitForStarted(StartTimeoutMs))
        return false;
    static const QRegularExpression portLine(QStringLiteral("^tcp port (\\d+)$"), QRegularExpression::MultilineOption);
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired() && FProcess.state() == QProcess::Running) {
        FProcess.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        FStdout += FProcess.readAllStandardOutput();
        const auto match = portLine.match(QString::fromLocal8Bit(FStdout));
        if (match.hasMatch()) {
            FPort = static_cast<quint16>(match.captured(1).toUInt());
            return FPort != 0;
        }
    }
    Stop();
    return false;
}

void TSimulatorProcess::Stop()
{
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.terminate();
        if (!FProcess.waitForFinished(StopTimeoutMs)) {
            FProcess.kill();
            FProcess.waitForFinished(StopTimeoutMs);
        }
    }
    if (FProcess.isOpen()) {
        FStdout += FProcess.readAllStandardOutput();
        FStderr += FProcess.readAllStandardError();
    }
    FPort = 0;
}

QString TSimulatorProcess::Output()
{
    if (FProcess.isOpen())
        FStdout += FProcess.readAllStandardOutput();
    return QString::fromLocal8Bit(FStdout);
}

QString TSimulatorProcess::Errors()
{
    if (FProcess.isOpen())
        FStderr += FProcess.readAllStandardError();
    return QString::fromLocal8Bit(FStderr);
}
