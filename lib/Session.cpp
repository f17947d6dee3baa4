#include "Session.h"

#include "HXT_commands.h"
#include "IniFile.h"
#include "MotionRequests.h"
#include "PacketLogPacket.h"
#include "convert.h"
#include "stat.h"

#include <QTemporaryDir>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <sstream>
#include <thread>

namespace krm::detail {

namespace {

// The devices keep their last parameters in small settings files. A
// library session has no use for them and must not write beside the
// caller's executable or into its working folder: they go to a private
// folder that is removed when the process ends.
void KeepSettingsPrivate()
{
    static QTemporaryDir folder;
    static const bool once = [] {
        SetSettingsFolderOverride(folder.path());
        return true;
    }();
    (void)once;
}

// The session whose link thread this is; set first thing on it.
thread_local Session* LinkSession = nullptr;
QtMessageHandler OtherMessages = nullptr;
// The open CAN sessions, the latest last: the CAN plug-ins speak on threads
// of their own.
std::mutex CanSessionsMutex;
std::vector<Session*> CanSessions;

// Qt's own messages of a session (on its link thread, and the CAN plug-ins'
// while a CAN session is open: a plug-in that cannot load its driver, the
// virtual bus's lines) are its notices, not lines on the program's standard
// error: they reach its notice handler (Python's logger "krm") or nobody.
// Other messages go where they went.
void RouteQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const std::string category = context.category ? context.category : "";
    const auto deliver = [&](Session& session) {
        session.QtMessage(type == QtDebugMsg || type == QtInfoMsg ? Notice::info : Notice::warning,
            "Qt: " + (category.empty() || category == "default" ? std::string() : category + ": ") + message.toStdString());
    };
    if (LinkSession) {
        deliver(*LinkSession);
        return;
    }
    if (category.rfind("qt.canbus", 0) == 0) {
        std::lock_guard lock(CanSessionsMutex);
        if (!CanSessions.empty()) {
            deliver(*CanSessions.back());
            return;
        }
    }
    if (OtherMessages)
        OtherMessages(type, context, message);
}

void InstallQtMessageRoute()
{
    static const bool once = [] {
        OtherMessages = qInstallMessageHandler(RouteQtMessage);
        return true;
    }();
    (void)once;
}

void KeepQtMessages(Session* session)
{
    InstallQtMessageRoute();
    LinkSession = session;
}

// How long a STOP given up on is waited for to reach the wire before the
// caller goes on (it goes first, so this is only a bound).
constexpr std::chrono::milliseconds StopWriteWait{200};

struct ReportByte {
    Report::Kind Kind;
    uint8_t Command;
};
constexpr ReportByte ReportBytes[] = {{Report::Kind::flags, CMD_GET_SYSTEM_STATE},
    {Report::Kind::grasping_state, CMD_GET_GRASPING_STATE}, {Report::Kind::position, CMD_GET_POS},
    {Report::Kind::speed, CMD_GET_SPEED}, {Report::Kind::force, CMD_GET_FORCE}};

uint8_t ReportCommand(Report::Kind kind)
{
    for (const auto& r : ReportBytes)
        if (r.Kind == kind)
            return r.Command;
    return CMD_GET_SYSTEM_STATE;
}

std::string StatusWords(Status status) { return status_name(status) + " (" + status_text(status) + ")"; }

SteadyClock::time_point DeadlineIn(Timeout timeout, std::chrono::milliseconds otherwise)
{
    return After(timeout.value_or(otherwise));
}

} // namespace

Session::Session(std::string connection) : FConnection(std::move(connection)) {}

Session::~Session() { Close(); }

