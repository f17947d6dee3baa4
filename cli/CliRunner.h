#pragma once
// Runs the steps of krm-cli over one connection through the gripper object:
// connects, reads the system limits once and checks every value against
// them, runs the commands in order and prints their results, and tells the
// exit status.
//
// All waiting happens in nested event loops on the main thread, as the
// gripper object's own transactions do, so reports, the final results of
// motions, a lost link and an interrupt (Ctrl+C) are seen while waiting.
#include "CliCommand.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "DeviceComponent.h"
#include "HXTForm.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QEventLoop;

enum TCliExit : int {
    ExitSuccess = 0,
    ExitCommandFailed = 1,
    ExitUsage = 2,
    ExitConnection = 3,
};

class TCliRunner : public QObject {
    Q_OBJECT
public:
    TCliRunner(THXT& gripper, TCliOutput& output, const TCliOptions& options, QObject* parent = nullptr);

    // Connects, runs the program, disconnects; the exit status.
    int Run();

    // Ctrl+C or a termination request: the running command ends (a motion
    // after a STOP, a watch as if its time were up) and no further one runs.
    void Interrupt();
    // A transport's report: a lost link (or any error while connecting)
    // ends the run with ExitConnection; other errors are shown.
    void TransportReport(TTransportReport kind, const QString& text);
    // Every packet the gripper object sends or receives (its packet sink):
    // watch prints reports, raw takes the final answer of a pending command.
    void PacketSeen(bool received, const TPacket& packet);

    // Longest wait for the transport to report itself connected.
    static constexpr int ConnectTimeoutMs = 10000;
    // Longest wait for the final result after a STOP sent for an
    // interrupted or timed-out motion.
    static constexpr int StopResultTimeoutMs = 5000;

private:
    enum class TFlow { Next, End };

    int Session();
    bool Connect();
    void Close();
    TFlow RunSteps(const TCliProgram& steps);
    TFlow RunCommand(const TCliCommand& command);
    TCliResult Execute(const TCliCommand& command);

    TCliResult Motion(const TCliCommand& command, const std::function<TStat(TAsyncResultEvent)>& start);
    TCliResult State(const TCliCommand& command);
    TCliResult Reading(const TCliCommand& command, const QString& name, const char* unit,
        const std::function<TStat(float&)>& read);
    TCliResult Watch(const TCliCommand& command);
    TCliResult Raw(const TCliCommand& command);
    // Waits for the final answer of a started motion; STOP is sent when it
    // is interrupted or does not come in time.
    TStat AwaitFinal(const std::function<bool()>& arrived, const std::function<TStat()>& status);
    void PrintReport(const TPacket& packet);

    // Runs the event loop until `done` holds, the deadline passes, the run
    // is interrupted or the link is lost; `done` is looked at again after
    // every Wake().
    bool WaitFor(const std::function<bool()>& done, QDeadlineTimer deadline);
    void Wake();

    THXT& FGripper;
    TCliOutput& FOutput;
    const TCliOptions& FOptions;
    QPointer<QEventLoop> FLoop;
    bool FConnected = false;
    bool FInterrupted = false;
    bool FLinkLost = false;
    bool FFailed = false;
    bool FWatching = false;
    bool FClosing = false; // the disconnect is our own
    QString FLinkText;     // the cause of a lost link or a failed connect
    // raw: the command byte whose final answer is awaited, and that answer.
    std::optional<uint8_t> FRawAwaited;
    std::optional<TPacket> FRawFinal;
};
