#include "ReportDelivery.h"

#include <vector>

namespace krm::detail {

ReportDelivery::~ReportDelivery()
{
    Stop();
    // A handler that destroyed its own session: its thread ends by itself.
    if (FThread.joinable())
        FThread.detach();
}

std::uint64_t ReportDelivery::Add(Gripper::ReportHandler handler)
{
    std::lock_guard lock(FShared->mutex);
    const std::uint64_t id = FShared->nextId++;
    if (!handler)
        return id;
    FShared->handlers.emplace(id, std::move(handler));
    if (!FThread.joinable() && !FShared->stopping) {
        FThread = std::thread([shared = FShared] { Run(shared); });
        FShared->thread = FThread.get_id();
    }
    return id;
}

void ReportDelivery::Remove(std::uint64_t id)
{
    Gripper::ReportHandler removed;
    {
        std::lock_guard lock(FShared->mutex);
        const auto found = FShared->handlers.find(id);
        if (found == FShared->handlers.end())
            return;
        removed = std::move(found->second);
        FShared->handlers.erase(found);
    }
    if (!OnDeliveryThread())
        std::lock_guard calls(FShared->calls);
}

bool ReportDelivery::HasHandlers() const
{
    std::lock_guard lock(FShared->mutex);
    return !FShared->handlers.empty() && !FShared->stopping;
}

void ReportDelivery::Deliver(const Report& report)
{
    std::lock_guard lock(FShared->mutex);
    if (FShared->handlers.empty() || FShared->stopping)
        return;
    if (FShared->reports.size() == Capacity)
        FShared->reports.pop_front();
    FShared->reports.push_back(report);
    FShared->changed.notify_one();
}

void ReportDelivery::Stop()
{
    {
        std::lock_guard lock(FShared->mutex);
        FShared->stopping = true;
        FShared->reports.clear();
    }
    FShared->changed.notify_one();
    if (FThread.joinable() && !OnDeliveryThread())
        FThread.join();
}

bool ReportDelivery::OnDeliveryThread() const
{
    std::lock_guard lock(FShared->mutex);
    return FShared->thread == std::this_thread::get_id();
}

void ReportDelivery::Run(const std::shared_ptr<Shared>& shared)
{
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->stopping || !shared->reports.empty(); });
        if (shared->stopping)
            return;
        const Report report = shared->reports.front();
        shared->reports.pop_front();
        std::vector<Gripper::ReportHandler> handlers;
        for (const auto& [id, handler] : shared->handlers)
            handlers.push_back(handler);
        // Taken before the list is released, so that Remove either finds the
        // handler gone from this round or waits for the round to end.
        std::unique_lock calls(shared->calls);
        lock.unlock();
        for (const auto& handler : handlers) {
            try {
                handler(report);
            } catch (...) {
                // A handler's error must not end the delivery of reports.
            }
        }
        calls.unlock();
        // The copies go before the list is locked again: dropping one may
        // take other locks (a Python callable takes the GIL).
        handlers.clear();
        lock.lock();
    }
}

} // namespace krm::detail
