// gripper-sim: a simulated electric parallel gripper that answers the
// gripper protocol over TCP, a pseudo-terminal and a CAN bus at once.
#include "CanTransport.h"
#include "PtyTransport.h"
#include "SignalWatcher.h"
#include "SimCommandLine.h"
#include "SimHost.h"
#include "TcpTransport.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>

namespace {
constexpr int ExitUsage = 2;
constexpr int ExitStartFailed = 1;

int Fail(const QString& message)
{
    std::fprintf(stderr, "gripper-sim: %s\n", qPrintable(message));
    return ExitStartFailed;
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gripper-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KRM_VERSION));

    const TCommandLineResult cmd = ParseCommandLine(QCoreApplication::arguments());
    if (cmd.kind == TCommandLineResult::Help || cmd.kind == TCommandLineResult::Version) {
        std::printf("%s", qPrintable(cmd.text));
        return 0;
    }
    if (cmd.kind == TCommandLineResult::Error) {
        std::fprintf(stderr, "gripper-sim: %s\nTry 'gripper-sim --help'.\n", qPrintable(cmd.text));
        return ExitUsage;
    }
    const TSimSettings& s = cmd.settings;
    // The CAN plugins trace their own connections; that belongs to --verbose.
    if (!s.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus*.debug=false\nqt.canbus*.info=false"));

    TSignalWatcher watcher;
    if (!watcher.Install())
        return Fail(QStringLiteral("cannot install the signal handlers"));
    // A signal may arrive while a transport still waits to open, before the
    // main loop runs; it is remembered so that the program still ends.
    bool terminated = false;
    QObject::connect(&watcher, &TSignalWatcher::terminationRequested, &app, [&terminated](int) {
        terminated = true;
        QCoreApplication::quit();
    });

    TSimHost host(s.gripper, s.faults, s.verbose);
    QString error;
    std::unique_ptr<TTcpTransport> tcp;
    std::unique_ptr<TPtyTransport> pty;
    std::unique_ptr<TCanTransport> can;
    if (s.tcp) {
        tcp = std::make_unique<TTcpTransport>(host);
        if (!tcp->Listen(s.tcp->address, s.tcp->port, error))
            return Fail(QStringLiteral("cannot listen on %1:%2: %3").arg(s.tcp->address.toString()).arg(s.tcp->port).arg(error));
        std::printf("tcp port %u\n", tcp->Port());
        std::fflush(stdout);
    }
    if (s.ptyPath) {
        pty = std::make_unique<TPtyTransport>(host, *s.ptyPath, s.ptyBaud);
        if (!pty->Open(error))
            return Fail(error);
    }
    if (s.can) {
        can = std::make_unique<TCanTransport>(host, s.can->plugin, s.can->interface, s.can->id);
        if (!can->Open(error))
            return Fail(error);
    }
    return terminated ? 0 : QCoreApplication::exec();
}
