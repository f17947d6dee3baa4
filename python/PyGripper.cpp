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
        return forever;
    if (!(*seconds >= 0))
        throw py::value_error("timeout must be None (no limit) or a number of seconds >= 0");
    return to_milliseconds(std::chrono::duration<double>(*seconds));
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

std::unique_ptr<PyGripper> PyGripper::Open(const std::string& connection, Options options, bool reconnect)
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
    if (reconnect)
        options.reconnect = Reconnect{};
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
    auto subscriptions = std::exchange(FSubscriptions, {});
    const auto packetIds = std::exchange(FPacketHandlers, {});
    // Ending a subscription waits for its callback, which takes the GIL.
    py::gil_scoped_release release;
    subscriptions.clear();
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
    auto subscription = Unlocked([&] {
        return FGripper.on_report([held](const Report& report) {
            py::gil_scoped_acquire gil;
            try {
                held->callable(report);
            } catch (py::error_already_set& error) {
                error.discard_as_unraisable(held->callable);
            }
        });
    });
    const auto id = FNextSubscription++;
    FSubscriptions.emplace(id, std::move(subscription));
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
    const auto found = FSubscriptions.find(id);
    if (found == FSubscriptions.end())
        return;
    Subscription subscription = std::move(found->second);
    FSubscriptions.erase(found);
    py::gil_scoped_release release;
    subscription.reset();
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
