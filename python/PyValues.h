#pragma once
// The library's values as the Python classes of krm._values: the enums as
// enum.IntEnum (the flags as enum.IntFlag), the results and readings as
// frozen dataclasses. Every translation unit that hands one of these types
// to Python or takes one from it includes this header.
#include <pybind11/pybind11.h>

#include <krm/krm.hpp>

#include <chrono>
#include <optional>

namespace krm::python {

// The class `name` of krm._values (looked up once; it lives as long as the
// interpreter).
pybind11::handle ValueClass(const char* name);

// A receive time as seconds since the epoch; None for "not received yet".
std::optional<double> Seconds(Clock::time_point time);

// Makes the object of class `name` from `args`; a new reference.
template <class... Args> pybind11::handle MakeValue(const char* name, Args&&... args)
{
    return ValueClass(name)(std::forward<Args>(args)...).release();
}

} // namespace krm::python

namespace pybind11::detail {

// An enum of the library to and from its IntEnum of krm._values (any
// integer is taken).
template <class E> struct krm_enum_caster {
    bool load(handle source, bool)
    {
        PyObject* number = PyNumber_Index(source.ptr());
        if (!number) {
            PyErr_Clear();
            return false;
        }
        const long v = PyLong_AsLong(number);
        Py_DECREF(number);
        if (v == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        value = static_cast<E>(v);
        return true;
    }
    operator E&() { return value; }
    template <class U> using cast_op_type = E&;
    E value{};
};

#define KRM_ENUM_CASTER(Type, Name)                                                                          \
    template <> struct type_caster<Type> : krm_enum_caster<Type> {                                          \
        static constexpr auto name = const_name("krm." Name);                                              \
        static handle cast(Type v, return_value_policy, handle)                                              \
        {                                                                                                    \
            return krm::python::MakeValue(Name, static_cast<int>(v));                                        \
        }                                                                                                    \
    }

KRM_ENUM_CASTER(krm::Status, "Status");
KRM_ENUM_CASTER(krm::GraspingState, "GraspingState");
KRM_ENUM_CASTER(krm::MotionKind, "MotionKind");
KRM_ENUM_CASTER(krm::Report::Kind, "ReportKind");

#undef KRM_ENUM_CASTER

// A value of the library to its dataclass; never taken from Python.
template <class T> struct krm_value_caster {
    bool load(handle, bool) { return false; }
    operator T&() { return value; }
    template <class U> using cast_op_type = T&;
    T value;
};

#define KRM_VALUE_CASTER(Type, Name)                                                                         \
    template <> struct type_caster<Type> : krm_value_caster<Type> {                                         \
        static constexpr auto name = const_name("krm." Name);                                              \
        static handle cast(const Type& v, return_value_policy, handle);                                      \
    }

KRM_VALUE_CASTER(krm::Info, "Info");
KRM_VALUE_CASTER(krm::Limits, "Limits");
KRM_VALUE_CASTER(krm::Stats, "Stats");
KRM_VALUE_CASTER(krm::State, "State");
KRM_VALUE_CASTER(krm::Report, "Report");
KRM_VALUE_CASTER(krm::MotionResult, "MotionResult");

#undef KRM_VALUE_CASTER

} // namespace pybind11::detail
