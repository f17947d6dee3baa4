#pragma once
// One gripper session behind krm::Gripper: the session engine on a link
// thread of its own, the caller's side of each request with its deadline and
// the interrupt check, the motion rule, the reports this session switched
// on, the packet observers, and the latest reported state.
//
// The motion rule: a motion (home, move, grasp, release, or a request with a
// motion's command byte) whose first answer does not come, whose caller's
// time runs out, or whose wait is interrupted is sent STOP, and STOP's answer
// is awaited for at most StopGrace beyond the caller's time (a further
// interrupt ends that wait). close() and the destructor do the same for a
// motion still under way. No call waits longer than its time plus StopGrace.
#include "Completion.h"
#include "ConnectionParams.h"
#include "Delivery.h"
#include "Engine.h"
#include "HXTForm.h"
#include "Inbox.h"
#include "LinkThread.h"
#include "PacketLogCsv.h"

#include <krm/krm.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace krm::detail {

// What is left of the time up to `deadline` (nothing once it passed).
inline std::chrono::milliseconds Remaining(SteadyClock::time_point deadline)
{
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()),
        std::chrono::milliseconds(0));
}

// The longest wait a clock is given: a century. Longer ones, krm::forever
// among them, wait that long, so no deadline overflows (adding StopGrace to
// it neither).
inline constexpr std::chrono::milliseconds LongestWait = std::chrono::hours(24 * 365 * 100);

// The time `wait` from now; a negative wait has run out already.
inline SteadyClock::time_point After(std::chrono::milliseconds wait)
{
    return SteadyClock::now() + std::clamp(wait, std::chrono::milliseconds(0), LongestWait);
}

// How STOP went, in words for error messages.
std::string StopText(const StopOutcome& stop);

// A motion started by this session.
struct MotionState {
    MotionKind Kind = MotionKind::home;
    std::string Name;
    std::shared_ptr<Exchange> Request;
    // Set once the motion ended (the final answer, or a failure).
    std::mutex Mutex;
    std::optional<MotionResult> Result;
    std::exception_ptr Error;
};

class Session {
public:
    // Longest wait for the link to come up when open() is given no timeout.
    static constexpr std::chrono::milliseconds OpenTimeout{10000};
    // Longest wait for a request's result when the call is given no
    // timeout; the engine itself gives up on an answer after 3 s.
    static constexpr std::chrono::milliseconds RequestTimeout{10000};
    // Longest wait for STOP's answer beyond the caller's time.
    static constexpr std::chrono::milliseconds StopGrace{1000};
    static constexpr std::chrono::milliseconds DefaultMotionTimeout{60000};
    static constexpr std::chrono::milliseconds MinReportPeriod{10};

    explicit Session(std::string connection);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the link, switches on the reports chosen and reads the limits;
    // throws ConnectionError. With options.reconnect, a lost link is made
    // again in the background (see krm::Reconnect).
    void Open(const TConnectionParams& params, const Options& options);
    void Close();
    bool IsOpen() const;
    LinkState LinkNow() const;
    void SetLinkHandler(LinkHandler handler);
    const std::string& Connection() const { return FConnection; }

    // Sends a request and returns its answer, whatever its status; for a
    // "pending" first answer, the final one. `motion`: the motion rule
    // applies. Throws ConnectionError, TimeoutError, InterruptedError, and
    // Error for a write the link refused.
    Answer Transact(const std::string& name, uint8_t command, TByteArray payload, Timeout timeout, bool motion);
    // A request that must be answered with success; StatusError otherwise.
    void Command(const std::string& name, uint8_t command, TByteArray payload, Timeout timeout);
    // A reading: success with exactly `length` result bytes; Error naming
    // both lengths otherwise.
    TByteArray Read(const std::string& name, uint8_t command, TByteArray payload, size_t length, Timeout timeout);

    // Sends a motion command and returns its state once the gripper
    // accepted it (or ended it at once). `deadline`: the caller's time, which
    // covers the start too.
    std::shared_ptr<MotionState> StartMotion(MotionKind kind, const std::string& name, uint8_t command,
        TByteArray payload, SteadyClock::time_point deadline);
    MotionResult WaitMotion(MotionState& motion, Timeout timeout);
    std::optional<MotionResult> WaitMotionFor(MotionState& motion, std::chrono::milliseconds timeout);
    void CancelMotion(MotionState& motion, Timeout timeout);
    bool MotionDone(MotionState& motion);
    SteadyClock::time_point MotionDeadline(Timeout timeout) const;

    // The limits read at open (read again when that failed); LimitError when
    // they cannot be read or are unusable.
    Limits CheckedLimits(const std::string& name);
    Limits ReadLimits(const std::string& name, Timeout timeout);