void Session::Open(const TConnectionParams& params, const Options& options)
{
    FParams = params;
    SetInterruptCheck(options.interrupt_check);
    SetNoticeHandler(options.notice);
    FCan = std::holds_alternative<TCANParams>(params);
    if (FCan) {
        InstallQtMessageRoute();
        std::lock_guard lock(CanSessionsMutex);
        CanSessions.push_back(this);
    }
    const auto deadline = DeadlineIn(options.timeout, OpenTimeout);
    if (options.report_period < MinReportPeriod && !options.reports.empty())
        throw ConnectionError(FConnection + ": the report period must be at least 10 ms", "report period");
    FEngine.OnConnected = [this] {
        FLinkUp = true;
        Attempt()->SetValue({});
        Notify(Notice::info, FConnection + ": connected");
    };
    FEngine.OnLinkLost = [this](const std::string& cause) {
        if (const auto attempt = Attempt(); !attempt->Ready()) {
            attempt->SetError(std::make_exception_ptr(ConnectionError(FConnection + ": cannot connect: " + cause, cause)));
            return;
        }
        FLinkUp = false;
        {
            std::lock_guard lock(FMutex);
            FLostCause = cause;
        }
        Notify(Notice::warning, FConnection + ": " + cause);
        TellLink(LinkState::down, cause);
        if (FReconnector.joinable()) {
            std::lock_guard lock(FReconnectMutex);
            FLost = true;
            FReconnectWake.notify_all();
        }
    };
    FEngine.OnReport = [this](uint8_t command, const TByteArray& value, Clock::time_point time) { Reported(command, value, time); };
    FEngine.OnSeen = [this](const Seen& seen) {
        Packet packet;
        packet.direction = seen.Received ? Packet::Direction::received : Packet::Direction::sent;
        packet.command = seen.Command;
        packet.payload.assign(seen.Payload.begin(), seen.Payload.end());
        packet.time = seen.Time;
        packet.faults = seen.Faults;
        FPacketInboxes.Put(packet);
        FPackets.Deliver(packet);
    };
    FEngine.OnFirstStray = [this](uint8_t command) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", command);
        Notify(Notice::warning, FConnection + ": an answer (" + byte + " " + CommandName(command) +
                                    ") came while no request waited for it; most likely a second gripper answers on the same " +
                                    (FCan ? "CAN identifier" : "line") + " (further ones are only counted)",
            true);
    };
    const auto connected = StartConnect();
    try {
        switch (connected->Wait(deadline, InterruptCheck())) {
        case WaitEnd::Ready:
            connected->Take();
            break;
        case WaitEnd::Deadline:
            throw ConnectionError(FConnection + ": no connection within the timeout", "timeout");
        case WaitEnd::Interrupted:
            throw InterruptedError(FConnection + ": interrupted while connecting");
        }
        // The timeout bounds the whole open.
        try {
            if (!options.reports.empty())
                SetReports(options.reports, options.report_period, Remaining(deadline));
            if (options.read_limits)
                ReadLimits("open", Remaining(deadline));
        } catch (const TimeoutError&) {
            throw ConnectionError(FConnection + ": the gripper did not answer within the timeout", "no answer");
        } catch (const StatusError&) {
            // Refused reports or limits: the calls that need them tell.
        } catch (const LimitError&) {
        }
    } catch (...) {
        Close();
        throw;
    }
    if (options.reconnect)
        FReconnector = std::thread([this, policy = *options.reconnect] { KeepLink(policy); });
}

std::shared_ptr<Completion<std::monostate>> Session::Attempt() const
{
    std::lock_guard lock(FMutex);
    return FAttempt;
}

std::shared_ptr<Completion<std::monostate>> Session::StartConnect()
{
    auto attempt = std::make_shared<Completion<std::monostate>>();
    {
        std::lock_guard lock(FMutex);
        FAttempt = attempt;
    }
    const bool posted = FLink.Post([this, attempt] {
        KeepSettingsPrivate();
        KeepQtMessages(this);
        // What a lost link left behind goes first.
        FEngine.Release();
        const TStat status = FEngine.Connect(FParams);
        if (status != E_SUCCESS)
            attempt->SetError(std::make_exception_ptr(
                ConnectionError(FConnection + ": cannot connect: " + StatusText(status), StatusText(status))));
    });
    if (!posted)
        attempt->SetError(std::make_exception_ptr(ConnectionError(FConnection + ": the gripper is closed", "closed")));
    return attempt;
}

void Session::KeepLink(Reconnect policy)
{
    const auto first = std::max(policy.first_delay, std::chrono::milliseconds(0));
    const auto longest = std::max(policy.longest_delay, first);
    std::unique_lock lock(FReconnectMutex);
    for (;;) {
        FReconnectWake.wait(lock, [this] { return FClosed || FLost; });
        auto delay = first;
        while (!FClosed) {
            FLost = false;
            if (FReconnectWake.wait_for(lock, delay, [this] { return FClosed.load(); }))
                break;
            lock.unlock();
            const bool up = Reconnected();
            lock.lock();
            if (up)
                break;
            delay = std::min(delay * 2, longest);
        }
        if (FClosed)
            return;
    }
}

