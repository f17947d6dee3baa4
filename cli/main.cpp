// krm-cli: the gripper from scripts and terminals. Parses the command line,
// opens the packet log, and hands the run to TCliRunner; Ctrl+C and SIGTERM
// reach the runner through the signal watcher.
#include "CliOptions.h"
#include "CliOutput.h"
#include "CliRunner.h"
#include "HXTForm.h"
#include "PacketCsvLog.h"
#include "SettingsFolder.h"
#include "SignalWatcher.h"
#include "UsageError.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QElapsedTimer clock;
    clock.start();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("krm-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KRM_VERSION));

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
    TPacketCsvLog log(clock);
    QString error;
    if (!options.LogFile.isEmpty() && !log.Open(options.LogFile, error)) {
        output.Error(QStringLiteral("--log: cannot write \"%1\": %2").arg(options.LogFile, error));
        return ExitUsage;
    }

    // Every connection value comes from the command line: the devices read
    // and write no settings files.
    KeepNoSettingsFiles();
    THXT gripper;
    TCliRunner runner(gripper, output, options);
    gripper.PacketLog = [&](const TPacket& packet, bool received) {
        log.Write(received, packet);
        runner.PacketSeen(received, packet);
    };
    TSignalWatcher watcher;
    watcher.Install();
    QObject::connect(&watcher, &TSignalWatcher::terminationRequested, &runner, &TCliRunner::Interrupt);
    const int exit = runner.Run();
    gripper.PacketLog = nullptr;
    return exit;
}
