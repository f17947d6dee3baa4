// The compiled part of the Python package krm (krm._krm): one gripper
// session from Python, over the C++ library. Names follow the C++
// interface; units are mm, mm/s, mm/s² and N, timeouts and durations
// seconds, receive times seconds since the epoch (as time.time()). The
// values it hands out are the classes of krm._values (PyValues.h).
#include "PyErrors.h"
#include "PyGripper.h"
#include "PyScan.h"
#include "PyValues.h"
#include "QueueStream.h"

#include <pybind11/stl.h>

#include <krm/krm.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace py = pybind11;
using namespace krm;
using krm::python::PyGripper;
using krm::python::PacketStream;
using krm::python::QueueStream;
using krm::python::ReportStream;
using krm::python::MotionTimeout;
using krm::python::OpenTimeout;
using krm::python::RequestTimeout;
using krm::python::ToTimeout;
using krm::python::Seconds;
using krm::python::Unlocked;

namespace {

py::bytes Bytes(const std::vector<std::uint8_t>& bytes)
{
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void BindMotion(py::module_& m)
{
    py::class_<Motion, std::shared_ptr<Motion>>(m, "Motion",
        "A motion started by Gripper.start_home/start_move/start_grasp/\n"
        "start_release. It runs on whether or not this object lives; the object\n"
        "only watches it.")
        .def("kind", &Motion::kind, "The kind of the motion (krm.MotionKind).")
        .def("done", &Motion::done, "True once the final answer came (or the link was lost).")
        .def(
            "wait",
            [](Motion& motion, std::optional<double> timeout) {
                const Timeout limit = ToTimeout(timeout);
                return Unlocked([&] { return motion.wait(limit); });
            },
            py::arg("timeout") = MotionTimeout,
            "Waits for the end of the motion and returns its krm.MotionResult.\n"
            "When the timeout (seconds; None: no limit) runs out, STOP is sent and\n"
            "krm.TimeoutError raised; krm.ConnectionError when the link is lost\n"
            "first. Ctrl+C sends STOP and raises KeyboardInterrupt.")
        .def(
            "wait_for",
            [](Motion& motion, double timeout) {
                const auto limit = ToTimeout(timeout);
                return Unlocked([&] { return motion.wait_for(limit); });
            },
            py::arg("timeout"),
            "Waits at most `timeout` seconds; the krm.MotionResult, or None when\n"
            "the motion has not ended by then (nothing is sent).")
        .def(
            "cancel",
            [](Motion& motion, std::optional<double> timeout) {
                const Timeout limit = ToTimeout(timeout);
                Unlocked([&] { motion.cancel(limit); });
            },
            py::arg("timeout") = RequestTimeout,
            "Sends STOP if the motion is still running; it then ends with\n"
            "Status.cmd_aborted (wait() tells).")
        .def("__repr__", [](Motion& motion) {
            return "<krm.Motion " + motion_name(motion.kind()) + (motion.done() ? " done>" : " running>");
        });
}

// A payload from bytes, a bytearray or an iterable of ints 0 to 255.
std::vector<std::uint8_t> PayloadBytes(const py::object& payload)
{
    PyObject* bytes = PyBytes_FromObject(payload.ptr());
    if (!bytes)
        throw py::error_already_set();
    const std::string data = py::reinterpret_steal<py::bytes>(bytes);
    return {data.begin(), data.end()};
}

std::vector<Report::Kind> ReportKinds(const py::object& kinds)
{
    static const std::pair<const char*, Report::Kind> names[] = {{"flags", Report::Kind::flags},
        {"grasping_state", Report::Kind::grasping_state}, {"position", Report::Kind::position},
        {"speed", Report::Kind::speed}, {"force", Report::Kind::force}};
    std::vector<Report::Kind> chosen;
    for (const py::handle item : kinds) {
        if (!py::isinstance<py::str>(item)) {
            chosen.push_back(item.cast<Report::Kind>());
            continue;
        }
        const auto name = item.cast<std::string>();
        const auto found = std::find_if(std::begin(names), std::end(names), [&](const auto& n) { return name == n.first; });
        if (found == std::end(names))
            throw py::value_error("unknown report kind \"" + name + "\"");
        chosen.push_back(found->second);
    }
    return chosen;
}

std::chrono::milliseconds ReportPeriod(double seconds)
{
    if (!(seconds >= 0.01 && seconds <= 65.535))
        throw py::value_error("report_period must be 0.01 to 65.535 seconds");
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000.0)));
}