bool Session::Reconnected()
{
    const auto attempt = StartConnect();
    if (attempt->Wait(After(OpenTimeout), [this] { return FClosed.load(); }) != WaitEnd::Ready)
        return false;
    std::vector<Report::Kind> reports;
    std::chrono::milliseconds period{};
    {
        std::lock_guard lock(FMutex);
        reports = FReportKinds;
        period = FReportPeriod;
    }
    try {
        attempt->Take();
        // What the session had: the limits (the gripper may be another now)
        // and the reports.
        if (!reports.empty())
            SetReports(reports, period, Engine::AnswerTime);
        ReadLimits("reconnect", Engine::AnswerTime);
    } catch (const StatusError&) {
        // Refused reports or limits: the calls that need them tell.
    } catch (const LimitError&) {
    } catch (const Error&) {
        return false;
    }
    Notify(Notice::info, FConnection + ": the link is up again");
    TellLink(LinkState::up, "connected again");
    return true;
}

void Session::TellLink(LinkState state, const std::string& text)
{
    LinkHandler handler;
    {
        std::lock_guard lock(FMutex);
        handler = FLinkHandler;
    }
    if (handler)
        handler(state, text);
}

void Session::SetLinkHandler(LinkHandler handler)
{
    std::lock_guard lock(FMutex);
    FLinkHandler = std::move(handler);
}

LinkState Session::LinkNow() const
{
    if (FClosed)
        return LinkState::closed;
    return FLinkUp ? LinkState::up : LinkState::down;
}

void Session::Close()
{
    if (FClosed.exchange(true))
        return;
    // Requests still waiting end at once; a motion under way is stopped and
    // the reports switched on are switched off before the link closes.
    auto motion = std::make_shared<Completion<bool>>();
    FLink.Post([this, motion] {
        const bool underWay = FEngine.Connected() && FEngine.MotionUnderWay();
        FEngine.EndAll(Reply::Closed, "closed");
        motion->SetValue(underWay);
        if (underWay)
            Notify(Notice::info, FConnection + ": STOP sent: a motion was under way at close");
    });
    const auto deadline = SteadyClock::now() + StopGrace;
    if (motion->Wait(deadline, {}) == WaitEnd::Ready && motion->Take()) {
        auto stop = FEngine.Submit(CMD_STOP, {}, false);
        stop->First.Wait(deadline, {});
    }
    SwitchOffReports(deadline);
    FLink.Post([this] { FEngine.Release(); });
    FLink.Stop();
    FLinkUp = false;
    FReports.Stop();
    FPackets.Stop(true);
    if (FCan) {
        std::lock_guard lock(CanSessionsMutex);
        std::erase(CanSessions, this);
    }
    {
        std::lock_guard lock(FReconnectMutex);
        FReconnectWake.notify_all();
    }
    if (FReconnector.joinable())
        FReconnector.join();
}

void Session::SwitchOffReports(SteadyClock::time_point deadline)
{
    std::set<uint8_t> on;
    {
        std::lock_guard lock(FMutex);
        on.swap(FReportsOn);
    }
    std::vector<std::shared_ptr<Exchange>> offs;
    for (const uint8_t command : on)
        offs.push_back(FEngine.Submit(command, {0, 0, 0}, false));
    for (const auto& off : offs)
        off->First.Wait(deadline, {});
}

bool Session::IsOpen() const { return !FClosed && FLinkUp; }

void Session::Notify(Notice level, const std::string& text, bool alwaysShown)
{
    NoticeHandler handler;
    {
        std::lock_guard lock(FMutex);
        handler = FNotice;
    }
    if (handler)
        handler(level, text);
    else if (alwaysShown)
        std::fprintf(stderr, "krm: %s\n", text.c_str());
}

void Session::QtMessage(Notice level, const std::string& text) { Notify(level, FConnection + ": " + text); }

void Session::SetNoticeHandler(NoticeHandler handler)
{
    std::lock_guard lock(FMutex);
    FNotice = std::move(handler);
}

void Session::EnsureOpen(const std::string& name) const
{
    if (FClosed)
        throw ConnectionError(name + ": the gripper is closed", "closed");
}

