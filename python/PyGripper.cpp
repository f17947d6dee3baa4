#include "PyGripper.h"

#include "PyValues.h"

#include <cmath>
#include <set>

namespace py = pybind11;

namespace krm::python {

namespace {

// The Grippers alive, for CloseAll. Guarded by the GIL.
std::set<PyGripper*> live;

// A Python callable held by a library handler. The handler may be dropped
// on any thread, so the reference goes with the GIL.
struct Callback {
    py::object callable;
    ~Callback()
    {
        py::gil_scoped_acquire gil;
        callable = py::object();
    }
};

} // namespace

std::chrono::milliseconds ToTimeout(std::optional<double> seconds)
{
    if (!seconds)
        return NoLimit;
    if (!(*seconds >= 0))
        throw py::value_error("timeout must be None (no limit) or a number of seconds >= 0");
    // Compared before converting: a double beyond the range of the count
    // has no defined conversion.
    const double ms = std::ceil(*seconds * 1000.0);
    if (ms >= static_cast<double>(NoLimit.count()))
        return NoLimit;
    return std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

bool PythonInterrupted()
{
    py::gil_scoped_acquire gil;
    return PyErr_Occurred() || PyErr_CheckSignals() != 0;
}

std::unique_ptr<PyGripper> PyGripper::Open(const std::string& connection, std::optional<double> timeout)
{
    const auto limit = ToTimeout(timeout);
    auto gripper = Unlocked([&] { return Gripper::open(connection, limit, PythonInterrupted); });
    return std::unique_ptr<PyGripper>(new PyGripper(std::move(gripper)));
}

PyGripper::PyGripper(Gripper gripper) : FGripper(std::move(gripper)) { live.insert(this); }

PyGripper::~PyGripper()
{
    live.erase(this);
    Close();
}

void PyGripper::Close()
{
    if (FClosed)
        return;
    FClosed = true;
    {
        py::gil_scoped_release release;
        FGripper.close();
    }
    DropHandlers();
}

void PyGripper::DropHandlers()
{
    const auto ids = std::exchange(FHandlers, {});
    py::gil_scoped_release release;
    for (const auto id : ids)
        FGripper.remove_report_handler(id);
}

std::shared_ptr<Motion> PyGripper::Track(Motion motion)
{
    std::erase_if(FMotions, [](const auto& m) { return m->done(); });
    return FMotions.emplace_back(std::make_shared<Motion>(std::move(motion)));
}

void PyGripper::StopOwnMotions()
{
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    const auto motions = FMotions;
    {
        py::gil_scoped_release release;
        for (const auto& motion : motions) {
            try {
                motion->cancel();
            } catch (const Error&) {
                // Lost or closed meanwhile: nothing left to stop.
            }
        }
    }
    PyErr_Restore(type, value, traceback);
}

std::uint64_t PyGripper::OnReport(py::object callback)
{
    if (!PyCallable_Check(callback.ptr()))
        throw py::type_error("on_report needs a callable taking one krm.Report");
    auto held = std::make_shared<Callback>();
    held->callable = std::move(callback);
    return AddHandler([held](const Report& report) {
        py::gil_scoped_acquire gil;
        try {
            held->callable(report);
        } catch (py::error_already_set& error) {
            error.discard_as_unraisable(held->callable);
        }
    });
}

std::uint64_t PyGripper::AddHandler(Gripper::ReportHandler handler)
{
    const auto id = Unlocked([&] { return FGripper.on_report(std::move(handler)); });
    FHandlers.push_back(id);
    return id;
}

void PyGripper::RemoveReportHandler(std::uint64_t id)
{
    std::erase(FHandlers, id);
    py::gil_scoped_release release;
    FGripper.remove_report_handler(id);
}

void PyGripper::CloseAll()
{
    const std::set<PyGripper*> open = live;
    for (PyGripper* gripper : open)
        gripper->Close();
}

} // namespace krm::python
