// krm::Gripper: checks values against the gripper's limits, then runs each
// call as a request of its session on the link thread.
#include "HXT_commands.h"
#include "ParseConnection.h"
#include "Session.h"
#include "convert.h"

#include <krm/krm.hpp>

#include <initializer_list>
#include <sstream>

namespace krm {

namespace {

// `value` within [min, max] (a NaN is not); LimitError naming the value.
void CheckRange(const std::string& name, const char* what, double value, double min, double max, const char* unit)
{
    if (value >= min && value <= max)
        return;
    std::ostringstream text;
    text << name << ": " << what << " " << value << " " << unit << " is outside the gripper's range " << min << " to "
         << max << " " << unit << "; nothing was sent";
    throw LimitError(text.str());
}

TByteArray Floats(std::initializer_list<double> values, std::optional<uint8_t> lead = std::nullopt)
{
    TByteArray bytes;
    if (lead)
        bytes.push_back(*lead);
    for (const double v : values) {
        const auto b = SingleToBytes(static_cast<float>(v));
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    return bytes;
}

Limits LimitsOf(const TSystemLimits& l)
{
    return {l.Stroke, l.MinSpeed, l.MaxSpeed, l.MinAcceleration, l.MaxAcceleration, l.MinForce, l.MaxForce, l.Extra};
}

} // namespace

Gripper Gripper::open(const std::string& connection, Timeout timeout, std::function<bool()> interrupt_check)
{
    const TConnectionParams params = detail::ParseConnection(connection);
    auto session = std::make_shared<detail::Session>(connection);
    session->Open(params, timeout, std::move(interrupt_check));
    return Gripper(std::move(session));
}

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

detail::Session& Gripper::session() const
{
    if (!session_)
        throw ConnectionError("this Gripper was moved from", "moved from");
    return *session_;
}

void Gripper::close() { session().Close(); }
bool Gripper::is_open() const { return session_ && session_->IsOpen(); }
std::string Gripper::connection() const { return session().Connection(); }

Info Gripper::info(Timeout timeout)
{
    auto& s = session();
    return s.Request("info", timeout, [&s](THXT& g) {
        TSystemInfo i;
        s.Run("info", CMD_GET_SYSINFO, [&] { return g.GetSystemInfo(i); });
        return Info{i.GripperType, i.HardwareRevision, i.FirmwareRevision, static_cast<std::uint32_t>(i.SerialNumber)};
    });
}

Limits Gripper::limits(Timeout timeout)
{
    auto& s = session();
    return s.Request("limits", timeout, [&s](THXT& g) {
        TSystemLimits l;
        s.Run("limits", CMD_GET_SYSTEM_LIMITS, [&] { return g.GetSystemLimits(l); });
        s.StoreLimits(LimitsOf(l));
        return LimitsOf(l);
    });
}

State Gripper::state(Timeout timeout)
{
    auto& s = session();
    s.Request("state", timeout, [&s](THXT& g) {
        // Each answer passes through the state updates, as a report does.
        s.Run("state", CMD_GET_SYSTEM_STATE, [&] { return g.GetSystemState(); });
        s.Run("state", CMD_GET_GRASPING_STATE, [&] { return g.GetGraspingState(); });
        s.Run("state", CMD_GET_POS, [&] { return g.GetPosition(); });
    });
    return s.LastState();
}

Stats Gripper::stats(bool reset, Timeout timeout)
{
    auto& s = session();
    return s.Request("stats", timeout, [&s, reset](THXT& g) {
        TGraspingStats st;
        s.Run("stats", CMD_GET_GRASPING_STATS, [&] { return g.GetGraspingStats(st, reset); });
        return Stats{static_cast<std::uint32_t>(st.NumGrasps), static_cast<std::uint32_t>(st.NumNotFound),
            static_cast<std::uint32_t>(st.NumLost)};
    });
}

Motion Gripper::start_home(Timeout timeout)
{
    // Homing in the gripper's own default direction.
    return Motion(session_, session().StartMotion(MotionKind::home, "home", CMD_HOMING, {0}, timeout));
}

Motion Gripper::start_move(double position, double speed, Timeout timeout)
{
    const Limits l = session().CheckedLimits("move");
    CheckRange("move", "position", position, 0, l.stroke, "mm");
    CheckRange("move", "speed", speed, l.min_speed, l.max_speed, "mm/s");
    return Motion(session_, session().StartMotion(MotionKind::move, "move", CMD_GOTO, Floats({position, speed}, 0), timeout));
}

Motion Gripper::start_grasp(double width, double speed, Timeout timeout)
{
    const Limits l = session().CheckedLimits("grasp");
    CheckRange("grasp", "width", width, 0, l.stroke, "mm");
    CheckRange("grasp", "speed", speed, l.min_speed, l.max_speed, "mm/s");
    return Motion(session_, session().StartMotion(MotionKind::grasp, "grasp", CMD_GRASP_RAW, Floats({width, speed}), timeout));
}

Motion Gripper::start_release(double width, double speed, Timeout timeout)
{
    const Limits l = session().CheckedLimits("release");
    CheckRange("release", "width", width, 0, l.stroke, "mm");
    CheckRange("release", "speed", speed, l.min_speed, l.max_speed, "mm/s");
    return Motion(session_,
        session().StartMotion(MotionKind::release, "release", CMD_RELEASE_RAW, Floats({width, speed}), timeout));
}

MotionResult Gripper::home(Timeout timeout) { return start_home().wait(timeout); }
MotionResult Gripper::move(double position, double speed, Timeout timeout) { return start_move(position, speed).wait(timeout); }
MotionResult Gripper::grasp(double width, double speed, Timeout timeout) { return start_grasp(width, speed).wait(timeout); }
MotionResult Gripper::release(double width, double speed, Timeout timeout) { return start_release(width, speed).wait(timeout); }

void Gripper::stop(Timeout timeout)
{
    auto& s = session();
    s.Request("stop", timeout, [&s](THXT& g) { s.Run("stop", CMD_STOP, [&] { return g.Stop(); }); });
}

void Gripper::fast_stop(Timeout timeout)
{
    auto& s = session();
    s.Request("fast_stop", timeout, [&s](THXT& g) { s.Run("fast_stop", CMD_FAST_STOP, [&] { return g.FastStop(); }); });
}

void Gripper::acknowledge(Timeout timeout)
{
    auto& s = session();
    s.Request("acknowledge", timeout,
        [&s](THXT& g) { s.Run("acknowledge", CMD_FAST_STOP_ACK, [&] { return g.FastStopAck(); }); });
}

void Gripper::set_acceleration(double acceleration, Timeout timeout)
{
    auto& s = session();
    const Limits l = s.CheckedLimits("set_acceleration");
    CheckRange("set_acceleration", "acceleration", acceleration, l.min_acceleration, l.max_acceleration, "mm/s²");
    s.Request("set_acceleration", timeout, [&s, acceleration](THXT& g) {
        s.Run("set_acceleration", CMD_SET_ACCELERATION, [&] { return g.SetAcceleration(static_cast<float>(acceleration)); });
    });
}

double Gripper::acceleration(Timeout timeout)
{
    auto& s = session();
    return s.Request("acceleration", timeout, [&s](THXT& g) {
        float value = 0;
        s.Run("acceleration", CMD_GET_ACCELERATION, [&] { return g.GetAcceleration(value); });
        return static_cast<double>(value);
    });
}

void Gripper::set_force_limit(double force, Timeout timeout)
{
    auto& s = session();
    const Limits l = s.CheckedLimits("set_force_limit");
    CheckRange("set_force_limit", "force", force, l.min_force, l.max_force, "N");
    s.Request("set_force_limit", timeout, [&s, force](THXT& g) {
        s.Run("set_force_limit", CMD_SET_FORCE_LIMIT, [&] { return g.SetForceLimit(static_cast<float>(force)); });
    });
}

double Gripper::force_limit(Timeout timeout)
{
    auto& s = session();
    return s.Request("force_limit", timeout, [&s](THXT& g) {
        float value = 0;
        s.Run("force_limit", CMD_GET_FORCE_LIMIT, [&] { return g.GetForceLimit(value); });
        return static_cast<double>(value);
    });
}

std::vector<std::uint8_t> Gripper::raw(std::uint8_t command, const std::vector<std::uint8_t>& payload, Timeout timeout)
{
    const std::string name = CommandName(command);
    if (payload.size() > 0xFFFF)
        throw Error(name + ": a payload holds at most 65535 bytes");
    Motion motion(session_, session().StartMotion(MotionKind::raw, name, command, TByteArray(payload.begin(), payload.end()), timeout));
    const MotionResult result = motion.wait(timeout);
    if (!result.ok())
        throw StatusError(name, result.status, {});
    return result.data;
}

std::uint64_t Gripper::on_report(ReportHandler handler) { return session().AddReportHandler(std::move(handler)); }
void Gripper::remove_report_handler(std::uint64_t id) { session().RemoveReportHandler(id); }
State Gripper::last_state() const { return session().LastState(); }
void Gripper::set_interrupt_check(std::function<bool()> check) { session().SetInterruptCheck(std::move(check)); }
void Gripper::set_motion_timeout(std::chrono::milliseconds timeout) { session().SetMotionTimeout(timeout); }
std::chrono::milliseconds Gripper::motion_timeout() const { return session().MotionTimeout(); }

} // namespace krm
