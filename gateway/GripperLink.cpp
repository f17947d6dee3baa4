#include "GripperLink.h"

#include "CliFields.h"
#include "HXT_commands.h"
#include "PacketDecoder.h"
#include "TaskLane.h"
#include "convert.h"
#include "stat.h"
#include "ValueLimits.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <array>

namespace {

TCliResult Plain(const TCliCommand& command, uint8_t status)
{
    TCliResult result;
    result.Command = command.Name;
    result.Status = static_cast<TStat>(status);
    return result;
}

// A failure with the library's words for it, in JSON only.
TCliResult Failure(const TCliCommand& command, uint8_t status, const QString& message)
{
    TCliResult result = Plain(command, status);
    result.Fields.push_back({QStringLiteral("error"), message, message, true});
    return result;
}

TSystemLimits ProtocolLimits(const krm::Limits& limits)
{
    return {static_cast<float>(limits.stroke), static_cast<float>(limits.min_speed), static_cast<float>(limits.max_speed),
        static_cast<float>(limits.min_acceleration), static_cast<float>(limits.max_acceleration),
        static_cast<float>(limits.min_force), static_cast<float>(limits.max_force), static_cast<float>(limits.extra)};
}

bool IsStop(TCliVerb verb) { return verb == TCliVerb::Stop || verb == TCliVerb::FastStop; }

krm::Motion StartMotion(const TCliCommand& command, krm::Gripper& gripper)
{
    switch (command.Verb) {
    case TCliVerb::Goto:
        return gripper.start_move(command.Values[0], command.Values[1]);
    case TCliVerb::Grasp:
        return gripper.start_grasp(command.Values[0], command.Values[1]);
    case TCliVerb::Release:
        return gripper.start_release(command.Values[0], command.Values[1]);
    default:
        return gripper.start_home();
    }
}

// The status of an answer: the low byte of its leading status word.
std::optional<TStat> AnswerStatus(const krm::Packet& packet)
{
    if (packet.payload.size() < 2)
        return std::nullopt;
    return static_cast<TStat>(WordAt(packet.payload.data()) & 0xFF);
}

} // namespace

TGripperLink::TGripperLink(std::string connection, int reportPeriodMs)
    : FConnection(std::move(connection))
    , FReportPeriodMs(reportPeriodMs)
    , FCommands(std::make_unique<TTaskLane>())
    , FStops(std::make_unique<TTaskLane>())
{
}

TGripperLink::~TGripperLink()
{
    {
        // Under the lock, so that no wait misses the end between looking at
        // FEnding and beginning to wait.
        std::lock_guard lock(FMutex);
        FEnding = true;
    }
    FWake.notify_all();
    FMotionWake.notify_all();
    if (FThread.joinable())
        FThread.join();
    // A motion still waited for ends with InterruptedError (and STOP).
    FCommands.reset();
    FStops.reset();
    if (const auto gripper = Current())
        gripper->close();
}

void TGripperLink::Start()
{
    FThread = std::thread([this] { Connect(); });
}

std::shared_ptr<krm::Gripper> TGripperLink::Current() const
{
    std::lock_guard lock(FMutex);
    return FGripper;
}

bool TGripperLink::Pause(std::chrono::milliseconds pause)
{
    std::unique_lock lock(FMutex);
    return !FWake.wait_for(lock, pause, [this] { return FEnding.load(); });
}

