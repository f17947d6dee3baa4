// The calls of libkrm 1.0.0 whose signatures changed since, kept with their
// old signatures so that programs built against 1.0.0 run unchanged (see
// "Compatibility" in docs/api.md). Only this file sees their declarations
// (KRM_BUILDING_COMPAT); each forwards to today's call.
//
// 1.0.0 took its timeouts as std::optional<std::chrono::milliseconds>; they
// are krm::Timeout now, which takes any duration. on_report returned an id
// for remove_report_handler; it returns a Subscription now.
#define KRM_BUILDING_COMPAT
#include "Session.h"

#include <krm/krm.hpp>

namespace krm {

MotionResult Motion::wait(std::optional<std::chrono::milliseconds> timeout) { return wait(Timeout(timeout)); }
void Motion::cancel(std::optional<std::chrono::milliseconds> timeout) { cancel(Timeout(timeout)); }

Gripper Gripper::open(const std::string& connection, Limit_1_0 timeout, std::function<bool()> interrupt_check)
{
    return open(connection, Timeout(timeout), std::move(interrupt_check));
}
Info Gripper::info(Limit_1_0 timeout) { return info(Timeout(timeout)); }
Limits Gripper::limits(Limit_1_0 timeout) { return limits(Timeout(timeout)); }
State Gripper::state(Limit_1_0 timeout) { return state(Timeout(timeout)); }
Stats Gripper::stats(bool reset, Limit_1_0 timeout) { return stats(reset, Timeout(timeout)); }
MotionResult Gripper::home(Limit_1_0 timeout) { return home(Timeout(timeout)); }
MotionResult Gripper::move(double position, double speed, Limit_1_0 timeout) { return move(position, speed, Timeout(timeout)); }
MotionResult Gripper::grasp(double width, double speed, Limit_1_0 timeout) { return grasp(width, speed, Timeout(timeout)); }
MotionResult Gripper::release(double width, double speed, Limit_1_0 timeout) { return release(width, speed, Timeout(timeout)); }
Motion Gripper::start_home(Limit_1_0 timeout) { return start_home(Timeout(timeout)); }
Motion Gripper::start_move(double position, double speed, Limit_1_0 timeout)
{
    return start_move(position, speed, Timeout(timeout));
}
Motion Gripper::start_grasp(double width, double speed, Limit_1_0 timeout)
{
    return start_grasp(width, speed, Timeout(timeout));
}
Motion Gripper::start_release(double width, double speed, Limit_1_0 timeout)
{
    return start_release(width, speed, Timeout(timeout));
}
void Gripper::stop(Limit_1_0 timeout) { stop(Timeout(timeout)); }
void Gripper::fast_stop(Limit_1_0 timeout) { fast_stop(Timeout(timeout)); }
void Gripper::acknowledge(Limit_1_0 timeout) { acknowledge(Timeout(timeout)); }
void Gripper::set_acceleration(double acceleration, Limit_1_0 timeout) { set_acceleration(acceleration, Timeout(timeout)); }
double Gripper::acceleration(Limit_1_0 timeout) { return acceleration(Timeout(timeout)); }
void Gripper::set_force_limit(double force, Limit_1_0 timeout) { set_force_limit(force, Timeout(timeout)); }
double Gripper::force_limit(Limit_1_0 timeout) { return force_limit(Timeout(timeout)); }
Answer Gripper::request(std::uint8_t command, const std::vector<std::uint8_t>& payload, Limit_1_0 timeout)
{
    return request(command, payload, Timeout(timeout));
}
std::vector<std::uint8_t> Gripper::raw(std::uint8_t command, const std::vector<std::uint8_t>& payload, Limit_1_0 timeout)
{
    return raw(command, payload, Timeout(timeout));
}
void Gripper::set_reports(const std::vector<Report::Kind>& kinds, std::chrono::milliseconds period, Limit_1_0 timeout)
{
    set_reports(kinds, period, Timeout(timeout));
}

// The handler stays until remove_report_handler or the end of the session.
std::uint64_t Gripper::on_report(ReportHandler handler) { return session().AddReportHandler(std::move(handler)); }
void Gripper::remove_report_handler(std::uint64_t id) { session().RemoveReportHandler(id); }

detail::Session& Gripper::session() const
{
    if (!session_)
        throw ConnectionError("this Gripper is not open: it was made empty or moved from; krm::Gripper::open opens one",
            "not open");
    return *session_;
}

} // namespace krm