std::string Session::NoAnswerText() const
{
    return std::string("no answer from the gripper within ") + std::to_string(Engine::AnswerTime.count() / 1000) + " s" +
           (FCan ? " (check the CAN identifier)" : "");
}

Reception Session::AwaitFirst(const std::string& name, const std::shared_ptr<Exchange>& request,
    SteadyClock::time_point deadline)
{
    return Await(name, request, request->First, false, deadline);
}

Reception Session::AwaitFinal(const std::string& name, const std::shared_ptr<Exchange>& request,
    SteadyClock::time_point deadline)
{
    return Await(name, request, request->Final, true, deadline);
}

Reception Session::Await(const std::string& name, const std::shared_ptr<Exchange>& request,
    Completion<Reception>& answer, bool started, SteadyClock::time_point deadline)
{
    const WaitEnd end = answer.Wait(deadline, InterruptCheck());
    if (end != WaitEnd::Ready) {
        FEngine.Abandon(request);
        const bool interrupted = end == WaitEnd::Interrupted;
        const std::string text =
            name + (interrupted ? ": interrupted" : started ? ": not finished within the timeout" : ": no answer within the timeout");
        if (request->Motion)
            GiveUpAndThrow(name, text, interrupted, started, deadline, request);
        if (interrupted)
            throw InterruptedError(text);
        throw TimeoutError(text);
    }
    Reception reception = answer.Take();
    if (reception.How != Reply::Answered)
        Failed(name, reception, request->Motion && !started, deadline);
    return reception;
}

void Session::Failed(const std::string& name, const Reception& reception, bool motion, SteadyClock::time_point deadline)
{
    switch (reception.How) {
    case Reply::Answered:
        break;
    case Reply::NoAnswer: {
        // The request may have reached the gripper and started the motion.
        const std::string text = name + ": " + NoAnswerText();
        if (motion)
            GiveUpAndThrow(name, text, false, false, deadline, nullptr);
        throw TimeoutError(text);
    }
    case Reply::WriteFailed:
        throw Error(name + ": not sent: the link did not take the request (" + reception.Cause + ")");
    case Reply::Closed:
        throw ConnectionError(name + ": the gripper is closed", "closed");
    case Reply::LinkDown: {
        std::string cause;
        {
            std::lock_guard lock(FMutex);
            cause = FLostCause;
        }
        if (cause.empty())
            cause = reception.Cause.empty() ? "the link is down" : reception.Cause;
        throw ConnectionError(name + ": " + cause, cause);
    }
    }
    throw Error(name + ": no answer");
}

StopOutcome Session::GiveUp(const std::string& name, const std::string& why, SteadyClock::time_point deadline,
    const std::shared_ptr<Exchange>& motion)
{
    auto stop = FEngine.Submit(CMD_STOP, {}, false);
    Notify(Notice::info, FConnection + ": " + name + ": " + why + "; STOP sent");
    // On the wire before the caller hears of the interrupt: it goes ahead
    // of everything else, so this takes microseconds.
    const auto written = SteadyClock::now() + StopWriteWait;
    while (!stop->Sent && !stop->First.Ready() && SteadyClock::now() < written)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    // A further interrupt ends the wait for STOP's answer.
    const auto until = std::max(deadline, SteadyClock::now()) + StopGrace;
    switch (stop->First.Wait(until, InterruptCheck())) {
    case WaitEnd::Ready:
        break;
    case WaitEnd::Deadline:
        return {StopOutcome::Kind::unanswered};
    case WaitEnd::Interrupted:
        return {StopOutcome::Kind::not_awaited};
    }
    const Reception answer = stop->First.Take();
    switch (answer.How) {
    case Reply::Answered:
        if (answer.Short || answer.Status != E_SUCCESS)
            return {StopOutcome::Kind::refused, answer.Short ? Status::cmd_format_error : static_cast<Status>(answer.Status)};
        // A motion that had started ends with its final answer, within the
        // same time.
        if (motion && motion->First.Ready() && motion->First.Take().Status == E_CMD_PENDING)
            motion->Final.Wait(until, InterruptCheck());
        return {StopOutcome::Kind::answered};
    case Reply::NoAnswer:
        return {StopOutcome::Kind::unanswered};
    case Reply::WriteFailed:
    case Reply::LinkDown:
    case Reply::Closed:
        break;
    }
    return {StopOutcome::Kind::not_sent};
}

