#pragma once
// One gripper session behind krm::Gripper: the gripper object (THXT) on a
// link thread of its own, the requests marshalled to it, the motions this
// session started, the reports, and the latest reported state.
//
// Requests run on the link thread one after the other (TLinkThread); the
// caller waits for their result in slices (Completion) with a deadline and
// the interrupt check. Reports reach their handlers on a thread of their own
// (ReportDelivery), so no caller's code runs on the link thread.
#include "Completion.h"
#include "ConnectionParams.h"
#include "HXTForm.h"
#include "LinkThread.h"
#include "ReportDelivery.h"

#include <krm/krm.hpp>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace krm::detail {

// A motion started by this session. The link thread writes the fields below
// Result; callers only look at Result.
struct MotionState {
    MotionKind Kind = MotionKind::home;
    uint8_t Command = 0;
    std::string Name;
    SteadyClock::time_point Started{};
    Completion<MotionResult> Result;
    // Link thread only.
    bool FinalSeen = false;
    // Final answers of replaced motions with the same command byte that
    // arrive before this motion's own one.
    int StaleFinals = 0;
};

class Session {
public:
    // Longest wait for the link to come up when open() is given no timeout.
    static constexpr std::chrono::milliseconds OpenTimeout{10000};
    // Longest wait for a request's result when the call is given no
    // timeout; the link itself gives up on an answer after 3 s.
    static constexpr std::chrono::milliseconds RequestTimeout{10000};
    // Longest wait for the end of a motion sent STOP because its wait ran out.
    static constexpr std::chrono::milliseconds StopResultTimeout{5000};
    static constexpr std::chrono::milliseconds DefaultMotionTimeout{60000};
    // Periods of the reports asked for at open (only changed values).
    static constexpr int32_t ReportPeriodMs = 50;

    explicit Session(std::string connection);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the link and asks for reports; throws ConnectionError.
    void Open(const TConnectionParams& params, Timeout timeout, std::function<bool()> interrupted);
    void Close();
    bool IsOpen() const;
    const std::string& Connection() const { return FConnection; }

    // Runs `fn(THXT&)` on the link thread and returns its value (see the
    // file comment). Throws what `fn` throws, ConnectionError when the
    // session is closed or the link is down, TimeoutError when `timeout`
    // (default RequestTimeout) runs out, InterruptedError.
    template <class Fn> auto Request(const std::string& name, Timeout timeout, Fn fn) -> std::invoke_result_t<Fn, THXT&>;

    // Link thread: the exception for a request `name` with command byte
    // `cmd` that ended with `status`; `answersBefore` is Answers(cmd) from
    // before the request, `answerStatus` the status of its answer (-1: none
    // seen).
    [[noreturn]] void Fail(const std::string& name, uint8_t cmd, TStat status, uint32_t answersBefore,
        int answerStatus = -1);
    // Link thread: packets received so far with command byte `cmd`.
    uint32_t Answers(uint8_t cmd) const { return FAnswers[cmd]; }
    // Link thread: runs a typed request of the gripper object for `cmd`,
    // marking it as the awaited command (its answer is no report), and
    // throws through Fail for another status than success.
    template <class Op> void Run(const std::string& name, uint8_t cmd, Op op);

    // Sends a motion command (E_CMD_PENDING, then the final answer) and
    // returns its state once the gripper accepted it.
    std::shared_ptr<MotionState> StartMotion(MotionKind kind, const std::string& name, uint8_t cmd,
        const TByteArray& params, Timeout timeout);
    // Motion::wait and wait_for.
    MotionResult WaitMotion(MotionState& motion, Timeout timeout);
    std::optional<MotionResult> WaitMotionFor(MotionState& motion, std::chrono::milliseconds timeout);
    void CancelMotion(MotionState& motion, Timeout timeout);

    // The limits read at open (read again when that failed); LimitError when
    // they cannot be read.
    Limits CheckedLimits(const std::string& name);
    void StoreLimits(const Limits& limits);

    State LastState() const;
    std::uint64_t AddReportHandler(Gripper::ReportHandler handler);
    void RemoveReportHandler(std::uint64_t id);
    void SetInterruptCheck(std::function<bool()> check);
    void SetMotionTimeout(std::chrono::milliseconds timeout) { FMotionTimeoutMs = timeout.count(); }
    std::chrono::milliseconds MotionTimeout() const { return std::chrono::milliseconds(FMotionTimeoutMs.load()); }

private:
    template <class R> using Value = std::conditional_t<std::is_void_v<R>, std::monostate, R>;

