#include "PyErrors.h"

#include "PyValues.h"

#include <krm/krm.hpp>

namespace py = pybind11;

namespace krm::python {

namespace {

// The classes, created once at import; they live as long as the module.
struct ErrorTypes {
    PyObject* error = nullptr;
    PyObject* status = nullptr;
    PyObject* connection = nullptr;
    PyObject* connection_string = nullptr;
    PyObject* timeout = nullptr;
    PyObject* limit = nullptr;
};
ErrorTypes types;

PyObject* NewType(py::module_& module, const char* name, const char* doc, py::tuple bases)
{
    const std::string qualified = std::string("krm.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (!type)
        throw py::error_already_set();
    module.add_object(name, py::reinterpret_borrow<py::object>(type));
    return type;
}

// Sets an instance of `type` with `message` and the attributes as the
// pending error.
void Raise(PyObject* type, const char* message, std::initializer_list<std::pair<const char*, py::object>> fields = {})
{
    try {
        py::object error = py::reinterpret_borrow<py::object>(type)(message);
        for (const auto& [name, value] : fields)
            error.attr(name) = value;
        PyErr_SetObject(type, error.ptr());
    } catch (py::error_already_set& failure) {
        failure.restore();
    }
}

void Translate(std::exception_ptr pending)
{
    // A KeyboardInterrupt taken while waiting wins over whatever the wait
    // ended with.
    if (PyErr_Occurred())
        return;
    try {
        std::rethrow_exception(pending);
    } catch (const StatusError& e) {
        Raise(types.status, e.what(),
            {{"command", py::str(e.command())}, {"code", py::cast(e.code())}, {"name", py::str(e.name())},
                {"text", py::str(e.text())}, {"advice", py::str(e.advice())}});
    } catch (const ConnectionStringError& e) {
        Raise(types.connection_string, e.what(), {{"cause", py::str(e.cause())}});
    } catch (const ConnectionError& e) {
        Raise(types.connection, e.what(), {{"cause", py::str(e.cause())}});
    } catch (const TimeoutError& e) {
        Raise(types.timeout, e.what());
    } catch (const LimitError& e) {
        Raise(types.limit, e.what());
    } catch (const InterruptedError& e) {
        // The interrupt check returns true only with a Python error set;
        // anything else asking a wait to end is a plain interrupt.
        PyErr_SetString(PyExc_KeyboardInterrupt, e.what());
    } catch (const Error& e) {
        Raise(types.error, e.what());
    }
}

} // namespace

void BindErrors(py::module_& module)
{
    const auto builtin = [](const char* name) { return py::module_::import("builtins").attr(name); };
    types.error = NewType(module, "Error", "The base of every error of the krm module.",
        py::make_tuple(py::reinterpret_borrow<py::object>(PyExc_Exception)));
    const py::object error = py::reinterpret_borrow<py::object>(types.error);
    types.status = NewType(module, "StatusError",
        "The gripper answered a request with another status than success.\n\n"
        "Attributes: command (the request's name), code (krm.Status), name\n"
        "(\"E_ACCESS_DENIED\"), text (\"Access denied\") and advice (what to do\n"
        "next where the cause is known, else \"\").",
        py::make_tuple(error));
    types.connection = NewType(module, "ConnectionError",
        "The connection could not be made or was lost, or the Gripper is\n"
        "closed. Attribute: cause (the transport's description). Also a\n"
        "builtins.ConnectionError.",
        py::make_tuple(error, builtin("ConnectionError")));
    types.connection_string = NewType(module, "ConnectionStringError",
        "A malformed connection string; the message names the wrong part.\n"
        "Attribute: cause. A ValueError, not a ConnectionError: trying again\n"
        "cannot help.",
        py::make_tuple(error, builtin("ValueError")));
    types.timeout = NewType(module, "TimeoutError",
        "An answer or a motion's end did not come within the timeout; a motion\n"
        "that timed out has been sent STOP. Also a builtins.TimeoutError.",
        py::make_tuple(error, builtin("TimeoutError")));
    types.limit = NewType(module, "LimitError",
        "A value outside the gripper's limits, or the limits could not be read;\n"
        "nothing was sent. Also a ValueError.",
        py::make_tuple(error, builtin("ValueError")));
    py::register_exception_translator(Translate);
}

void ThrowPendingPythonError()
{
    if (PyErr_Occurred())
        throw py::error_already_set();
}

} // namespace krm::python
