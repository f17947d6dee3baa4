// krm-cli: the gripper from scripts and terminals. Watches for termination
// signals before anything else, parses the command line (reading the
// scripts given to `run`), opens the packet log, and hands the run to
// TCliRunner.
#include "CliDecode.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "CliRunner.h"
#include "CliScan.h"
#include "CliSignals.h"
#include "HXTForm.h"
#include "PacketLogCsv.h"
#include "SettingsFolder.h"
#include "UsageError.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    // Before a script is read: a Ctrl+C there ends the run as anywhere else.
    InstallCliSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("krm-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KRM_VERSION));

    // decode reads a recording and scan looks for grippers: neither needs a
    // connection.
    if (IsDecodeCommand(QCoreApplication::arguments().mid(1)))
        return RunDecode(QCoreApplication::arguments().mid(1));
    if (IsScanCommand(QCoreApplication::arguments().mid(1)))
        return RunScan(QCoreApplication::arguments().mid(1));
    TCliOptions options;
    try {
        options = ParseCliOptions(QCoreApplication::arguments().mid(1));
    } catch (const TUsageError& error) {
        TCliOutput(false).Error(error.Message());
        return ExitUsage;
    } catch (const TCliInterrupted& interrupted) {
        TCliOutput(false).Error(QStringLiteral("interrupted by %1 while reading a script").arg(QLatin1String(CliSignalName(interrupted.Signal))));
        return ExitCommandFailed;
    }
    TCliOutput output(options.Json);
    if (options.Help || options.Version) {
        output.Text(options.Help ? CliUsage() : QStringLiteral("krm-cli %1\n").arg(QStringLiteral(KRM_VERSION)));
        if (!output.Failed())
            return ExitSuccess;
        output.Error(output.FailureText());
        return ExitCommandFailed;
    }

    TPacketLogFile log;
    QString error;
    if (!options.LogFile.isEmpty() && !log.Open(options.LogFile, error)) {
        output.Error(QStringLiteral("--log: cannot write \"%1\": %2").arg(options.LogFile, error));
        return ExitUsage;
    }
    const auto logFailure = [&] { return QStringLiteral("--log: cannot write \"%1\": %2").arg(options.LogFile, log.ErrorString()); };
    if (log.Failed()) {
        output.Error(logFailure());
        return ExitCommandFailed;
    }

    // Every connection value comes from the command line: the devices read
    // and write no settings files.
    KeepNoSettingsFiles();
    THXT gripper;
    TCliRunner runner(gripper, output, options);
    runner.OnConnected = [&] { log.MarkConnected(); };
    gripper.PacketLog = [&](const TPacket& packet, bool received) {
        if (!log.Write(packet, received))
            runner.OutputFailed(logFailure());
        runner.PacketSeen(received, packet);
    };
    TCliSignalNotifier signalNotifier;
    QObject::connect(&signalNotifier, &TCliSignalNotifier::signalled, &runner, &TCliRunner::Interrupt);
    const int exit = runner.Run();
    gripper.PacketLog = nullptr;
    return exit;
}
