// krm-cli: the gripper from scripts and terminals. Parses the command line,
// opens the packet log, and hands the run to TCliRunner; Ctrl+C and SIGTERM
// reach the runner through the signal watcher.
#include "CliDecode.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "CliRunner.h"
#include "HXTForm.h"
#include "PacketLogCsv.h"
#include "SignalWatcher.h"
#include "UsageError.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("krm-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KRM_VERSION));

    // decode reads a recording and needs no connection.
    if (IsDecodeCommand(QCoreApplication::arguments().mid(1)))
        return RunDecode(QCoreApplication::arguments().mid(1));
    TCliOptions options;
    try {
        options = ParseCliOptions(QCoreApplication::arguments().mid(1));
    } catch (const TUsageError& error) {
        TCliOutput(false).Error(error.Message());
        return ExitUsage;
    }
    if (options.Help || options.Version) {
        const QString text = options.Help ? CliUsage() : QStringLiteral("krm-cli %1\n").arg(QStringLiteral(KRM_VERSION));
        std::fputs(text.toUtf8().constData(), stdout);
        return ExitSuccess;
    }

    TCliOutput output(options.Json);
    TPacketLogFile log;
    QString error;
    if (!options.LogFile.isEmpty() && !log.Open(options.LogFile, error)) {
        output.Error(QStringLiteral("--log: cannot write \"%1\": %2").arg(options.LogFile, error));
        return ExitUsage;
    }

    THXT gripper;
    TCliRunner runner(gripper, output, options);
    gripper.PacketLog = [&](const TPacket& packet, bool received) {
        log.Write(packet, received);
        runner.PacketSeen(received, packet);
    };
    TSignalWatcher watcher;
    watcher.Install();
    QObject::connect(&watcher, &TSignalWatcher::terminationRequested, &runner, &TCliRunner::Interrupt);
    const int exit = runner.Run();
    gripper.PacketLog = nullptr;
    return exit;
}
