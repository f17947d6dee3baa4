#include "Session.h"

#include "HXT_commands.h"
#include "IniFile.h"
#include "stat.h"

#include <QTemporaryDir>

#include <algorithm>

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

Clock::time_point Now() { return Clock::now(); }

std::string Text(const QString& text) { return text.toStdString(); }

} // namespace

Session::Session(std::string connection) : FConnection(std::move(connection)) {}

Session::~Session() { Close(); }

void Session::Open(const TConnectionParams& params, Timeout timeout, std::function<bool()> interrupted)
{
    SetInterruptCheck(std::move(interrupted));
    auto connected = std::make_shared<Completion<std::monostate>>();
    FLink.Post([this, params, connected] {
        CreateGripper(connected);
        const TStat status = FGripper->Connect(params);
        if (status != E_SUCCESS)
            connected->SetError(std::make_exception_ptr(
                ConnectionError(FConnection + ": cannot connect: " + StatusText(status), StatusText(status))));
    });
    const auto deadline = SteadyClock::now() + timeout.value_or(OpenTimeout);
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
        // The timeout bounds the whole open: the requests below wait for
        // their answers up to 3 s each, and a peer that takes the connection
        // but never answers would make them add up.
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        try {
            Request("open", std::max(remaining, std::chrono::milliseconds(0)), [this](THXT& gripper) {
                RequestReports();
                TSystemLimits limits;
                if (gripper.GetSystemLimits(limits) == E_SUCCESS)
                    StoreLimits({limits.Stroke, limits.MinSpeed, limits.MaxSpeed, limits.MinAcceleration,
                        limits.MaxAcceleration, limits.MinForce, limits.MaxForce, limits.Extra});
            });
        } catch (const TimeoutError&) {
            throw ConnectionError(FConnection + ": the gripper did not answer within the timeout", "no answer");
        }
    } catch (...) {
        Close();
        throw;
    }
}

void Session::CreateGripper(const std::shared_ptr<Completion<std::monostate>>& connected)
{
    KeepSettingsPrivate();
    FGripper = new THXT;
    // The link thread's ticker wakes its event loop.
    FGripper->SetWokenFromOutside(true);
    FGripper->OnConnect = [this, connected](QObject*) {
        FLinkUp = true;
        FLostCause.clear();
        connected->SetValue({});
    };
    FGripper->OnDisconnect = [this](QObject*) { FLinkUp = false; };
    FGripper->OnTransportReport = [this, connected](QObject*, TTransportReport kind, const QString& text) {
        if (kind == TTransportReport::LinkLost)
            LinkLost(Text(text));
        else if (!connected->Ready())
            connected->SetError(std::make_exception_ptr(ConnectionError(FConnection + ": cannot connect: " + Text(text), Text(text))));
    };
    FGripper->OnSystemState = [this](QObject*) { Reported(Report::Kind::flags, CMD_GET_SYSTEM_STATE); };
    FGripper->OnGraspingState = [this](QObject*) { Reported(Report::Kind::grasping_state, CMD_GET_GRASPING_STATE); };
    FGripper->OnPosition = [this](QObject*) { Reported(Report::Kind::position, CMD_GET_POS); };
    FGripper->OnSpeed = [this](QObject*) { Reported(Report::Kind::speed, CMD_GET_SPEED); };
    FGripper->OnForce = [this](QObject*) { Reported(Report::Kind::force, CMD_GET_FORCE); };
    FGripper->PacketLog = [this](const TPacket& packet, bool received) {
        if (!received)
            return;
        const auto cmd = static_cast<uint8_t>(packet.command & 0xFF);
        ++FAnswers[cmd];
        if (cmd == FAwaited && packet.ValidLength() >= 2) {
            FAwaitedStatus = packet.data[0];
            FAwaitedAnswer.assign(packet.data.begin() + 2, packet.data.begin() + packet.ValidLength());
        }
    };
}

void Session::RequestReports()
{
    // Only changed values are reported, so an idle gripper sends nothing.
    // Speed and force reports are given by some grippers only.
    FGripper->AutoUpdateSystemState(true, ReportPeriodMs, true);
    FGripper->AutoUpdateGraspingState(true, ReportPeriodMs, true);
    FGripper->AutoUpdatePosition(true, ReportPeriodMs, true);
    FGripper->AutoUpdateSpeed(true, ReportPeriodMs, true);
    FGripper->AutoUpdateForce(true, ReportPeriodMs, true);
}

void Session::Close()
{
    if (FClosed.exchange(true))
        return;
    // Requests still waiting for their answers are not waited for: the link
    // closes under them, which ends their waits at once.
    FLink.Interrupt([this] { Abort(); });
    FLink.Post([this] {
        delete FGripper;
        FGripper = nullptr;
    });
    FLink.Stop();
    FReports.Stop();
}

void Session::Abort()
{
    if (!FGripper)
        return;
    // Whoever leaves a motion running stops it first.
    if ((MotionRunning() || FStarting) && FGripper->IsConnected())
        FGripper->Stop();
    FailMotions("the gripper was closed");
    FGripper->OnDisconnect = nullptr;
    FGripper->OnTransportReport = nullptr;
    FGripper->Disconnect();
    FLinkUp = false;
}

