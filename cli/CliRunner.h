#pragma once
// Runs the steps of krm-cli over one connection: connects, reads the system
// limits once and checks every value against them, runs the commands in
// order and prints their results, and tells the exit status.
//
// The runner makes its own requests through the gripper object's dispatcher
// and takes the answers from the gripper object's packet sink, so that every
// wait is its own: it ends at once on an interrupt, a lost link or lost
// output, and --timeout bounds it. All waiting happens in nested event loops
// on the main thread.
//
// Whoever gives up on a motion that may be running stops it first: a motion
// request (home, goto, grasp, release, raw with a motion's command byte)
// whose first answer does not come, whose final result does not come within
// --timeout, or that is interrupted, gets STOP before the run goes on or
// ends. STOP's answer is awaited for what remains of --timeout plus at most
// StopGraceMs; a further termination signal ends that wait at once.
#include "CliCommand.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "DeviceComponent.h"
#include "HXTForm.h"
#include "ValueLimits.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <optional>
#include <set>

class QEventLoop;

enum TCliExit : int {
    ExitSuccess = 0,
    ExitCommandFailed = 1, // also: interrupted, or output lost
    ExitUsage = 2,
    ExitConnection = 3, // also: a value that cannot be checked without the limits
};

class TCliRunner : public QObject {
    Q_OBJECT
public:
    TCliRunner(THXT& gripper, TCliOutput& output, const TCliOptions& options, QObject* parent = nullptr);

    // Connects, runs the program, disconnects; the exit status.
    int Run();

    // A termination signal came (CliSignals.h counts them): the run ends
    // wherever it is, a motion that may be running after a STOP.
    void Interrupt();
    // A write to standard output or to the packet log failed: the run ends
    // as on an interrupt, with `text` as its only message.
    void OutputFailed(const QString& text);
    // A transport's report: a lost link (or any error while connecting)
    // ends the run with ExitConnection; other errors are shown.
    void TransportReport(TTransportReport kind, const QString& text);
    // Every packet the gripper object sends or receives (its packet sink):
    // answers to the runner's requests, reports for watch.
    void PacketSeen(bool received, const TPacket& packet);
    // Fired once the transport reports itself connected (the packet log's
    // times since connect start there).
    std::function<void()> OnConnected;

    // Longest wait for the transport to report itself connected.
    static constexpr int ConnectTimeoutMs = 10000;
    // Longest wait for an answer (--timeout may make it shorter).
    static constexpr int AnswerTimeoutMs = static_cast<int>(THXT::AnswerTimeoutMs);
    // Longest wait beyond --timeout for STOP's answer and the stopped
    // motion's final result.
    static constexpr int StopGraceMs = 1000;

private:
    enum class TFlow { Next, End };
    enum class TWait {
        Run,  // ends on an interrupt, lost output or a lost link
        Stop, // while stopping: ends only on a further signal or a lost link
    };
    struct TAnswer {
        bool Arrived = false;
        TStat Status = E_CMD_FAILED;
        TByteArray Payload;
    };

    int Session();
    bool Connect();
    void Close();
    void ReadLimits();
    TFlow RunSteps(const TCliProgram& steps);
    TFlow RunStdin(const QString& where);
    TFlow RunCommand(const TCliCommand& command);
    TCliResult Execute(const TCliCommand& command);

    TCliResult Get(const TCliCommand& command, uint8_t cmd, const TByteArray& payload, size_t length,
        const std::function<std::vector<TCliField>(const TByteArray&)>& fields);
    TCliResult Set(const TCliCommand& command, uint8_t cmd, const TByteArray& payload);
    TCliResult State(const TCliCommand& command);
    TCliResult Motion(const TCliCommand& command, uint8_t cmd, const TByteArray& payload);
    TCliResult Watch(const TCliCommand& command);
    TCliResult Raw(const TCliCommand& command);
    TCliResult Wait(const TCliCommand& command);

    // Sends a request and waits for the next packet with its command byte
    // until `deadline` (at most AnswerTimeoutMs).
    TAnswer Request(uint8_t cmd, const TByteArray& payload, QDeadlineTimer deadline, TWait mode = TWait::Run);
    // After the pending answer of motion `cmd`: waits for its final result.
    std::optional<TStat> AwaitFinal(uint8_t cmd, QDeadlineTimer deadline);
    // Gives up on the motion `cmd` (its final result awaited if `pending`):
    // STOP first, then the status the command ends with.
    TStat GiveUp(const TCliCommand& command, uint8_t cmd, bool pending, QDeadlineTimer deadline, const QString& why);
    // The finger position after a motion, for JSON ("Position", or "Width").
    void AddFinalPosition(TCliResult& result, const QString& name);
    void PrintReport(const TPacket& packet);

    // Whether the run must end now: a termination signal came, output was
    // lost or the link was lost.
    bool Ending() const;
    bool Interrupted() const;
    // Runs the event loop until `done` holds, the deadline passes, or the
    // wait ends by `mode`; `done` is looked at again after every Wake().
    bool WaitFor(const std::function<bool()>& done, QDeadlineTimer deadline, TWait mode = TWait::Run);
    void Wake();
    std::optional<TPacket> Take(uint8_t cmd);
    QDeadlineTimer AnswerDeadline() const;

    THXT& FGripper;
    TCliOutput& FOutput;
    const TCliOptions& FOptions;
    TCliLimits FLimits;
    QPointer<QEventLoop> FLoop;
    bool FConnected = false;
    bool FLinkLost = false;
    bool FFailed = false;
    bool FWatching = false;
    bool FClosing = false; // the disconnect is our own
    bool FOutputLost = false;
    QString FOutputFailure;
    int FSignalsAtStop = 0; // termination signals seen when a STOP was sent
    std::optional<int> FExit; // a fault found while the run goes on (a line of standard input)
    QString FLinkText;     // the cause of a lost link or a failed connect
    // The command bytes whose packets are kept for the running request, and
    // those packets in arrival order.
    std::set<uint8_t> FAwaited;
    std::deque<TPacket> FReceived;
};