    // Link thread.
    void CreateGripper(const std::shared_ptr<Completion<std::monostate>>& connected);
    // Stops a motion this session started (or is starting), ends the waits
    // of its motions and closes the link; runs as an interrupt of the link
    // thread, so a request waiting for its answer ends at once.
    void Abort();
    void EnsureUsable(const std::string& name) const;
    void Reported(Report::Kind kind, uint8_t cmd);
    void MotionFinal(const std::shared_ptr<MotionState>& motion, TStat status, const TByteArray& data);
    void FinishMotion(const std::shared_ptr<MotionState>& motion, TStat status, const TByteArray& data,
        SteadyClock::time_point end);
    void LinkLost(const std::string& cause);
    void FailMotions(const std::string& why);
    bool MotionRunning() const;
    std::string Advice(TStat status);
    void RequestReports();

    // Caller's thread.
    std::function<bool()> InterruptCheck() const;
    // Waits for `done`; on a deadline or an interrupt marks the request
    // abandoned and throws.
    template <class T>
    void Await(const std::string& name, Completion<T>& done, SteadyClock::time_point deadline,
        const std::shared_ptr<std::atomic_bool>& abandoned);
    // Sends STOP for a running motion of this session without waiting.
    void StopAfterInterrupt();
    [[noreturn]] void ThrowInterrupted(const std::string& name);

    const std::string FConnection;
    TLinkThread FLink;
    std::atomic_bool FClosed{false};
    std::atomic_bool FLinkUp{false};
    std::atomic<int64_t> FMotionTimeoutMs{DefaultMotionTimeout.count()};

    // Link thread only.
    THXT* FGripper = nullptr;
    std::vector<std::shared_ptr<MotionState>> FRunning;
    std::array<uint32_t, 256> FAnswers{};
    int FAwaited = -1;       // command byte of the typed request running now
    bool FStarting = false;  // a motion command waits for its first answer
    TByteArray FAwaitedAnswer; // result bytes of its last answer
    int FAwaitedStatus = -1;   // status of its last answer; -1 before one came
    std::string FLostCause;

    mutable std::mutex FMutex; // guards the members below
    State FLastState;
    std::optional<Limits> FLimits;
    std::function<bool()> FInterruptCheck;

    ReportDelivery FReports;
};

template <class Op> void Session::Run(const std::string& name, uint8_t cmd, Op op)
{
    const uint32_t before = FAnswers[cmd];
    const int outer = FAwaited;
    const int outerStatus = FAwaitedStatus;
    FAwaited = cmd;
    FAwaitedStatus = -1;
    const TStat status = op();
    const int answerStatus = FAwaitedStatus;
    FAwaited = outer;
    FAwaitedStatus = outerStatus;
    if (status != E_SUCCESS)
        Fail(name, cmd, status, before, answerStatus);
}

template <class T>
void Session::Await(const std::string& name, Completion<T>& done, SteadyClock::time_point deadline,
    const std::shared_ptr<std::atomic_bool>& abandoned)
{
    switch (done.Wait(deadline, InterruptCheck())) {
    case WaitEnd::Ready:
        return;
    case WaitEnd::Deadline:
        *abandoned = true;
        throw TimeoutError(name + ": no result within the timeout");
    case WaitEnd::Interrupted:
        *abandoned = true;
        ThrowInterrupted(name);
    }
}

template <class Fn> auto Session::Request(const std::string& name, Timeout timeout, Fn fn) -> std::invoke_result_t<Fn, THXT&>
{
    using R = std::invoke_result_t<Fn, THXT&>;
    if (FClosed)
        throw ConnectionError(name + ": the gripper is closed", "closed");
    auto done = std::make_shared<Completion<Value<R>>>();
    auto abandoned = std::make_shared<std::atomic_bool>(false);
    const auto deadline = SteadyClock::now() + timeout.value_or(RequestTimeout);
    const bool posted = FLink.Post([this, name, fn, done, abandoned] {
        if (*abandoned)
            return;
        try {
            EnsureUsable(name);
            if constexpr (std::is_void_v<R>) {
                fn(*FGripper);
                done->SetValue({});
            } else {
                done->SetValue(fn(*FGripper));
            }
        } catch (...) {
            done->SetError(std::current_exception());
        }
    });
    if (!posted)
        throw ConnectionError(name + ": the gripper is closed", "closed");
    Await(name, *done, deadline, abandoned);
    if constexpr (std::is_void_v<R>)
        done->Take();
    else
        return done->Take();
}

} // namespace krm::detail
