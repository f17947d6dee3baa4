#include "PyGripper.h"

#include "PyValues.h"

#include <cmath>
#include <cstdio>
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
    if (!PyErr_Occurred())
        return PyErr_CheckSignals() != 0;
    // A KeyboardInterrupt already taken ended the first wait; only a further
    // signal ends the wait that follows it (STOP's answer). The first error
    // is what the caller raises.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    const bool again = PyErr_CheckSignals() != 0;
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    return again;
}

namespace {

// Python's logger "krm", looked up with the GIL held.
py::object Logger() { return py::module_::import("logging").attr("getLogger")("krm"); }

std::string PacketLine(const Packet& packet)
{
    std::string text = packet.direction == Packet::Direction::sent ? "TX" : "RX";
    char head[16];
    std::snprintf(head, sizeof head, " 0x%02X", packet.command);
    text += head;
    if ((packet.faults & Packet::checksum) != 0)
        text += " (wrong checksum)";
    if ((packet.faults & Packet::stray_bytes) != 0)
        text += " (stray bytes)";
    text += ":";
    for (const auto b : packet.payload) {
        char byte[4];
        std::snprintf(byte, sizeof byte, " %02X", b);
        text += byte;
    }
    return text;
}

} // namespace

std::unique_ptr<PyGripper> PyGripper::Open(const std::string& connection, Options options)
{
    options.interrupt_check = PythonInterrupted;
    options.notice = [](Notice level, const std::string& text) {
        py::gil_scoped_acquire gil;
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        try {
            Logger().attr(level == Notice::warning ? "warning" : "info")(text);
        } catch (py::error_already_set&) {
            // A logging handler's error must not end the session's work.
        }
        PyErr_Restore(type, value, traceback);
    };
    const bool debug = Logger().attr("isEnabledFor")(py::module_::import("logging").attr("DEBUG")).cast<bool>();
    auto gripper = Unlocked([&] { return Gripper::open(connection, options); });
    auto opened = std::unique_ptr<PyGripper>(new PyGripper(std::move(gripper)));
    if (debug)
        opened->AddHandler(Gripper::PacketHandler([](const Packet& packet) {
            py::gil_scoped_acquire gil;
            try {
                Logger().attr("debug")(PacketLine(packet));
            } catch (py::error_already_set&) {
            }
        }));
    return opened;
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
    const auto packetIds = std::exchange(FPacketHandlers, {});
    py::gil_scoped_release release;
    for (const auto id : ids)
        FGripper.remove_report_handler(id);
    for (const auto id : packetIds)
        FGripper.remove_packet_handler(id);
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

std::uint64_t PyGripper::AddHandler(Gripper::PacketHandler handler)
{
    const auto id = Unlocked([&] { return FGripper.on_packet(std::move(handler)); });
    FPacketHandlers.push_back(id);
    return id;
}

std::uint64_t PyGripper::OnPacket(py::object callback)
{
    if (!PyCallable_Check(callback.ptr()))
        throw py::type_error("on_packet needs a callable taking one krm.Packet");
    auto held = std::make_shared<Callback>();
    held->callable = std::move(callback);
    return AddHandler(Gripper::PacketHandler([held](const Packet& packet) {
        py::gil_scoped_acquire gil;
        try {
            held->callable(packet);
        } catch (py::error_already_set& error) {
            error.discard_as_unraisable(held->callable);
        }
    }));
}

void PyGripper::RemoveReportHandler(std::uint64_t id)
{
    std::erase(FHandlers, id);
    py::gil_scoped_release release;
    FGripper.remove_report_handler(id);
}

void PyGripper::RemovePacketHandler(std::uint64_t id)
{
    std::erase(FPacketHandlers, id);
    py::gil_scoped_release release;
    FGripper.remove_packet_handler(id);
}

void PyGripper::CloseAll()
{
    const std::set<PyGripper*> open = live;
    for (PyGripper* gripper : open)
        gripper->Close();
}

} // namespace krm::python