void TGripperLink::Connect()
{
    auto pause = FirstPause;
    while (!FEnding) {
        std::shared_ptr<krm::Gripper> gripper;
        krm::State state;
        try {
            gripper = std::make_shared<krm::Gripper>(krm::Gripper::open(FConnection, OpenOptions()));
            SwitchOptionalReports(*gripper);
            ObservePackets(*gripper);
            WatchLink(*gripper);
            std::optional<TSystemLimits> limits;
            QString unknown;
            try {
                limits = ProtocolLimits(gripper->limits());
            } catch (const krm::Error& error) {
                unknown = QStringLiteral("the system limits could not be read (%1)").arg(QString::fromUtf8(error.what()));
            }
            state = gripper->state();
            std::lock_guard lock(FMutex);
            FGripper = gripper;
            FLimits = limits;
            FLimitsUnknown = unknown;
        } catch (const krm::Error& error) {
            if (gripper)
                gripper->close();
            if (FEnding)
                break;
            if (OnRetry)
                OnRetry(error.what());
            if (!Pause(pause))
                break;
            pause = std::min(pause * 2, LongestPause);
            continue;
        }
        pause = FirstPause;
        if (OnUp)
            OnUp(state);
        AwaitLoss(*gripper);
        {
            std::lock_guard lock(FMutex);
            FGripper.reset();
        }
        if (FEnding)
            break;
        std::string cause = "the link was lost";
        try {
            gripper->info(std::chrono::milliseconds(1));
        } catch (const krm::ConnectionError& error) {
            cause = error.cause().empty() ? error.what() : error.cause();
        } catch (const krm::Error&) {
        }
        gripper->close();
        if (OnDown)
            OnDown(cause);
        if (!Pause(FirstPause))
            break;
    }
}

void TGripperLink::WatchLink(krm::Gripper& gripper)
{
    std::uint64_t link = 0;
    {
        std::lock_guard lock(FMutex);
        FLost = false;
        link = ++FLinks;
    }
    // A session closed before tells its end too, perhaps late: it is not
    // taken for this one's.
    gripper.on_link([this, link](krm::LinkState state, const std::string&) {
        if (state == krm::LinkState::up)
            return;
        {
            std::lock_guard lock(FMutex);
            if (link != FLinks)
                return;
            FLost = true;
        }
        FWake.notify_all();
        FMotionWake.notify_all();
    });
}

void TGripperLink::AwaitLoss(krm::Gripper& gripper)
{
    while (gripper.is_open()) {
        std::unique_lock lock(FMutex);
        if (FWake.wait_for(lock, LinkCheck, [this] { return FEnding || FLost; }))
            return;
    }
}

krm::Options TGripperLink::OpenOptions()
{
    krm::Options options;
    options.interrupt_check = [this] { return FEnding.load(); };
    options.reports = {krm::Report::Kind::flags, krm::Report::Kind::grasping_state, krm::Report::Kind::position};
    options.report_period = std::chrono::milliseconds(FReportPeriodMs);
    return options;
}

void TGripperLink::SwitchOptionalReports(krm::Gripper& gripper)
{
    // Speed and force are reported by some grippers only: each is asked for
    // on its own, so that a gripper refusing one still sends the other.
    std::vector<krm::Report::Kind> kinds = OpenOptions().reports;
    for (const krm::Report::Kind optional : {krm::Report::Kind::speed, krm::Report::Kind::force}) {
        kinds.push_back(optional);
        try {
            gripper.set_reports(kinds, std::chrono::milliseconds(FReportPeriodMs));
        } catch (const krm::StatusError&) {
            kinds.pop_back();
        }
    }
}

void TGripperLink::ObservePackets(krm::Gripper& gripper)
{
    std::lock_guard lock(FTakeMutex);
    FReports = gripper.reports();
    FPackets = gripper.packets();
    FSent = {};
}

void TGripperLink::Take(std::vector<krm::Report>& reports)
{
    std::lock_guard lock(FTakeMutex);
    // A closed session or a lost link ends its queues; the link handler
    // tells the loss.
    try {
        while (const auto packet = FPackets.next(std::chrono::milliseconds(0)))
            Seen(*packet);
    } catch (const krm::Error&) {
    }
    try {
        while (const auto report = FReports.next(std::chrono::milliseconds(0)))
            reports.push_back(*report);
    } catch (const krm::Error&) {
    }
}

