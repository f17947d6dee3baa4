#pragma once
// krm.Gripper: a krm::Gripper used from Python. Every call into the library
// runs without the GIL, so report handlers on the library's thread can take it;
// the waits look at Python's signal handlers every slice, so Ctrl+C ends
// them (see PythonInterrupted). The Gripper closes when the `with` block,
// close(), the object's end or the interpreter's exit comes first.
#include <pybind11/pybind11.h>

#include <krm/krm.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace krm::python {

// The timeouts in the signatures, in seconds: an answer, a motion's end,
// the whole open.
constexpr double RequestTimeout = 3.0;
constexpr double MotionTimeout = 60.0;
constexpr double OpenTimeout = 10.0;

// The library's timeout from Python's seconds: None is krm::forever, and so
// is anything too large to count (see krm::to_milliseconds). ValueError for
// a negative or NaN value.
std::chrono::milliseconds ToTimeout(std::optional<double> seconds);

// Runs `call` without the GIL, then raises a KeyboardInterrupt the interrupt
// check took meanwhile (the call may have ended normally all the same).
template <class Call> auto Unlocked(Call&& call)
{
    using Result = decltype(call());
    if constexpr (std::is_void_v<Result>) {
        {
            pybind11::gil_scoped_release release;
            call();
        }
        if (PyErr_Occurred())
            throw pybind11::error_already_set();
    } else {
        std::optional<Result> result;
        {
            pybind11::gil_scoped_release release;
            result.emplace(call());
        }
        if (PyErr_Occurred())
            throw pybind11::error_already_set();
        return std::move(*result);
    }
}

// The interrupt check of every Python session: takes the GIL and runs the
// signal handlers; true when one raised (the error stays set for Unlocked).
bool PythonInterrupted();

class PyGripper {
public:
    // `options` as the library takes them (`reconnect`: with the default
    // krm::Reconnect policy), but for the interrupt check and
    // the notices, which go to Python's logger "krm" (the packets too, at
    // DEBUG, when that logger takes DEBUG at open).
    static std::unique_ptr<PyGripper> Open(const std::string& connection, Options options, bool reconnect);
    // Closes without holding the GIL.
    ~PyGripper();
    PyGripper(const PyGripper&) = delete;
    PyGripper& operator=(const PyGripper&) = delete;

    Gripper& Get() { return FGripper; }
    // Closes the session, then drops the report handlers (and with them the
    // Python callables they hold).
    void Close();

    // Keeps a motion started by this session, for StopOwnMotions.
    std::shared_ptr<Motion> Track(Motion motion);
    // Sends STOP to the motions started by this session that still run; a
    // wait outside the library calls it when Ctrl+C ends the wait. Keeps a
    // pending Python error.
    void StopOwnMotions();

    // `callback(report)` for every report; the callable runs on the
    // handlers' thread with the GIL; what it raises is printed as unraisable.
    std::uint64_t OnReport(pybind11::object callback);
    // `callback(packet)` for every frame sent and received, likewise.
    std::uint64_t OnPacket(pybind11::object callback);
    // A C++ handler that needs no GIL.
    std::uint64_t AddHandler(Gripper::PacketHandler handler);
    void RemoveReportHandler(std::uint64_t id);
    void RemovePacketHandler(std::uint64_t id);

    // Closes every Gripper still open; registered with atexit, so no link
    // thread waits for the GIL while the interpreter finalizes.
    static void CloseAll();

private:
    explicit PyGripper(Gripper gripper);
    void DropHandlers();

    Gripper FGripper;
    bool FClosed = false;
    // The on_report callbacks by the ids Python knows them by.
    std::map<std::uint64_t, Subscription> FSubscriptions;
    std::uint64_t FNextSubscription = 1;
    std::vector<std::uint64_t> FPacketHandlers;
    std::vector<std::shared_ptr<Motion>> FMotions;
};

} // namespace krm::python
