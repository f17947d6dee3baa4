#pragma once
// Runs gripper-sim as a child process for end-to-end tests: it listens for
// TCP on 127.0.0.1 with a free port, which Start() reads from its output.
#include <QProcess>
#include <QStringList>

class TSimulatorProcess {
public:
    TSimulatorProcess() = default;
    ~TSimulatorProcess();
    TSimulatorProcess(const TSimulatorProcess&) = delete;
    TSimulatorProcess& operator=(const TSimulatorProcess&) = delete;

    // Launches gripper-sim with "--tcp 127.0.0.1:<port>" (0: a free port) and
    // extraArgs, and waits up to a few seconds for its "tcp port N" line.
    // False when it did not start or did not report a port (it is stopped
    // then).
    bool Start(const QStringList& extraArgs = {}, quint16 port = 0);
    // Terminates the simulator (SIGTERM, then kill) and waits for it.
    void Stop();

    // The TCP port the simulator listens on; 0 before a successful Start().
    quint16 TcpPort() const { return FPort; }
    bool Running() const { return FProcess.state() != QProcess::NotRunning; }
    // Everything the simulator printed on stdout so far.
    QString Output();
    // Everything the simulator printed on stderr so far.
    QString Errors();

    static QString ExecutablePath();

private:
    QProcess FProcess;
    QByteArray FStdout;
    QByteArray FStderr;
    quint16 FPort = 0;
};