void TGripperLink::Seen(const krm::Packet& packet)
{
    // The first good frame back with the byte of a request is taken as its
    // answer; a report of the same value that comes before it is taken for
    // it, which the reading commands of the gateway make rare.
    TPacketSeen seen;
    seen.Received = packet.direction == krm::Packet::Direction::received;
    seen.Faults = packet.faults;
    std::optional<krm::Clock::time_point>& sent = FSent[packet.command];
    if (!seen.Received) {
        sent = packet.time;
    } else if (packet.ok()) {
        if (sent) {
            seen.AnswerSeconds = std::chrono::duration<double>(packet.time - *sent).count();
            sent.reset();
        }
        MotionAnswered(packet);
    }
    if (OnPacket)
        OnPacket(seen);
}

void TGripperLink::MotionAnswered(const krm::Packet& packet)
{
    // "Pending" is the first answer; the final one follows when the motion
    // ends.
    if (!IsMotionCommand(packet.command) || AnswerStatus(packet).value_or(E_CMD_PENDING) == E_CMD_PENDING)
        return;
    {
        std::lock_guard lock(FMutex);
        ++FMotionAnswers;
    }
    FMotionWake.notify_all();
}

krm::MotionResult TGripperLink::Await(const TCliCommand& command, krm::Gripper& gripper)
{
    // The library's own wait would wake every few milliseconds for as long
    // as the motion runs: it is left for the end, when it returns at once.
    // Until then the lane sleeps until a final answer comes (counted from
    // before the motion was sent, so that none comes unseen), the link is
    // lost (the motion is done then too), the gateway ends or the motion
    // timeout runs out.
    std::uint64_t answers = 0;
    {
        std::lock_guard lock(FMutex);
        answers = FMotionAnswers;
    }
    krm::Motion motion = StartMotion(command, gripper);
    const auto deadline = std::chrono::steady_clock::now() + gripper.motion_timeout();
    {
        std::unique_lock lock(FMutex);
        FMotionWake.wait_until(lock, deadline, [&] { return FMotionAnswers != answers || FLost || FEnding; });
    }
    // At the deadline with the motion still running, STOP goes out and
    // TimeoutError tells it; with the gateway ending, the interrupt check
    // does the same with InterruptedError.
    return motion.wait(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
}

void TGripperLink::Submit(const TCliCommand& command, std::function<void(const TCliResult&)> done)
{
    auto task = [this, command, done] {
        const QString start = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        QElapsedTimer clock;
        clock.start();
        TCliResult result = Execute(command);
        result.Start = start;
        result.DurationMs = static_cast<double>(clock.nsecsElapsed() / 1000) / 1000.0;
        done(result);
    };
    TTaskLane& lane = IsStop(command.Verb) ? *FStops : *FCommands;
    if (!lane.Post(std::move(task), MaxWaiting))
        done(Failure(command, E_INSUFFICIENT_RESOURCES, QStringLiteral("too many commands are waiting for this gripper")));
}

TCliResult TGripperLink::Execute(const TCliCommand& command)
{
    const std::shared_ptr<krm::Gripper> gripper = Current();
    if (!gripper)
        return Failure(command, E_NOT_OPENED, QStringLiteral("the link to the gripper is down"));
    try {
        {
            std::lock_guard lock(FMutex);
            CheckCliLimits(command, TCliLimits{FLimits, FLimitsUnknown});
        }
        TCliResult result = Plain(command, E_SUCCESS);
        switch (command.Verb) {
        case TCliVerb::Info: {
            const krm::Info info = gripper->info();
            result.Fields = SystemInfoFields({static_cast<uint8_t>(info.gripper_type), info.hardware_revision,
                info.firmware_revision, static_cast<int32_t>(info.serial_number)});
            break;
        }
        case TCliVerb::Limits:
            result.Fields = SystemLimitsFields(ProtocolLimits(gripper->limits()));
            break;
        case TCliVerb::Stats: {
            const krm::Stats stats = gripper->stats(command.Reset);
            result.Fields = GraspingStatsFields({static_cast<int32_t>(stats.grasps), static_cast<int32_t>(stats.not_found),
                static_cast<int32_t>(stats.lost)});
            break;
        }
        case TCliVerb::State: {
            const krm::State state = gripper->state();
            result.Fields = SystemStateFields(state.flags);
            for (TCliField& field : GraspingStateFields(static_cast<uint8_t>(state.grasping_state)))
                result.Fields.push_back(std::move(field));
            result.Fields.push_back(ReadingField(QStringLiteral("Position"), static_cast<float>(state.position), "mm"));
            break;
        }
        case TCliVerb::Home:
        case TCliVerb::Goto:
        case TCliVerb::Grasp:
        case TCliVerb::Release:
            return Motion(command, *gripper);
        case TCliVerb::Stop:
            gripper->stop();
            break;
        case TCliVerb::FastStop:
            gripper->fast_stop();
            break;
        case TCliVerb::Ack:
            gripper->acknowledge();
            break;
        case TCliVerb::Accel:
            if (command.HasValue())
                gripper->set_acceleration(command.Values[0]);
            else
                result.Fields.push_back(ReadingField(QStringLiteral("Acceleration"), static_cast<float>(gripper->acceleration()), "mm/s²"));
            break;
        case TCliVerb::ForceLimit:
            if (command.HasValue())
                gripper->set_force_limit(command.Values[0]);
            else
                result.Fields.push_back(ReadingField(QStringLiteral("ForceLimit"), static_cast<float>(gripper->force_limit()), "N"));
            break;
        case TCliVerb::Watch:
        case TCliVerb::Raw:
        case TCliVerb::Wait:
            return Failure(command, E_CMD_UNKNOWN, QStringLiteral("%1 is not a command of the gateway").arg(command.Name));
        }
        return result;
    } catch (const TUsageError& error) {
        return Failure(command, E_RANGE_ERROR, error.Message());
    } catch (const krm::StatusError& error) {
        return Failure(command, static_cast<uint8_t>(error.code()), QString::fromUtf8(error.what()));
    } catch (const krm::TimeoutError& error) {
        return Failure(command, E_TIMEOUT, QString::fromUtf8(error.what()));
    } catch (const krm::ConnectionError& error) {
        return Failure(command, E_NOT_OPENED, QString::fromUtf8(error.what()));
    } catch (const krm::LimitError& error) {
        return Failure(command, E_RANGE_ERROR, QString::fromUtf8(error.what()));
    } catch (const krm::InterruptedError& error) {
        return Failure(command, E_CMD_ABORTED, QString::fromUtf8(error.what()));
    } catch (const krm::Error& error) {
        return Failure(command, E_CMD_FAILED, QString::fromUtf8(error.what()));
    }
}

TCliResult TGripperLink::Motion(const TCliCommand& command, krm::Gripper& gripper)
{
    krm::MotionResult motion;
    if (command.Verb == TCliVerb::Home && command.HasValue() && command.Values[0] != 0) {
        // A direction other than the default goes out as it is.
        const auto start = std::chrono::steady_clock::now();
        gripper.raw(CMD_HOMING, {static_cast<uint8_t>(command.Values[0])});
        motion.duration = std::chrono::steady_clock::now() - start;
        motion.position = gripper.last_state().position;
    } else {
        motion = Await(command, gripper);
    }
    const bool width = command.Verb == TCliVerb::Grasp || command.Verb == TCliVerb::Release;
    TCliResult result = Plain(command, static_cast<uint8_t>(motion.status));
    TCliField position = ReadingField(width ? QStringLiteral("Width") : QStringLiteral("Position"), static_cast<float>(motion.position), "mm");
    position.JsonOnly = true;
    result.Fields.push_back(std::move(position));
    if (OnMotion)
        OnMotion({command.Name, static_cast<uint8_t>(motion.status), motion.duration.count(), motion.position});
    return result;
}