std::string StopText(const StopOutcome& stop)
{
    switch (stop.kind) {
    case StopOutcome::Kind::answered:
        return "STOP sent and answered";
    case StopOutcome::Kind::refused:
        return "STOP sent but refused: " + StatusWords(stop.status);
    case StopOutcome::Kind::unanswered:
        return "STOP sent, no answer to it";
    case StopOutcome::Kind::not_awaited:
        return "STOP sent, its answer not awaited (interrupted again)";
    case StopOutcome::Kind::not_sent:
        break;
    }
    return "STOP could not be sent";
}

void Session::GiveUpAndThrow(const std::string& name, const std::string& text, bool interrupted, bool answered,
    SteadyClock::time_point deadline, const std::shared_ptr<Exchange>& motion)
{
    const StopOutcome stop = GiveUp(name, interrupted ? "interrupted" : answered ? "not finished" : "no answer", deadline, motion);
    if (interrupted)
        throw MotionInterruptedError(text + "; " + StopText(stop), stop);
    throw MotionTimeoutError(text + "; " + StopText(stop), answered, stop);
}

Answer Session::Transact(const std::string& name, uint8_t command, TByteArray payload, Timeout timeout, bool motion)
{
    EnsureOpen(name);
    const auto deadline = motion ? MotionDeadline(timeout) : DeadlineIn(timeout, RequestTimeout);
    // An ordinary request may be sent and answered on this thread; a motion,
    // whose end comes much later, goes by the link thread.
    const auto request = motion ? FEngine.Submit(command, std::move(payload), true)
                                : FEngine.Submit(command, std::move(payload), false,
                                      std::min(deadline, SteadyClock::now() + WaitSlice));
    const Reception first = AwaitFirst(name, request, deadline);
    Answer answer;
    if (first.Short)
        throw Error(name + ": the gripper's answer carries no status word");
    answer.status = static_cast<Status>(first.Status);
    answer.data.assign(first.Data.begin(), first.Data.end());
    answer.duration = first.Time - request->SentAt;
    if (first.Status != E_CMD_PENDING)
        return answer;
    const Reception final = AwaitFinal(name, request, deadline);
    if (final.Short)
        throw Error(name + ": the gripper's final answer carries no status word");
    answer.pending = true;
    answer.status = static_cast<Status>(final.Status);
    answer.data.assign(final.Data.begin(), final.Data.end());
    answer.duration = final.Time - request->SentAt;
    return answer;
}

void Session::Command(const std::string& name, uint8_t command, TByteArray payload, Timeout timeout)
{
    const Answer answer = Transact(name, command, std::move(payload), timeout, false);
    if (!answer.ok())
        ThrowStatus(name, answer.status);
}

TByteArray Session::Read(const std::string& name, uint8_t command, TByteArray payload, size_t length, Timeout timeout)
{
    const Answer answer = Transact(name, command, std::move(payload), timeout, false);
    if (!answer.ok())
        ThrowStatus(name, answer.status);
    if (answer.data.size() != length)
        throw Error(name + ": " + AnswerLengthFault(answer.data.size(), length));
    return TByteArray(answer.data.begin(), answer.data.end());
}

void Session::ThrowStatus(const std::string& name, Status status) { throw StatusError(name, status, Advice(status)); }

std::string Session::Advice(Status status)
{
    // The cause depends on the gripper's state: asked for now, as a report
    // of a change may still be under way.
    const auto flags = [this] {
        try {
            const TByteArray word = Read("state", CMD_GET_SYSTEM_STATE, {}, 4, {});
            return static_cast<std::uint32_t>(IntAt(word.data()));
        } catch (const Error&) {
            return std::uint32_t{0};
        }
    };
    switch (status) {
    case Status::access_denied:
        if ((flags() & flags::fast_stop) != 0)
            return "acknowledge the fast stop first";
        break;
    case Status::not_initialized:
        if ((flags() & flags::referenced) == 0)
            return "home the gripper first";
        break;
    case Status::cmd_unknown:
        return "the gripper does not know this command";
    case Status::range_error:
        return "a value is outside the range the gripper takes";
    default:
        break;
    }
    return {};
}

SteadyClock::time_point Session::MotionDeadline(Timeout timeout) const
{
    return DeadlineIn(timeout, MotionTimeout());
}

