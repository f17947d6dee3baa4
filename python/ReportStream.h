#pragma once
// The iterator of Gripper.reports(): the reports the gripper sends from its
// start on, for `timeout` seconds (or until closed). The library's handler
// only queues them; __next__ waits for the next one without the GIL, in
// slices, looking at Python's signal handlers between them.
#include <pybind11/pybind11.h>

#include <krm/krm.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace krm::python {

class PyGripper;

class ReportStream {
public:
    // Reports kept for a consumer that falls behind; older ones are dropped.
    static constexpr std::size_t Capacity = 10000;

    ReportStream(pybind11::object gripper, std::optional<double> timeout);
    ~ReportStream();
    ReportStream(const ReportStream&) = delete;
    ReportStream& operator=(const ReportStream&) = delete;

    // The next report; StopIteration when the time is up or the stream is
    // closed; krm.ConnectionError when the link went down.
    Report Next();
    // Stops taking reports; harmless when done already.
    void Close();
    // Reports dropped because the consumer fell behind.
    std::uint64_t Dropped() const;

private:
    struct Queue {
        mutable std::mutex mutex;
        std::condition_variable arrived;
        std::deque<Report> reports;
        std::uint64_t dropped = 0;
    };

    pybind11::object FOwner; // keeps the krm.Gripper alive
    PyGripper* FGripper;
    std::shared_ptr<Queue> FQueue = std::make_shared<Queue>();
    std::optional<std::chrono::steady_clock::time_point> FDeadline;
    std::optional<std::uint64_t> FHandler;
};

} // namespace krm::python