void BindTraffic(py::module_& m)
{
    py::class_<Packet>(m, "Packet",
        "One frame on the link: direction (\"sent\" or \"received\"),\n"
        "command byte, payload (an answer's starts with its status word), time\n"
        "(seconds since the epoch) and faults (Packet.CHECKSUM: wrong checksum;\n"
        "Packet.STRAY_BYTES: bytes that formed no frame, in payload).")
        .def_property_readonly("direction",
            [](const Packet& p) { return p.direction == Packet::Direction::sent ? "sent" : "received"; })
        .def_readonly("command", &Packet::command)
        .def_property_readonly("payload", [](const Packet& p) { return Bytes(p.payload); })
        .def_property_readonly("time", [](const Packet& p) { return Seconds(p.time).value_or(0.0); })
        .def_readonly("faults", &Packet::faults)
        .def("ok", &Packet::ok, "True for a frame without faults.")
        .def_property_readonly_static("CHECKSUM", [](const py::object&) { return Packet::checksum; })
        .def_property_readonly_static("STRAY_BYTES", [](const py::object&) { return Packet::stray_bytes; })
        .def("__repr__", [](const Packet& p) {
            char head[64];
            std::snprintf(head, sizeof head, "<krm.Packet %s 0x%02X, %zu bytes%s>",
                p.direction == Packet::Direction::sent ? "sent" : "received", p.command, p.payload.size(),
                p.ok() ? "" : ", faulty");
            return std::string(head);
        });
    py::class_<Answer>(m, "Answer",
        "The gripper's answer to Gripper.request: status, pending (a final\n"
        "answer followed a \"pending\" one), data (bytes) and duration (s).")
        .def_readonly("status", &Answer::status)
        .def_readonly("pending", &Answer::pending)
        .def_property_readonly("data", [](const Answer& a) { return Bytes(a.data); })
        .def_property_readonly("duration", [](const Answer& a) { return a.duration.count(); })
        .def("ok", &Answer::ok, "True when the status is success.")
        .def("__repr__", [](const Answer& a) {
            return "<krm.Answer " + status_name(a.status) + (a.pending ? " after pending" : "") + ", " +
                   std::to_string(a.data.size()) + " bytes>";
        });
}

