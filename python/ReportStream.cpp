#include "ReportStream.h"

#include "PyGripper.h"

namespace py = pybind11;

namespace krm::python {

namespace {
// Longest wait without looking at the signal handlers.
constexpr std::chrono::milliseconds Slice{20};
} // namespace

ReportStream::ReportStream(py::object gripper, std::optional<double> timeout)
    : FOwner(std::move(gripper)), FGripper(FOwner.cast<PyGripper*>())
{
    if (timeout)
        FDeadline = std::chrono::steady_clock::now() + ToTimeout(timeout);
    FHandler = FGripper->AddHandler([queue = FQueue](const Report& report) {
        std::lock_guard lock(queue->mutex);
        if (queue->reports.size() == Capacity) {
            queue->reports.pop_front();
            ++queue->dropped;
        }
        queue->reports.push_back(report);
        queue->arrived.notify_one();
    });
}

ReportStream::~ReportStream() { Close(); }

void ReportStream::Close()
{
    if (!FHandler)
        return;
    FGripper->RemoveReportHandler(*FHandler);
    FHandler.reset();
}

std::uint64_t ReportStream::Dropped() const
{
    std::lock_guard lock(FQueue->mutex);
    return FQueue->dropped;
}

Report ReportStream::Next()
{
    for (;;) {
        if (!FHandler)
            throw py::stop_iteration();
        std::optional<Report> next;
        bool timeUp = false;
        {
            py::gil_scoped_release release;
            std::unique_lock lock(FQueue->mutex);
            auto until = std::chrono::steady_clock::now() + Slice;
            if (FDeadline && *FDeadline < until)
                until = *FDeadline;
            FQueue->arrived.wait_until(lock, until, [this] { return !FQueue->reports.empty(); });
            if (!FQueue->reports.empty()) {
                next = FQueue->reports.front();
                FQueue->reports.pop_front();
            } else {
                timeUp = FDeadline && std::chrono::steady_clock::now() >= *FDeadline;
            }
        }
        if (next)
            return *next;
        if (PyErr_CheckSignals() != 0) {
            FGripper->StopOwnMotions();
            throw py::error_already_set();
        }
        if (timeUp) {
            Close();
            throw py::stop_iteration();
        }
        if (!FGripper->Get().is_open()) {
            Close();
            throw ConnectionError("reports: the link is down or the gripper is closed", "closed");
        }
    }
}

} // namespace krm::python
