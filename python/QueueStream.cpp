#include "QueueStream.h"

#include "PyGripper.h"

namespace py = pybind11;

namespace krm::python {

template <class Queue>
QueueStream<Queue>::QueueStream(py::object gripper, Queue (Gripper::*take)(), std::optional<double> timeout)
    : FOwner(std::move(gripper)), FGripper(FOwner.cast<PyGripper*>()), FQueue((FGripper->Get().*take)())
{
    if (timeout)
        FLimit = ToTimeout(timeout);
}

template <class Queue>
void QueueStream<Queue>::Close()
{
    FClosed = true;
    py::gil_scoped_release release;
    FQueue.close();
}

template <class Queue>
typename QueueStream<Queue>::Item QueueStream<Queue>::Next()
{
    if (FClosed)
        throw py::stop_iteration();
    // What is left of the stream's time; counted from the start, so that no
    // limit, however large, overflows the clock.
    Timeout limit = forever;
    if (FLimit)
        limit = *FLimit - std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FStart);
    std::optional<Item> next;
    try {
        next = Unlocked([&] { return FQueue.next(limit); });
    } catch (const InterruptedError&) {
        // Ctrl+C: the signal handler's error is set.
        FGripper->StopOwnMotions();
        throw py::error_already_set();
    } catch (const ConnectionError&) {
        Close();
        throw;
    }
    if (next)
        return *next;
    Close();
    throw py::stop_iteration();
}

template class QueueStream<ReportQueue>;
template class QueueStream<PacketQueue>;

} // namespace krm::python