void BindGripper(py::module_& m)
{
    py::class_<PyGripper> c(m, "Gripper",
        "One session with one gripper::\n\n"
        "    with krm.Gripper(\"tcp:127.0.0.1:1000\") as g:\n"
        "        g.home()\n"
        "        r = g.grasp(20, 50)   # r.status, r.duration (s), r.position (mm)\n\n"
        "Connection strings: \"tcp:HOST:PORT\" (\"tcp:[::1]:1000\" for IPv6),\n"
        "\"serial:PATH[@BAUD]\" (default 115200),\n"
        "\"can:PLUGIN:INTERFACE[@KBITS][#ID]\" (default 250 kbit/s, identifier 100).\n\n"
        "The link runs on a thread of the library; every call may come from any\n"
        "Python thread and waits without holding the GIL. Ctrl+C ends any wait\n"
        "with KeyboardInterrupt, after sending STOP to a motion this session\n"
        "started. Every blocking call takes `timeout` in seconds: 3 for an\n"
        "answer, 60 for a motion unless given; None waits without limit. The\n"
        "Gripper closes at the end of the `with` block, on close(), when it is freed, or at\n"
        "the interpreter's exit; a motion it started that still runs gets STOP\n"
        "first.");
    const auto open = [](const std::string& connection, std::optional<double> timeout, const py::object& reports,
                          double reportPeriod, bool reconnect) {
        Options options;
        options.timeout = ToTimeout(timeout);
        if (!reports.is_none() && !py::isinstance<py::str>(reports))
            options.reports = ReportKinds(reports);
        else if (!reports.is_none() && reports.cast<std::string>() != "default")
            throw py::value_error("reports must be None, \"default\" or an iterable of report kinds");
        if (reports.is_none())
            options.reports.clear();
        options.report_period = ReportPeriod(reportPeriod);
        return PyGripper::Open(connection, std::move(options), reconnect);
    };
    const char* openDoc =
        "Connects, waiting up to `timeout` seconds (default 10) for the link;\n"
        "then asks the gripper to report by itself and reads its limits.\n"
        "`reports`: the reports to switch on, an iterable of krm.Report.Kind\n"
        "or their names (\"flags\", \"grasping_state\", \"position\",\n"
        "\"speed\", \"force\"), None for none; \"default\" is all five.\n"
        "`report_period`: seconds, at least 0.01 (default 0.05). close()\n"
        "switches them off again. `reconnect`: after a lost link, calls raise\n"
        "krm.ConnectionError at once while the session connects again in the\n"
        "background (0.2 s, then twice as long after each failed attempt, up\n"
        "to 5 s), reads the limits again and switches on the reports it had;\n"
        "a motion the loss ended is not sent again (see link_state).\n"
        "krm.ConnectionStringError (a ValueError)\n"
        "when the string is malformed (the message names the wrong part);\n"
        "krm.ConnectionError when the link cannot be made. Notices (connected, link lost, STOP sent because a motion was\n"
        "given up on, stray answers) go to the logger \"krm\"; when it takes\n"
        "DEBUG at open, every packet too.";
    c.def(py::init(open), py::arg("connection"), py::arg("timeout") = OpenTimeout, py::kw_only(),
        py::arg("reports") = "default", py::arg("report_period") = 0.05, py::arg("reconnect") = false, openDoc);
    c.def_static("open", open, py::arg("connection"), py::arg("timeout") = OpenTimeout, py::kw_only(),
        py::arg("reports") = "default", py::arg("report_period") = 0.05, py::arg("reconnect") = false,
        "Connects and returns a krm.Gripper; see Gripper().");
    c.def("__enter__", [](py::object self) { return self; });
    c.def(
        "__exit__", [](PyGripper& g, const py::args&) { g.Close(); }, "Closes the Gripper.");
    c.def("close", &PyGripper::Close,
        "Sends STOP if a motion this session started is still running, then\n"
        "closes the link. Later calls raise krm.ConnectionError. Harmless when\n"
        "already closed.");
    c.def(
        "is_open", [](PyGripper& g) { return g.Get().is_open(); }, "True while the link is up.");
    c.def_property_readonly(
        "link_state",
        [](PyGripper& g) {
            static const char* const names[] = {"up", "down", "closed"};
            return py::module_::import("krm._values").attr("LinkState")(names[static_cast<int>(g.Get().link_state())]);
        },
        "The link: krm.LinkState.up, .down (lost; with reconnect=True the\n"
        "session is connecting again) or .closed.");
    c.def(
        "connection", [](PyGripper& g) { return g.Get().connection(); },
        "The connection string this Gripper was opened with.");
    c.def("__repr__", [](PyGripper& g) {
        return "<krm.Gripper " + g.Get().connection() + (g.Get().is_open() ? " open>" : " closed>");
    });

    const auto t = py::arg("timeout") = RequestTimeout;
    const auto mt = py::arg("timeout") = MotionTimeout;
    c.def("info",
        [](PyGripper& g, std::optional<double> s) { return Unlocked([&] { return g.Get().info(ToTimeout(s)); }); },
        "System information (krm.Info).", t);
    c.def("limits",
        [](PyGripper& g, std::optional<double> s) { return Unlocked([&] { return g.Get().limits(ToTimeout(s)); }); },
        "System limits (krm.Limits), read from the gripper.", t);
    c.def("state",
        [](PyGripper& g, std::optional<double> s) { return Unlocked([&] { return g.Get().state(ToTimeout(s)); }); },
        "Asks the gripper for its system state, grasping state and position\n"
        "(krm.State); speed and force are the latest reported.",
        t);
    c.def("stats",
        [](PyGripper& g, bool reset, std::optional<double> s) {
            return Unlocked([&] { return g.Get().stats(reset, ToTimeout(s)); });
        },
        "Grasping statistics (krm.Stats); `reset` clears them after reading.", py::arg("reset") = false, t);

    c.def("home",
        [](PyGripper& g, std::optional<double> s) { return Unlocked([&] { return g.Get().home(ToTimeout(s)); }); },
        "Homes the fingers and waits for the end (krm.MotionResult).", mt);
    c.def("move",
        [](PyGripper& g, double position, double speed, std::optional<double> s) {
            return Unlocked([&] { return g.Get().move(position, speed, ToTimeout(s)); });
        },
        "Moves the fingers to `position` (mm) at `speed` (mm/s) and waits for\n"
        "the end (krm.MotionResult). krm.LimitError (a ValueError) for a value\n"
        "outside the gripper's limits; krm.StatusError when the gripper refuses\n"
        "to start; a motion that ran returns its final status, whatever it is.",
        py::arg("position"), py::arg("speed"), mt);
    c.def("grasp",
        [](PyGripper& g, double width, double speed, std::optional<double> s) {
            return Unlocked([&] { return g.Get().grasp(width, speed, ToTimeout(s)); });
        },
        "Grasps a part of nominal `width` (mm) at `speed` (mm/s) and waits for\n"
        "the end; result.position is the width then (see move for errors).",
        py::arg("width"), py::arg("speed"), mt);
    c.def("release",
        [](PyGripper& g, double width, double speed, std::optional<double> s) {
            return Unlocked([&] { return g.Get().release(width, speed, ToTimeout(s)); });
        },
        "Opens to `width` (mm) at `speed` (mm/s), letting the part go, and waits\n"
        "for the end (see move for errors).",
        py::arg("width"), py::arg("speed"), mt);
    c.def("start_home",
        [](PyGripper& g, std::optional<double> s) {
            return g.Track(Unlocked([&] { return g.Get().start_home(ToTimeout(s)); }));
        },
        "Starts homing and returns a krm.Motion once the gripper accepted it;\n"
        "`timeout` bounds the wait for that acceptance.",
        t);
    c.def("start_move",
        [](PyGripper& g, double position, double speed, std::optional<double> s) {
            return g.Track(Unlocked([&] { return g.Get().start_move(position, speed, ToTimeout(s)); }));
        },
        "Starts a move (see move) and returns a krm.Motion.", py::arg("position"), py::arg("speed"), t);
    c.def("start_grasp",
        [](PyGripper& g, double width, double speed, std::optional<double> s) {
            return g.Track(Unlocked([&] { return g.Get().start_grasp(width, speed, ToTimeout(s)); }));
        },
        "Starts a grasp (see grasp) and returns a krm.Motion.", py::arg("width"), py::arg("speed"), t);
    c.def("start_release",
        [](PyGripper& g, double width, double speed, std::optional<double> s) {
            return g.Track(Unlocked([&] { return g.Get().start_release(width, speed, ToTimeout(s)); }));
        },
        "Starts a release (see release) and returns a krm.Motion.", py::arg("width"), py::arg("speed"), t);

    c.def("stop",
        [](PyGripper& g, std::optional<double> s) { Unlocked([&] { g.Get().stop(ToTimeout(s)); }); },
        "Stops the fingers (braking at the set acceleration).", t);
    c.def("fast_stop",
        [](PyGripper& g, std::optional<double> s) { Unlocked([&] { g.Get().fast_stop(ToTimeout(s)); }); },
        "Stops at once; motions are refused until acknowledge().", t);
    c.def("acknowledge",
        [](PyGripper& g, std::optional<double> s) { Unlocked([&] { g.Get().acknowledge(ToTimeout(s)); }); },
        "Acknowledges a fast stop.", t);
    c.def("set_acceleration",
        [](PyGripper& g, double value, std::optional<double> s) {
            Unlocked([&] { g.Get().set_acceleration(value, ToTimeout(s)); });
        },
        "Sets the acceleration (mm/s²); krm.LimitError outside the limits.", py::arg("acceleration"), t);
    c.def("acceleration",
        [](PyGripper& g, std::optional<double> s) {
            return Unlocked([&] { return g.Get().acceleration(ToTimeout(s)); });
        },
        "The acceleration (mm/s²).", t);
    c.def("set_force_limit",
        [](PyGripper& g, double value, std::optional<double> s) {
            Unlocked([&] { g.Get().set_force_limit(value, ToTimeout(s)); });
        },
        "Sets the grasping-force limit (N); krm.LimitError outside the limits.", py::arg("force"), t);
    c.def("force_limit",
        [](PyGripper& g, std::optional<double> s) {
            return Unlocked([&] { return g.Get().force_limit(ToTimeout(s)); });
        },
        "The grasping-force limit (N).", t);
    c.def("raw",
        [](PyGripper& g, int command, const py::object& payload, std::optional<double> s) {
            if (command < 0 || command > 255)
                throw py::value_error("command must be a byte, 0 to 255");
            const auto data = PayloadBytes(payload);
            return Bytes(Unlocked([&] { return g.Get().raw(static_cast<std::uint8_t>(command), data, ToTimeout(s)); }));
        },
        "Sends any command byte with any payload (bytes, or an iterable of\n"
        "ints) and returns the result bytes of its answer, after the status\n"
        "word. A command answered with cmd_pending is waited for like a motion\n"
        "and its final answer's bytes are returned. krm.StatusError for another\n"
        "status than success.",
        py::arg("command"), py::arg("payload") = py::bytes(), t);

    c.def("request",
        [](PyGripper& g, int command, const py::object& payload, std::optional<double> s) {
            if (command < 0 || command > 255)
                throw py::value_error("command must be a byte, 0 to 255");
            const auto data = PayloadBytes(payload);
            return Unlocked([&] { return g.Get().request(static_cast<std::uint8_t>(command), data, ToTimeout(s)); });
        },
        "Sends any command byte with any payload and returns the gripper's\n"
        "answer (krm.Answer) whatever its status; a \"pending\" answer is\n"
        "followed by the final one (answer.pending tells). A motion's command\n"
        "byte gets STOP when its answer does not come or the wait ends early.",
        py::arg("command"), py::arg("payload") = py::bytes(), t);
    c.def("set_reports",
        [](PyGripper& g, const py::object& kinds, double period, std::optional<double> s) {
            const auto chosen = kinds.is_none() ? std::vector<Report::Kind>{} : ReportKinds(kinds);
            Unlocked([&] { g.Get().set_reports(chosen, ReportPeriod(period), ToTimeout(s)); });
        },
        "Switches on the reports `kinds` (as for Gripper(); None: none) at\n"
        "`period` seconds and off the others this session switched on.",
        py::arg("kinds"), py::arg("period") = 0.05, t);
    c.def("on_packet", &PyGripper::OnPacket, py::arg("callback"),
        "Calls `callback(packet)` (a krm.Packet) for every frame sent and\n"
        "received from now on, also faulty ones; runs as on_report callbacks.\n"
        "Returns an id for remove_packet_handler.");
    c.def("remove_packet_handler", &PyGripper::RemovePacketHandler, py::arg("id"),
        "Removes a callback added by on_packet.");
    c.def(
        "packets",
        [](py::object self, std::optional<double> timeout) {
            return std::make_unique<PacketStream>(std::move(self), &Gripper::packets, timeout);
        },
        py::arg("timeout") = py::none(),
        "An iterator over the frames sent and received from now on (krm.Packet,\n"
        "faulty ones too), in the order they passed, for `timeout` seconds\n"
        "(None: until the iterator is closed or dropped)::\n\n"
        "    for packet in g.packets(timeout=2.0):\n"
        "        print(packet.direction, hex(packet.command))\n\n"
        "It raises krm.ConnectionError when the link goes down; Ctrl+C ends\n"
        "the wait with KeyboardInterrupt, after sending STOP to a motion this\n"
        "session started.");
    c.def(
        "write_packet_log",
        [](PyGripper& g, const std::string& path) { Unlocked([&] { g.Get().write_packet_log(path); }); },
        py::arg("path"),
        "Writes every frame from now on to `path` as a CSV packet log (the\n"
        "layout of krm-cli --log); an empty path stops.");
    c.def(
        "stray_answers", [](PyGripper& g) { return g.Get().stray_answers(); },
        "Answers that came while no request waited for them.");
    c.def("on_report", &PyGripper::OnReport, py::arg("callback"),
        "Calls `callback(report)` (a krm.Report) for every report the gripper\n"
        "sends by itself and returns an id for remove_report_handler. The\n"
        "callback runs on a thread of the library, one report at a time\n"
        "(reports that arrive meanwhile wait for it); what it raises is\n"
        "printed, not passed on. It may call this Gripper and close it.");
    c.def("remove_report_handler", &PyGripper::RemoveReportHandler, py::arg("id"),
        "Removes a callback added by on_report.");
    c.def(
        "reports",
        [](py::object self, std::optional<double> timeout) {
            return std::make_unique<ReportStream>(std::move(self), &Gripper::reports, timeout);
        },
        py::arg("timeout") = py::none(),
        "An iterator over the reports the gripper sends from now on, for\n"
        "`timeout` seconds (None: until the iterator is closed or dropped)::\n\n"
        "    for report in g.reports(timeout=2.0):\n"
        "        print(report.position)\n\n"
        "It raises krm.ConnectionError when the link goes down; Ctrl+C ends\n"
        "the wait with KeyboardInterrupt, after sending STOP to a motion this\n"
        "session started.");
    c.def(
        "last_state", [](PyGripper& g) { return Unlocked([&] { return g.Get().last_state(); }); },
        "The latest values the gripper reported by itself, with their receive\n"
        "times (krm.State); no request is sent.");
}

