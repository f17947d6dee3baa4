// krm::Gripper: checks values against the gripper's limits, then runs each
// call as a request of its session on the link thread.
#include "HXT_commands.h"
#include "ParseConnection.h"
#include "QueueState.h"
#include "Session.h"
#include "MotionRequests.h"
#include "convert.h"

#include <krm/krm.hpp>

#include <sstream>

namespace krm {

namespace {

// `value` within its range under the gripper's limits; LimitError naming
// the value otherwise.
void Check(const std::string& name, const char* what, double value, TLimitedValue kind, const Limits& l)
{
    const TSystemLimits limits{static_cast<float>(l.stroke), static_cast<float>(l.min_speed),
        static_cast<float>(l.max_speed), static_cast<float>(l.min_acceleration), static_cast<float>(l.max_acceleration),
        static_cast<float>(l.min_force), static_cast<float>(l.max_force), static_cast<float>(l.extra)};
    const TValueRange range = RangeOf(kind, limits);
    if (range.Holds(value))
        return;
    std::ostringstream text;
    text << name << ": " << what << " " << value << " " << range.Unit << " is outside the gripper's range " << range.Min
         << " to " << range.Max << " " << range.Unit << "; nothing was sent";
    throw LimitError(text.str());
}

// Checks a motion's width or position and speed.
void CheckMotion(detail::Session& s, const std::string& name, const char* what, TLimitedValue kind, double value, double speed)
{
    const Limits l = s.CheckedLimits(name);
    Check(name, what, value, kind, l);
    Check(name, "speed", speed, TLimitedValue::Speed, l);
}

float Float(double value) { return static_cast<float>(value); }

// One motion as it goes to the gripper, its values checked already.
struct MotionRequest {
    MotionKind Kind;
    const char* Name;
    uint8_t Command;
    TByteArray Payload;
};

MotionRequest HomeRequest(HomeDirection direction)
{
    return {MotionKind::home, "home", CMD_HOMING, HomingPayload(static_cast<uint8_t>(direction))};
}

MotionRequest MoveRequest(detail::Session& s, double position, double speed)
{
    CheckMotion(s, "move", "position", TLimitedValue::Position, position, speed);
    return {MotionKind::move, "move", CMD_GOTO, GotoPayload(Float(position), Float(speed))};
}

MotionRequest GraspRequest(detail::Session& s, double width, double speed)
{
    CheckMotion(s, "grasp", "width", TLimitedValue::Width, width, speed);
    return {MotionKind::grasp, "grasp", CMD_GRASP_RAW, GraspPayload(Float(width), Float(speed))};
}

MotionRequest ReleaseRequest(detail::Session& s, double width, double speed)
{
    CheckMotion(s, "release", "width", TLimitedValue::Width, width, speed);
    return {MotionKind::release, "release", CMD_RELEASE_RAW, ReleasePayload(Float(width), Float(speed))};
}

std::shared_ptr<detail::MotionState> Start(detail::Session& s, MotionRequest request, detail::SteadyClock::time_point deadline)
{
    return s.StartMotion(request.Kind, request.Name, request.Command, std::move(request.Payload), deadline);
}

// A started motion's time covers only its start.
detail::SteadyClock::time_point StartDeadline(const detail::Session& s, Timeout timeout)
{
    return s.MotionDeadline(timeout.value_or(detail::Session::RequestTimeout));
}

// The session of a call, held for the whole call: a Gripper destroyed
// meanwhile on another thread closes it, and the call ends with
// ConnectionError instead of using a freed session.
std::shared_ptr<detail::Session> Held(const std::shared_ptr<detail::Session>& session)
{
    if (!session)
        throw ConnectionError("this Gripper is not open: it was made empty or moved from; krm::Gripper::open opens one",
            "not open");
    return session;
}

} // namespace

Gripper Gripper::open(const std::string& connection, Timeout timeout, std::function<bool()> interrupt_check)
{
    Options options;
    options.timeout = timeout;
    options.interrupt_check = std::move(interrupt_check);
    return open(connection, options);
}

Gripper Gripper::open(const std::string& connection, const Options& options)
{
    const TConnectionParams params = detail::ParseConnection(connection);
    auto session = std::make_shared<detail::Session>(connection);
    session->Open(params, options);
    return Gripper(std::move(session));
}

Gripper::Gripper() noexcept = default;
Gripper::Gripper(std::shared_ptr<detail::Session> session) : session_(std::move(session)) {}
Gripper::Gripper(Gripper&&) noexcept = default;

Gripper& Gripper::operator=(Gripper&& other) noexcept
{
    if (this != &other) {
        if (session_)
            session_->Close();
        session_ = std::move(other.session_);
    }
    return *this;
}

Gripper::~Gripper()
{
    if (session_)
        session_->Close();
}

void Gripper::close()
{
    if (session_)
        session_->Close();
}
bool Gripper::is_open() const { return session_ && session_->IsOpen(); }
LinkState Gripper::link_state() const { return session_ ? session_->LinkNow() : LinkState::closed; }
void Gripper::on_link(LinkHandler handler) { Held(session_)->SetLinkHandler(std::move(handler)); }
std::string Gripper::connection() const { return Held(session_)->Connection(); }

Info Gripper::info(Timeout timeout)
{
    TSystemInfo i;
    DecodeSystemInfo(Held(session_)->Read("info", CMD_GET_SYSINFO, {}, 8, timeout), i);
    return Info{i.GripperType, i.HardwareRevision, i.FirmwareRevision, static_cast<std::uint32_t>(i.SerialNumber)};
}

Limits Gripper::limits(Timeout timeout) { return Held(session_)->ReadLimits("limits", timeout); }

State Gripper::state(Timeout timeout)
{
    const auto held = Held(session_);
    auto& s = *held;
    // Speed and force are the latest reported.
    State state = s.LastState();
    const auto now = Clock::now();
    state.flags = static_cast<std::uint32_t>(IntAt(s.Read("state", CMD_GET_SYSTEM_STATE, {}, 4, timeout).data()));
    state.flags_time = now;
    state.grasping_state = static_cast<GraspingState>(s.Read("state", CMD_GET_GRASPING_STATE, {}, 1, timeout)[0]);
    state.grasping_state_time = Clock::now();
    state.position = SingleAt(s.Read("state", CMD_GET_POS, {}, 4, timeout).data());
    state.position_time = Clock::now();
    return state;
}

Stats Gripper::stats(bool reset, Timeout timeout)
{
    TGraspingStats st;
    DecodeGraspingStats(Held(session_)->Read("stats", CMD_GET_GRASPING_STATS, {static_cast<uint8_t>(reset ? 1 : 0)}, 8, timeout), st);
    return Stats{static_cast<std::uint32_t>(st.NumGrasps), static_cast<std::uint32_t>(st.NumNotFound),
        static_cast<std::uint32_t>(st.NumLost)};
}

Motion Gripper::start_home(Timeout timeout) { return start_home(HomeDirection::configured, timeout); }

Motion Gripper::start_home(HomeDirection direction, Timeout timeout)
{
    const auto held = Held(session_);
    MotionRequest request = HomeRequest(direction);
    return Motion(held, Start(*held, std::move(request), StartDeadline(*held, timeout)));
}

Motion Gripper::start_move(double position, double speed, Timeout timeout)
{
    const auto held = Held(session_);
    MotionRequest request = MoveRequest(*held, position, speed);
    return Motion(held, Start(*held, std::move(request), StartDeadline(*held, timeout)));
}

Motion Gripper::start_grasp(double width, double speed, Timeout timeout)
{
    const auto held = Held(session_);
    MotionRequest request = GraspRequest(*held, width, speed);
    return Motion(held, Start(*held, std::move(request), StartDeadline(*held, timeout)));
}

Motion Gripper::start_release(double width, double speed, Timeout timeout)
{
    const auto held = Held(session_);
    MotionRequest request = ReleaseRequest(*held, width, speed);
    return Motion(held, Start(*held, std::move(request), StartDeadline(*held, timeout)));
}

MotionResult Gripper::home(Timeout timeout) { return home(HomeDirection::configured, timeout); }

// The caller's time covers the start as well as the end; the limits a check
// reads count against it too.
MotionResult Gripper::home(HomeDirection direction, Timeout timeout)
{
    const auto held = Held(session_);
    const auto deadline = held->MotionDeadline(timeout);
    return Motion(held, Start(*held, HomeRequest(direction), deadline)).wait(detail::Remaining(deadline));
}

MotionResult Gripper::move(double position, double speed, Timeout timeout)
{
    const auto held = Held(session_);
    const auto deadline = held->MotionDeadline(timeout);
    return Motion(held, Start(*held, MoveRequest(*held, position, speed), deadline)).wait(detail::Remaining(deadline));
}

MotionResult Gripper::grasp(double width, double speed, Timeout timeout)
{
    const auto held = Held(session_);
    const auto deadline = held->MotionDeadline(timeout);
    return Motion(held, Start(*held, GraspRequest(*held, width, speed), deadline)).wait(detail::Remaining(deadline));
}

MotionResult Gripper::release(double width, double speed, Timeout timeout)
{
    const auto held = Held(session_);
    const auto deadline = held->MotionDeadline(timeout);
    return Motion(held, Start(*held, ReleaseRequest(*held, width, speed), deadline)).wait(detail::Remaining(deadline));
}

void Gripper::stop(Timeout timeout) { Held(session_)->Command("stop", CMD_STOP, {}, timeout); }

void Gripper::fast_stop(Timeout timeout) { Held(session_)->Command("fast_stop", CMD_FAST_STOP, {}, timeout); }

void Gripper::acknowledge(Timeout timeout) { Held(session_)->Command("acknowledge", CMD_FAST_STOP_ACK, {0x61, 0x63, 0x6B}, timeout); }

void Gripper::set_acceleration(double acceleration, Timeout timeout)
{
    const auto held = Held(session_);
    auto& s = *held;
    Check("set_acceleration", "acceleration", acceleration, TLimitedValue::Acceleration, s.CheckedLimits("set_acceleration"));
    const auto bytes = SingleToBytes(Float(acceleration));
    s.Command("set_acceleration", CMD_SET_ACCELERATION, TByteArray(bytes.begin(), bytes.end()), timeout);
}

double Gripper::acceleration(Timeout timeout)
{
    return SingleAt(Held(session_)->Read("acceleration", CMD_GET_ACCELERATION, {}, 4, timeout).data());
}

void Gripper::set_force_limit(double force, Timeout timeout)
{
    const auto held = Held(session_);
    auto& s = *held;
    Check("set_force_limit", "force", force, TLimitedValue::Force, s.CheckedLimits("set_force_limit"));
    const auto bytes = SingleToBytes(Float(force));
    s.Command("set_force_limit", CMD_SET_FORCE_LIMIT, TByteArray(bytes.begin(), bytes.end()), timeout);
}

double Gripper::force_limit(Timeout timeout)
{
    return SingleAt(Held(session_)->Read("force_limit", CMD_GET_FORCE_LIMIT, {}, 4, timeout).data());
}

Answer Gripper::request(std::uint8_t command, const std::vector<std::uint8_t>& payload, Timeout timeout)
{
    const std::string name = CommandName(command);
    if (payload.size() > 0xFFFF)
        throw Error(name + ": a payload holds at most 65535 bytes");
    return Held(session_)->Transact(name, command, TByteArray(payload.begin(), payload.end()), timeout, IsMotionCommand(command));
}

std::vector<std::uint8_t> Gripper::raw(std::uint8_t command, const std::vector<std::uint8_t>& payload, Timeout timeout)
{
    const Answer answer = request(command, payload, timeout);
    if (!answer.ok())
        throw StatusError(CommandName(command), answer.status, {});
    return answer.data;
}

void Gripper::set_reports(const std::vector<Report::Kind>& kinds, std::chrono::milliseconds period, Timeout timeout)
{
    Held(session_)->SetReports(kinds, period, timeout);
}

std::uint64_t Gripper::on_packet(PacketHandler handler) { return Held(session_)->AddPacketHandler(std::move(handler)); }
void Gripper::remove_packet_handler(std::uint64_t id) { Held(session_)->RemovePacketHandler(id); }
void Gripper::write_packet_log(const std::string& path) { Held(session_)->WritePacketLog(path); }
std::uint64_t Gripper::stray_answers() const { return Held(session_)->StrayAnswers(); }
void Gripper::on_notice(NoticeHandler handler) { Held(session_)->SetNoticeHandler(std::move(handler)); }

Subscription Gripper::on_report(const ReportHandler& handler)
{
    const auto held = Held(session_);
    return Subscription(held, held->AddReportHandler(handler));
}

ReportQueue Gripper::reports()
{
    const auto held = Held(session_);
    return ReportQueue(std::make_shared<ReportQueue::State>(held, held->ReportInboxes(), "reports"));
}

PacketQueue Gripper::packets()
{
    const auto held = Held(session_);
    auto state = std::make_shared<PacketQueue::State>(held, held->PacketInboxes(), "packets");
    held->ObservePackets();
    return PacketQueue(std::move(state));
}
State Gripper::last_state() const { return Held(session_)->LastState(); }
void Gripper::set_interrupt_check(std::function<bool()> check) { Held(session_)->SetInterruptCheck(std::move(check)); }
void Gripper::set_motion_timeout(std::chrono::milliseconds timeout) { Held(session_)->SetMotionTimeout(timeout); }
std::chrono::milliseconds Gripper::motion_timeout() const { return Held(session_)->MotionTimeout(); }

} // namespace krm
