#pragma once
// The iterators of Gripper.reports() and Gripper.packets(): what a
// krm::ReportQueue or krm::PacketQueue takes from its start on, for
// `timeout` seconds (or until closed). __next__ waits without the GIL; the
// queue's wait looks at Python's signal handlers (the session's interrupt
// check).
#include <pybind11/pybind11.h>

#include <krm/krm.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>

namespace krm::python {

class PyGripper;

template <class Queue>
class QueueStream {
public:
    // What the queue holds: krm::Report or krm::Packet.
    using Item = typename decltype(std::declval<Queue&>().next())::value_type;

    // Takes the queue `take` opens on the gripper.
    QueueStream(pybind11::object gripper, Queue (Gripper::*take)(), std::optional<double> timeout);
    QueueStream(const QueueStream&) = delete;
    QueueStream& operator=(const QueueStream&) = delete;

    // The next item; StopIteration when the time is up or the stream is
    // closed; krm.ConnectionError when the link went down.
    Item Next();
    // Stops taking items; harmless when done already.
    void Close();
    // Items dropped because the consumer fell behind.
    std::uint64_t Dropped() const { return FQueue.dropped(); }

private:
    pybind11::object FOwner; // keeps the krm.Gripper alive
    PyGripper* FGripper;
    Queue FQueue;
    bool FClosed = false;
    const std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::optional<std::chrono::milliseconds> FLimit;
};

using ReportStream = QueueStream<ReportQueue>;
using PacketStream = QueueStream<PacketQueue>;

extern template class QueueStream<ReportQueue>;
extern template class QueueStream<PacketQueue>;

} // namespace krm::python