    void SetReports(const std::vector<Report::Kind>& kinds, std::chrono::milliseconds period, Timeout timeout);
    State LastState() const;
    std::uint64_t AddReportHandler(Gripper::ReportHandler handler) { return FReports.Add(std::move(handler)); }
    void RemoveReportHandler(std::uint64_t id) { FReports.Remove(id); }
    detail::Inboxes<Report>& ReportInboxes() { return FReportInboxes; }
    detail::Inboxes<Packet>& PacketInboxes() { return FPacketInboxes; }
    // Frames are looked for from now on (packet handlers or queues).
    void ObservePackets() { FEngine.SetObserving(true); }
    std::uint64_t AddPacketHandler(Gripper::PacketHandler handler);
    void RemovePacketHandler(std::uint64_t id) { FPackets.Remove(id); }
    void WritePacketLog(const std::string& path);
    std::uint64_t StrayAnswers() const { return FEngine.StrayCount(); }
    void SetNoticeHandler(NoticeHandler handler);
    // Link thread: a message of Qt's, as a notice (dropped without a handler).
    void QtMessage(Notice level, const std::string& text);
    void SetInterruptCheck(std::function<bool()> check);
    void SetMotionTimeout(std::chrono::milliseconds timeout) { FMotionTimeoutMs = timeout.count(); }
    std::chrono::milliseconds MotionTimeout() const { return std::chrono::milliseconds(FMotionTimeoutMs.load()); }
    // The check that ends the caller's waits (set_interrupt_check).
    std::function<bool()> InterruptCheck() const;

private:
    // Link thread.
    void Reported(uint8_t command, const TByteArray& value, Clock::time_point time);
    // The connection attempt under way or made last, and a new one.
    std::shared_ptr<Completion<std::monostate>> Attempt() const;
    std::shared_ptr<Completion<std::monostate>> StartConnect();
    // The reconnecting thread: after each loss, attempts with a growing
    // delay until one is made (Reconnected) or the session closes.
    void KeepLink(Reconnect policy);
    bool Reconnected();
    void TellLink(LinkState state, const std::string& text);
    // To the notice handler; without one, to standard error if `alwaysShown`.
    void Notify(Notice level, const std::string& text, bool alwaysShown = false);

    // Caller's thread.
    void EnsureOpen(const std::string& name) const;
    // The first answer of `request`, waited for until `deadline`. On the
    // deadline or an interrupt the request is given up on (a motion sent
    // STOP) and the call throws; so it does when no answer came.
    Reception AwaitFirst(const std::string& name, const std::shared_ptr<Exchange>& request,
        SteadyClock::time_point deadline);
    Reception AwaitFinal(const std::string& name, const std::shared_ptr<Exchange>& request,
        SteadyClock::time_point deadline);
    // The wait of both: `started` once the first answer came.
    Reception Await(const std::string& name, const std::shared_ptr<Exchange>& request, Completion<Reception>& answer,
        bool started, SteadyClock::time_point deadline);
    // Throws for an answer that did not come (as ConnectionError, TimeoutError or Error).
    [[noreturn]] void Failed(const std::string& name, const Reception& reception, bool motion,
        SteadyClock::time_point deadline);
    // Sends STOP for a motion given up on and waits for its answer, and then
    // for the end of `motion` if it had started, until StopGrace beyond
    // `deadline`; says how it went.
    StopOutcome GiveUp(const std::string& name, const std::string& why, SteadyClock::time_point deadline,
        const std::shared_ptr<Exchange>& motion);
    // GiveUp, then TimeoutError or InterruptedError with `text` and how STOP went.
    [[noreturn]] void GiveUpAndThrow(const std::string& name, const std::string& text, bool interrupted, bool answered,
        SteadyClock::time_point deadline, const std::shared_ptr<Exchange>& motion);
    std::string NoAnswerText() const;
    [[noreturn]] void ThrowStatus(const std::string& name, Status status);
    std::string Advice(Status status);
    MotionResult Finish(MotionState& motion, const Reception& final);
    void SwitchOffReports(SteadyClock::time_point deadline);

    const std::string FConnection;
    TLinkThread FLink;
    Engine FEngine{FLink};
    bool FCan = false;
    std::atomic_bool FClosed{false};
    std::atomic_bool FLinkUp{false};
    std::atomic<int64_t> FMotionTimeoutMs{DefaultMotionTimeout.count()};

    mutable std::mutex FMutex; // guards the members below
    State FLastState;
    std::optional<Limits> FLimits;
    std::function<bool()> FInterruptCheck;
    NoticeHandler FNotice;
    std::string FLostCause;
    std::set<uint8_t> FReportsOn; // report bytes this session switched on
    std::vector<Report::Kind> FReportKinds; // as last set, for a reconnect
    std::chrono::milliseconds FReportPeriod{0};
    std::shared_ptr<Completion<std::monostate>> FAttempt;
    LinkHandler FLinkHandler;
    std::uint64_t FLogHandler = 0;

    TConnectionParams FParams;
    std::mutex FReconnectMutex; // guards FLost, with FReconnectWake
    std::condition_variable FReconnectWake;
    bool FLost = false;
    std::thread FReconnector;

    Delivery<Report> FReports;
    Delivery<Packet> FPackets;
    Inboxes<Report> FReportInboxes;
    Inboxes<Packet> FPacketInboxes;
};

} // namespace krm::detail
