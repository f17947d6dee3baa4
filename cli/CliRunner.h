#pragma once
// Runs the steps of krm-cli over one session of the gripper library
// (krm::Gripper): connects, reads the system limits when a command needs them
// and checks every value against them, runs the commands in order and prints
// their results, and tells the exit status.
//
// The library makes every request and applies its rules: a motion request
// (home, goto, grasp, release, raw with a motion's command byte) whose first
// answer does not come, whose final result does not come within --timeout,
// or that is interrupted, gets STOP, and STOP's answer is awaited for what
// remains of --timeout plus at most a second; a further termination signal
// ends that wait at once. Each call gives up on an interrupt, lost output or
// a lost link. The runner waits in event loops of its own only where it waits
// for standard input, for `wait` and while `watch` prints reports.
#include "CliCommand.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "ValueLimits.h"

#include <krm/krm.hpp>

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

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
    TCliRunner(TCliOutput& output, const TCliOptions& options, QObject* parent = nullptr);
    ~TCliRunner() override;

    // Connects, runs the program, disconnects; the exit status.
    int Run();

    // A termination signal came (CliSignals.h counts them): the run ends
    // wherever it is, a motion that may be running after a STOP.
    void Interrupt();
    // A write to standard output or to the packet log failed: the run ends
    // as on an interrupt, with `text` as its only message. Any thread.
    void OutputFailed(const QString& text);
    // Every frame on the link (the library's packet observer), on the
    // library's handlers' thread: the packet log takes them.
    std::function<void(const krm::Packet& packet)> OnPacket;
    // Fired once the link stands (the packet log's times since connect
    // start there).
    std::function<void()> OnConnected;

    // Longest wait for the link.
    static constexpr int ConnectTimeoutMs = 10000;
    // Longest wait for an answer (--timeout may make it shorter).
    static constexpr int AnswerTimeoutMs = 3000;

private:
    enum class TFlow { Next, End };
    // What came back for one request.
    struct TAnswer {
        bool Arrived = false;
        TStat Status = E_CMD_FAILED;
        TByteArray Payload;
        bool Pending = false; // a final answer followed a "pending" one
        QString Failure;      // why nothing usable came, when not arrived
        QString FailureName = QStringLiteral("NO_ANSWER");
    };

    int Session();
    bool Connect();
    void Close();
    // Reads the limits once; false when the run must end.
    bool EnsureLimits(const TCliProgram& steps);
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
    // The result of a request that brought no usable answer.
    TCliResult Unanswered(const TCliCommand& command, const TAnswer& answer);

    // Sends a request through the library and waits up to `timeout`; once
    // the run ends, only when `closing` (switching watch's reports off).
    TAnswer Request(const TCliCommand& command, uint8_t cmd, const TByteArray& payload, std::chrono::milliseconds timeout,
        bool closing = false);
    // The words for a missing answer: "no answer from the gripper within 3 s".
    QString NoAnswerText() const;
    void AddFinalPosition(TCliResult& result, const QString& name);
    void PrintReport(const krm::Report& report);
    // The value an answer that switched a report on carries, printed as
    // a report.
    void PrintAnswerValue(uint8_t cmd, const TByteArray& value);
    void PrintFields(uint8_t cmd, std::chrono::system_clock::time_point time, const std::vector<TCliField>& fields);
    // Finds out why the link went down (watch and waits see it so).
    void LinkDown();

    bool Ending() const;
    bool Interrupted() const;
    // The library's interrupt check: true once for each termination signal
    // and for lost output.
    bool NewInterrupt();
    // Runs the event loop until `done` holds, the deadline passes, or the
    // run ends; `done` is looked at again after every Wake().
    bool WaitFor(const std::function<bool()>& done, QDeadlineTimer deadline);
    void Wake();
    std::chrono::milliseconds AnswerTimeout() const;
    std::chrono::milliseconds MotionTimeout() const;

    TCliOutput& FOutput;
    const TCliOptions& FOptions;
    std::optional<krm::Gripper> FGripper;
    std::optional<TCliLimits> FLimits; // read when a command needs them
    QPointer<QEventLoop> FLoop;
    bool FConnected = false;
    bool FLinkLost = false;
    bool FFailed = false;
    bool FWatching = false;
    std::atomic_bool FOutputLost{false};
    mutable std::mutex FOutputMutex;
    QString FOutputFailure; // guarded by FOutputMutex
    // Termination signals the library's waits have seen (a further one ends
    // the wait for STOP's answer), and whether they saw the lost output.
    int FSignalsSeen = 0;
    bool FOutputLostSeen = false;
    std::optional<int> FExit; // a fault found while the run goes on (a line of standard input)
    QString FLinkText;     // the cause of a lost link or a failed connect
};