bool Session::IsOpen() const { return !FClosed && FLinkUp; }

void Session::EnsureUsable(const std::string& name) const
{
    if (!FGripper || FClosed)
        throw ConnectionError(name + ": the gripper is closed", "closed");
    if (!FGripper->IsConnected()) {
        const std::string cause = FLostCause.empty() ? "the link is down" : FLostCause;
        throw ConnectionError(name + ": " + cause, cause);
    }
}

void Session::Fail(const std::string& name, uint8_t cmd, TStat status, uint32_t answersBefore, int answerStatus)
{
    if (!FGripper->IsConnected()) {
        const std::string cause = FLostCause.empty() ? "the link is down" : FLostCause;
        throw ConnectionError(name + ": " + cause, cause);
    }
    if (FGripper->LastTransactionRefused())
        throw Error(name + ": too many requests are waiting for their answers");
    if (status == E_CMD_FAILED && FAnswers[cmd] == answersBefore)
        throw TimeoutError(name + ": no answer from the gripper within 3 s");
    // A reading whose answer does not fit reports E_CMD_FAILED: the
    // gripper's own status tells more, unless it was success.
    if (status == E_CMD_FAILED && answerStatus == E_SUCCESS)
        throw Error(name + ": the gripper's answer does not have the expected length");
    if (status == E_CMD_FAILED && answerStatus > 0)
        status = static_cast<TStat>(answerStatus);
    throw StatusError(name, static_cast<Status>(status), Advice(status));
}

std::string Session::Advice(TStat status)
{
    // The cause depends on the gripper's state: ask for it now, as a report
    // of a change may still be under way.
    const auto flags = [this] {
        FGripper->GetSystemState();
        return FGripper->SystemState();
    };
    switch (status) {
    case E_ACCESS_DENIED:
        if ((flags() & flags::fast_stop) != 0)
            return "acknowledge the fast stop first";
        break;
    case E_NOT_INITIALIZED:
        if ((flags() & flags::referenced) == 0)
            return "home the gripper first";
        break;
    case E_CMD_UNKNOWN:
        return "the gripper does not know this command";
    case E_RANGE_ERROR:
        return "a value is outside the range the gripper takes";
    default:
        break;
    }
    return {};
}

void Session::Reported(Report::Kind kind, uint8_t cmd)
{
    const auto now = Now();
    Report report;
    report.kind = kind;
    report.time = now;
    report.flags = FGripper->SystemState();
    report.grasping_state = static_cast<GraspingState>(FGripper->GraspingState());
    report.position = FGripper->Position();
    report.speed = FGripper->Speed();
    report.force = FGripper->Force();
    {
        std::lock_guard lock(FMutex);
        State& s = FLastState;
        s.flags = report.flags;
        s.grasping_state = report.grasping_state;
        s.position = report.position;
        s.speed = report.speed;
        s.force = report.force;
        Clock::time_point* times[] = {&s.flags_time, &s.grasping_state_time, &s.position_time, &s.speed_time, &s.force_time};
        *times[static_cast<int>(kind)] = now;
    }
    // The answer to this session's own request is no report.
    if (cmd != FAwaited)
        FReports.Deliver(report);
}

std::shared_ptr<MotionState> Session::StartMotion(MotionKind kind, const std::string& name, uint8_t cmd,
    const TByteArray& params, Timeout timeout)
{
    return Request(name, timeout, [this, kind, name, cmd, params](THXT& gripper) {
        auto motion = std::make_shared<MotionState>();
        motion->Kind = kind;
        motion->Command = cmd;
        motion->Name = name;
        // A running motion with the same command byte is replaced; its final
        // answer comes with the byte this one waits for.
        const auto stale = std::count_if(FRunning.begin(), FRunning.end(), [cmd](const auto& m) { return m->Command == cmd; });
        const uint32_t before = FAnswers[cmd];
        const int outer = FAwaited;
        FAwaited = cmd;
        FAwaitedStatus = -1;
        FAwaitedAnswer.clear();
        motion->Started = SteadyClock::now();
        FStarting = true;
        const TStat status = gripper.ExecuteAsync(cmd, params, [this, motion](QObject*, int, TStat final, const TByteArray& data) {
            MotionFinal(motion, final, data);
        });
        FStarting = false;
        FAwaited = outer;
        if (status == E_CMD_PENDING) {
            motion->StaleFinals = static_cast<int>(stale);
            FRunning.push_back(motion);
        } else if (status == E_SUCCESS) {
            // Done at once: the immediate answer is the final one.
            motion->FinalSeen = true;
            FinishMotion(motion, status, FAwaitedAnswer, SteadyClock::now());
        } else {
            Fail(name, cmd, status, before);
        }
        return motion;
    });
}

