#include "PyValues.h"

#include <pybind11/stl.h>

#include <map>
#include <string>

namespace py = pybind11;

namespace krm::python {

namespace {

py::object Flags(std::uint32_t flags) { return py::reinterpret_borrow<py::object>(ValueClass("Flag"))(flags); }

py::bytes Bytes(const std::vector<std::uint8_t>& bytes)
{
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

} // namespace

py::handle ValueClass(const char* name)
{
    // Held for the life of the interpreter, as the module holds them too.
    static std::map<std::string, PyObject*> classes;
    PyObject*& cls = classes[name];
    if (!cls)
        cls = py::object(py::module_::import("krm._values").attr(name)).release().ptr();
    return cls;
}

std::optional<double> Seconds(Clock::time_point time)
{
    if (time == Clock::time_point{})
        return std::nullopt;
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

} // namespace krm::python

namespace pybind11::detail {

using krm::python::MakeValue;
using krm::python::Seconds;

handle type_caster<krm::Info>::cast(const krm::Info& i, return_value_policy, handle)
{
    return MakeValue("Info", i.gripper_type, i.hardware_revision, i.firmware_revision, i.serial_number);
}

handle type_caster<krm::Limits>::cast(const krm::Limits& l, return_value_policy, handle)
{
    return MakeValue("Limits", l.stroke, l.min_speed, l.max_speed, l.min_acceleration, l.max_acceleration,
        l.min_force, l.max_force, l.extra);
}

handle type_caster<krm::Stats>::cast(const krm::Stats& s, return_value_policy, handle)
{
    return MakeValue("Stats", s.grasps, s.not_found, s.lost);
}

handle type_caster<krm::State>::cast(const krm::State& s, return_value_policy, handle)
{
    return MakeValue("State", krm::python::Flags(s.flags), s.grasping_state, s.position, s.speed, s.force,
        Seconds(s.flags_time), Seconds(s.grasping_state_time), Seconds(s.position_time), Seconds(s.speed_time),
        Seconds(s.force_time));
}

handle type_caster<krm::Report>::cast(const krm::Report& r, return_value_policy, handle)
{
    return MakeValue("Report", r.kind, Seconds(r.time).value_or(0.0), krm::python::Flags(r.flags),
        r.grasping_state, r.position, r.speed, r.force);
}

handle type_caster<krm::MotionResult>::cast(const krm::MotionResult& r, return_value_policy, handle)
{
    return MakeValue("MotionResult", r.kind, r.status, r.duration.count(), r.position, krm::python::Bytes(r.data));
}

} // namespace pybind11::detail