std::shared_ptr<MotionState> Session::StartMotion(MotionKind kind, const std::string& name, uint8_t command,
    TByteArray payload, SteadyClock::time_point deadline)
{
    EnsureOpen(name);
    auto motion = std::make_shared<MotionState>();
    motion->Kind = kind;
    motion->Name = name;
    motion->Request = FEngine.Submit(command, std::move(payload), true);
    const Reception first = AwaitFirst(name, motion->Request, deadline);
    if (first.Short)
        throw Error(name + ": the gripper's answer carries no status word");
    if (first.Status == E_CMD_PENDING)
        return motion;
    if (first.Status != E_SUCCESS)
        ThrowStatus(name, static_cast<Status>(first.Status));
    // Done at once: the immediate answer is the final one.
    Finish(*motion, first);
    return motion;
}

MotionResult Session::Finish(MotionState& motion, const Reception& final)
{
    MotionResult result;
    result.kind = motion.Kind;
    result.status = static_cast<Status>(final.Status);
    result.duration = final.Time - motion.Request->SentAt;
    result.data.assign(final.Data.begin(), final.Data.end());
    if (motion.Kind != MotionKind::raw) {
        try {
            result.position = SingleAt(Read(motion.Name, CMD_GET_POS, {}, 4, {}).data());
        } catch (const Error&) {
            // The motion's end is what counts; the position stays unknown.
            result.position = std::numeric_limits<double>::quiet_NaN();
        }
    }
    std::lock_guard lock(motion.Mutex);
    motion.Result = result;
    return result;
}

bool Session::MotionDone(MotionState& motion)
{
    {
        std::lock_guard lock(motion.Mutex);
        if (motion.Result || motion.Error)
            return true;
    }
    return motion.Request->Final.Ready();
}

MotionResult Session::WaitMotion(MotionState& motion, Timeout timeout)
{
    {
        std::lock_guard lock(motion.Mutex);
        if (motion.Result)
            return *motion.Result;
        if (motion.Error)
            std::rethrow_exception(motion.Error);
    }
    try {
        return Finish(motion, AwaitFinal(motion.Name, motion.Request, MotionDeadline(timeout)));
    } catch (const ConnectionError&) {
        std::lock_guard lock(motion.Mutex);
        motion.Error = std::current_exception();
        throw;
    }
}

std::optional<MotionResult> Session::WaitMotionFor(MotionState& motion, std::chrono::milliseconds timeout)
{
    {
        std::lock_guard lock(motion.Mutex);
        if (motion.Result)
            return motion.Result;
    }
    switch (motion.Request->Final.Wait(After(timeout), InterruptCheck())) {
    case WaitEnd::Ready:
        return WaitMotion(motion, timeout);
    case WaitEnd::Interrupted:
        FEngine.Abandon(motion.Request);
        GiveUpAndThrow(motion.Name, motion.Name + ": interrupted", true, true, SteadyClock::now(), motion.Request);
    case WaitEnd::Deadline:
        break;
    }
    return std::nullopt;
}

void Session::CancelMotion(MotionState& motion, Timeout timeout)
{
    if (MotionDone(motion))
        return;
    Command("cancel", CMD_STOP, {}, timeout);
}

Limits Session::ReadLimits(const std::string& name, Timeout timeout)
{
    TSystemLimits l;
    DecodeSystemLimits(Read(name, CMD_GET_SYSTEM_LIMITS, {}, 32, timeout), l);
    if (const std::string fault = LimitsFault(l); !fault.empty())
        throw LimitError(name + ": the gripper's limits are unusable: " + fault);
    const Limits limits{l.Stroke, l.MinSpeed, l.MaxSpeed, l.MinAcceleration, l.MaxAcceleration, l.MinForce, l.MaxForce, l.Extra};
    std::lock_guard lock(FMutex);
    FLimits = limits;
    return limits;
}

Limits Session::CheckedLimits(const std::string& name)
{
    {
        std::lock_guard lock(FMutex);
        if (FLimits)
            return *FLimits;
    }
    try {
        return ReadLimits(name, {});
    } catch (const InterruptedError&) {
        throw;
    } catch (const LimitError& error) {
        throw LimitError(std::string(error.what()) + ", so the values cannot be checked; nothing was sent");
    } catch (const Error& error) {
        throw LimitError(name + ": the gripper's limits could not be read (" + error.what() +
                         "), so the values cannot be checked; nothing was sent");
    }
}