void Session::MotionFinal(const std::shared_ptr<MotionState>& motion, TStat status, const TByteArray& data)
{
    if (status == E_CMD_PENDING || motion->FinalSeen)
        return;
    const auto end = SteadyClock::now();
    if (motion->StaleFinals > 0) {
        --motion->StaleFinals;
        const auto replaced = std::find_if(FRunning.begin(), FRunning.end(),
            [&](const auto& m) { return m != motion && m->Command == motion->Command; });
        if (replaced != FRunning.end()) {
            auto old = *replaced;
            old->FinalSeen = true;
            FRunning.erase(replaced);
            FinishMotion(old, status, data, end);
        }
        return;
    }
    motion->FinalSeen = true;
    FRunning.erase(std::remove(FRunning.begin(), FRunning.end(), motion), FRunning.end());
    FinishMotion(motion, status, data, end);
}

void Session::FinishMotion(const std::shared_ptr<MotionState>& motion, TStat status, const TByteArray& data,
    SteadyClock::time_point end)
{
    // The position is read once the final answer is handled: this runs inside
    // the gripper object's packet handling, where no request may start.
    auto complete = [this, motion, status, data, end](bool read) {
        if (read && motion->Kind != MotionKind::raw && FGripper && FGripper->IsConnected())
            FGripper->GetPosition();
        MotionResult result;
        result.kind = motion->Kind;
        result.status = static_cast<Status>(status);
        result.duration = end - motion->Started;
        result.position = FGripper ? FGripper->Position() : LastState().position;
        result.data.assign(data.begin(), data.end());
        motion->Result.SetValue(std::move(result));
    };
    if (!FLink.Post([complete] { complete(true); }))
        complete(false);
}

void Session::LinkLost(const std::string& cause)
{
    FLinkUp = false;
    FLostCause = cause;
    FailMotions(cause);
}

void Session::FailMotions(const std::string& why)
{
    for (const auto& motion : FRunning) {
        motion->FinalSeen = true;
        motion->Result.SetError(std::make_exception_ptr(ConnectionError(motion->Name + ": " + why, why)));
    }
    FRunning.clear();
}

bool Session::MotionRunning() const { return !FRunning.empty(); }

MotionResult Session::WaitMotion(MotionState& motion, Timeout timeout)
{
    const auto limit = timeout.value_or(MotionTimeout());
    if (std::optional<MotionResult> result = WaitMotionFor(motion, limit))
        return std::move(*result);
    // Whoever gives up on a running motion stops it first.
    try {
        Request("stop", {}, [this](THXT& gripper) { Run("stop", CMD_STOP, [&] { return gripper.Stop(); }); });
        motion.Result.Wait(SteadyClock::now() + StopResultTimeout, InterruptCheck());
    } catch (const Error&) {
        // The timeout is what the caller is told about.
    }
    throw TimeoutError(motion.Name + ": not finished within " + std::to_string(limit.count()) + " ms; STOP sent");
}

std::optional<MotionResult> Session::WaitMotionFor(MotionState& motion, std::chrono::milliseconds timeout)
{
    switch (motion.Result.Wait(SteadyClock::now() + timeout, InterruptCheck())) {
    case WaitEnd::Ready:
        return motion.Result.Take();
    case WaitEnd::Interrupted:
        ThrowInterrupted(motion.Name);
    case WaitEnd::Deadline:
        break;
    }
    return std::nullopt;
}

void Session::CancelMotion(MotionState& motion, Timeout timeout)
{
    if (motion.Result.Ready())
        return;
    Request("cancel", timeout, [this](THXT& gripper) { Run("stop", CMD_STOP, [&] { return gripper.Stop(); }); });
}

void Session::StopAfterInterrupt()
{
    FLink.Post([this] {
        if (FGripper && MotionRunning() && FGripper->IsConnected())
            FGripper->Stop();
    });
}

void Session::ThrowInterrupted(const std::string& name)
{
    StopAfterInterrupt();
    throw InterruptedError(name + ": interrupted");
}

Limits Session::CheckedLimits(const std::string& name)
{
    {
        std::lock_guard lock(FMutex);
        if (FLimits)
            return *FLimits;
    }
    try {
        return Request(name, {}, [this, name](THXT& gripper) {
            TSystemLimits l;
            Run(name, CMD_GET_SYSTEM_LIMITS, [&] { return gripper.GetSystemLimits(l); });
            const Limits limits{l.Stroke, l.MinSpeed, l.MaxSpeed, l.MinAcceleration, l.MaxAcceleration, l.MinForce, l.MaxForce, l.Extra};
            StoreLimits(limits);
            return limits;
        });
    } catch (const InterruptedError&) {
        throw;
    } catch (const Error& error) {
        throw LimitError(name + ": the gripper's limits could not be read (" + error.what() +
                         "), so the values cannot be checked; nothing was sent");
    }
}

void Session::StoreLimits(const Limits& limits)
{
    std::lock_guard lock(FMutex);
    FLimits = limits;
}

State Session::LastState() const
{
    std::lock_guard lock(FMutex);
    return FLastState;
}

std::uint64_t Session::AddReportHandler(Gripper::ReportHandler handler) { return FReports.Add(std::move(handler)); }

void Session::RemoveReportHandler(std::uint64_t id) { FReports.Remove(id); }

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