// Binds the iterator class `name` that Gripper.`call`() returns; `call`
// names what it yields too ("reports", "packets").
template <class Queue>
void BindStream(py::module_& m, const char* name, const std::string& call)
{
    using Stream = QueueStream<Queue>;
    std::string items = call;
    items[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(items[0])));
    const std::string doc = "The iterator Gripper." + call + "() returns; also a context manager that\n"
        "stops taking " + call + " at its end.";
    const std::string repr = std::string("<krm.") + name + ", ";
    py::class_<Stream>(m, name, doc.c_str())
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Stream::Next)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Stream& s, const py::args&) { s.Close(); })
        .def("close", &Stream::Close, ("Stops taking " + call + "; the iteration ends.").c_str())
        .def_property_readonly("dropped", &Stream::Dropped,
            (items + " dropped because more than 10,000 waited to be taken.").c_str())
        .def("__repr__", [repr, call](const Stream& s) {
            return repr + std::to_string(s.Dropped()) + " " + call + " dropped>";
        });
}

} // namespace

PYBIND11_MODULE(_krm, m)
{
    m.doc() = "The compiled part of the krm package; use it through krm.";
    m.attr("__version__") = version();
    krm::python::BindErrors(m);
    BindMotion(m);
    BindStream<ReportQueue>(m, "ReportStream", "reports");
    BindTraffic(m);
    BindStream<PacketQueue>(m, "PacketStream", "packets");
    BindGripper(m);
    krm::python::BindScan(m);
    m.def("version", &version, "The C++ library's version, as \"1.0.0\".");
    m.def("status_name", &status_name, py::arg("status"), "The protocol's name of a status (\"E_ACCESS_DENIED\").");
    m.def("status_text", &status_text, py::arg("status"), "The text of a status (\"Access denied\").");
    m.def("grasping_state_text", &grasping_state_text, py::arg("state"),
        "\"idle\", \"grasping\", \"no part\", \"part lost\", \"holding\" or \"releasing\".");
    m.def("flag_texts", &flag_texts, py::arg("flags"),
        "The texts of the set flags in bit order (\"Referenced\", \"Fast stop\", ...).");
    m.def("motion_name", &motion_name, py::arg("kind"), "\"home\", \"move\", \"grasp\", \"release\" or \"raw\".");
    py::module_::import("atexit").attr("register")(py::cpp_function(&PyGripper::CloseAll));
}