void Session::SetReports(const std::vector<Report::Kind>& kinds, std::chrono::milliseconds period, Timeout timeout)
{
    if (!kinds.empty() && (period < MinReportPeriod || period.count() > 0xFFFF))
        throw Error("set_reports: the period must be 10 to 65535 ms");
    const auto deadline = DeadlineIn(timeout, RequestTimeout);
    const auto left = [deadline] { return Remaining(deadline); };
    std::set<uint8_t> wanted;
    for (const auto kind : kinds)
        wanted.insert(ReportCommand(kind));
    std::set<uint8_t> on;
    {
        std::lock_guard lock(FMutex);
        on = FReportsOn;
    }
    // Enabled, only when changed, every `period`.
    const auto ms = static_cast<uint16_t>(period.count());
    for (const uint8_t command : wanted) {
        Command("set_reports", command, {0x03, static_cast<uint8_t>(ms & 0xFF), static_cast<uint8_t>(ms >> 8)}, left());
        std::lock_guard lock(FMutex);
        FReportsOn.insert(command);
    }
    for (const uint8_t command : on) {
        if (wanted.count(command))
            continue;
        Command("set_reports", command, {0, 0, 0}, left());
        std::lock_guard lock(FMutex);
        FReportsOn.erase(command);
    }
    std::lock_guard lock(FMutex);
    FReportKinds = kinds;
    FReportPeriod = period;
}

void Session::Reported(uint8_t command, const TByteArray& value, Clock::time_point time)
{
    Report report;
    {
        std::lock_guard lock(FMutex);
        State& s = FLastState;
        // A report of another length than its value's is no report.
        switch (command) {
        case CMD_GET_SYSTEM_STATE:
            if (value.size() != 4)
                return;
            report.kind = Report::Kind::flags;
            s.flags = static_cast<std::uint32_t>(IntAt(value.data()));
            s.flags_time = time;
            break;
        case CMD_GET_GRASPING_STATE:
            if (value.size() != 1)
                return;
            report.kind = Report::Kind::grasping_state;
            s.grasping_state = static_cast<GraspingState>(value[0]);
            s.grasping_state_time = time;
            break;
        default: {
            if (value.size() != 4)
                return;
            const double v = SingleAt(value.data());
            if (command == CMD_GET_POS) {
                report.kind = Report::Kind::position;
                s.position = v;
                s.position_time = time;
            } else if (command == CMD_GET_SPEED) {
                report.kind = Report::Kind::speed;
                s.speed = v;
                s.speed_time = time;
            } else {
                report.kind = Report::Kind::force;
                s.force = v;
                s.force_time = time;
            }
        }
        }
        report.time = time;
        report.flags = s.flags;
        report.grasping_state = s.grasping_state;
        report.position = s.position;
        report.speed = s.speed;
        report.force = s.force;
    }
    FReportInboxes.Put(report);
    FReports.Deliver(report);
}

State Session::LastState() const
{
    std::lock_guard lock(FMutex);
    return FLastState;
}

std::uint64_t Session::AddPacketHandler(Gripper::PacketHandler handler)
{
    const auto id = FPackets.Add(std::move(handler));
    ObservePackets();
    return id;
}

void Session::WritePacketLog(const std::string& path)
{
    std::unique_ptr<TPacketLogFile> file;
    if (!path.empty()) {
        file = std::make_unique<TPacketLogFile>();
        QString error;
        if (!file->Open(QString::fromStdString(path), error))
            throw Error("write_packet_log: cannot write \"" + path + "\": " + error.toStdString());
        file->MarkConnected();
    }
    std::uint64_t old = 0;
    {
        std::lock_guard lock(FMutex);
        old = std::exchange(FLogHandler, 0);
    }
    if (old != 0)
        FPackets.Remove(old);
    if (!file)
        return;
    std::shared_ptr<TPacketLogFile> log(std::move(file));
    const auto id = AddPacketHandler([log](const Packet& packet) { WritePacketRow(*log, packet); });
    std::lock_guard lock(FMutex);
    FLogHandler = id;
}

void Session::SetInterruptCheck(std::function<bool()> check)
{
    std::lock_guard lock(FMutex);
    FInterruptCheck = std::move(check);
}

std::function<bool()> Session::InterruptCheck() const
{
    std::lock_guard lock(FMutex);
    return FInterruptCheck;
}

} // namespace krm::detail
