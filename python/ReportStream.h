#pragma once
// The iterator of Gripper.reports(): the reports the gripper sends from its
// start on, for `timeout` seconds (or until closed), taken from a
// krm::ReportQueue. __next__ waits without the GIL; the queue's wait looks
// at Python's signal handlers (the session's interrupt check).
#include <pybind11/pybind11.h>

#include <krm/krm.hpp>

#include <chrono>
#include <cstdint>
#include <optional>

namespace krm::python {

class PyGripper;

class ReportStream {
public:
    ReportStream(pybind11::object gripper, std::optional<double> timeout);
    ReportStream(const ReportStream&) = delete;
    ReportStream& operator=(const ReportStream&) = delete;

    // The next report; StopIteration when the time is up or the stream is
    // closed; krm.ConnectionError when the link went down.
    Report Next();
    // Stops taking reports; harmless when done already.
    void Close();
    // Reports dropped because the consumer fell behind.
    std::uint64_t Dropped() const { return FQueue.dropped(); }

private:
    pybind11::object FOwner; // keeps the krm.Gripper alive
    PyGripper* FGripper;
    ReportQueue FQueue;
    bool FClosed = false;
    const std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::optional<std::chrono::milliseconds> FLimit;
};

} // namespace krm::python
