#include "PyScan.h"

#include "PyGripper.h"
#include "PyValues.h"

#include <pybind11/stl.h>

#include <krm/krm.hpp>

namespace py = pybind11;

namespace krm::python {

namespace {

const char* KindName(ScanProblem::Kind kind)
{
    switch (kind) {
    case ScanProblem::Kind::in_use:
        return "in_use";
    case ScanProblem::Kind::no_permission:
        return "no_permission";
    case ScanProblem::Kind::refused:
        return "refused";
    case ScanProblem::Kind::unreachable:
        break;
    }
    return "unreachable";
}

py::object Result(const ScanResult& result)
{
    py::list found;
    for (const FoundGripper& f : result.found)
        found.append(py::reinterpret_steal<py::object>(MakeValue("FoundGripper", f.connection, f.info)));
    py::list problems;
    const py::handle kinds = ValueClass("ScanProblemKind");
    for (const ScanProblem& p : result.problems)
        problems.append(py::reinterpret_steal<py::object>(
            MakeValue("ScanProblem", p.connection, kinds(KindName(p.kind)), p.message)));
    return py::reinterpret_steal<py::object>(MakeValue("ScanResult", py::tuple(found), py::tuple(problems)));
}

} // namespace

void BindScan(py::module_& m)
{
    m.def(
        "scan",
        [](const std::vector<std::string>& connections, bool system_ports, const std::vector<int>& line_speeds,
            const py::object& can_ids, int can_kbits, double answer_time) {
            ScanOptions options;
            options.connections = connections;
            options.system_ports = system_ports;
            options.line_speeds = line_speeds;
            const py::object& ids = can_ids;
            if (!PyRange_Check(ids.ptr()) || py::len(ids) == 0 || py::cast<long long>(ids.attr("step")) != 1)
                throw py::value_error("can_ids must be a non-empty range of step 1");
            const auto first = py::cast<long long>(ids.attr("start"));
            const auto last = py::cast<long long>(ids.attr("stop")) - 1;
            if (first < 0 || last > 0x1FFFFFFE)
                throw py::value_error("can_ids must lie within 0 to 0x1FFFFFFE");
            options.first_can_id = static_cast<std::uint32_t>(first);
            options.last_can_id = static_cast<std::uint32_t>(last);
            options.can_kbits = can_kbits;
            options.answer_time = ToTimeout(answer_time);
            return Result(Unlocked([&] { return scan(options); }));
        },
        py::arg("connections") = std::vector<std::string>{}, py::kw_only(), py::arg("system_ports") = true,
        py::arg("line_speeds") = std::vector<int>{},
        py::arg("can_ids") = py::module_::import("builtins").attr("range")(0, 256), py::arg("can_kbits") = 250,
        py::arg("answer_time") = 0.25,
        "Finds grippers whose port, line speed or CAN identifier is unknown and\n"
        "returns a krm.ScanResult: what answered (connection strings that open\n"
        "it, with its krm.Info) and the ports that could not be tried.\n\n"
        "It tries the serial ports the system lists (unless system_ports is\n"
        "False) at each of `line_speeds` (empty: all, 115200 first), the CAN\n"
        "interfaces of the available plug-ins at `can_kbits` with each\n"
        "identifier of `can_ids`, and each of `connections` (a serial one\n"
        "without @BAUD at each line speed, a CAN one without #ID with each\n"
        "identifier). It writes nothing but the system-information request,\n"
        "which changes nothing on a gripper; other devices may sit on the\n"
        "ports it tries. Ports are tried in parallel: the default line speed\n"
        "takes about a quarter of a second, all line speeds about 2.5 s; each\n"
        "attempt waits `answer_time` seconds for the answer. A port in use by\n"
        "another program is reported and left alone.\n\n"
        "krm.ConnectionStringError for a malformed connection string;\n"
        "ValueError for a line speed, bit rate or identifier not offered.");
}

} // namespace krm::python
